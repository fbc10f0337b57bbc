#include "include_extension/FillGuard.h"

#include "include_extension/DOMNSElement.h"
#include "include_extension/Utils.h"
#include "manifest/Escape.h"
#include "manifest/Matching.h"
#include "manifest/PublicSuffix.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace fillguard {
namespace {

bool same_object(nsISupports* a, nsISupports* b) {
  nsCOMPtr<nsISupports> x = do_QueryInterface(a);
  nsCOMPtr<nsISupports> y = do_QueryInterface(b);
  return x && x.get() == y.get();
}

// The text of the form's URL when it has one the URL check would read.
std::u16string form_url(const ManifestForm& form) {
  const manifest::ManifestUrl parsed = manifest::parseManifestUrl(tracecore::to_utf16(form.detection.web_murl));
  return parsed.status == 0 ? std::u16string() : parsed.text;
}

// The top-left corner of a document's root element, in the coordinates of its controls.
bool document_origin(nsIDOMDocument* document, dom_rect_t& origin) {
  nsCOMPtr<nsIDOMElement> root;
  if (!document || document->GetDocumentElement(getter_AddRefs(root)) != NS_OK || !root) return false;
  return CDOMNSElementImpl::getBoundingClientRect(root, origin) == NS_OK;
}

// The origins of the documents the controls of one page belong to, each read once.
class document_origins_t {
 public:
  // False when the element's document or its origin cannot be read.
  bool of(nsIDOMHTMLElement* element, dom_rect_t& origin) {
    nsCOMPtr<nsIDOMDocument> document;
    if (!element || element->GetOwnerDocument(getter_AddRefs(document)) != NS_OK || !document) return false;
    nsCOMPtr<nsISupports> identity = do_QueryInterface(document);
    for (const entry_t& e : entries_)
      if (e.document == identity) {
        origin = e.origin;
        return e.known;
      }
    entry_t e{identity, {}, false};
    e.known = document_origin(document, e.origin);
    entries_.push_back(e);
    origin = e.origin;
    return e.known;
  }

 private:
  struct entry_t {
    nsCOMPtr<nsISupports> document;
    dom_rect_t origin;
    bool known;
  };
  std::vector<entry_t> entries_;  // a page has a handful of documents
};

// The sites of the frame documents of one page, each worked out once: a frame's controls share its URL.
class frame_sites_t {
 public:
  const std::string& of(const std::string& url) {
    for (const auto& [known, site] : entries_)
      if (known == url) return site;
    entries_.emplace_back(url, manifest::siteOfUrl(tracecore::to_utf16(url)));
    return entries_.back().second;
  }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;  // a page has a handful of frames
};

refusal_t control_refusal(const ffcontrol& c, const std::string& site, document_origins_t& origins,
                          frame_sites_t& frame_sites) {
  if (c.in_frame) {
    if (site.empty() || frame_sites.of(c.parent) != site) return refusal_t::foreign_frame;
    if (!c.frame_shown) return refusal_t::hidden_frame;
  }
  if (!c.isVisible()) return refusal_t::hidden;
  const dom_rect_t r = c.getRect();
  if (r.right <= r.left || r.bottom <= r.top) return refusal_t::hidden;
  // A decoy pushed off to the left or above; anything right of or below the view can be scrolled to.
  dom_rect_t origin;
  if (origins.of(c.element, origin) && (r.right <= origin.left || r.bottom <= origin.top))
    return refusal_t::outside_document;
  return refusal_t::none;
}

void trace_refusal(refusal_t reason) { KXTRACE("'`I04`'fill refused: %s", refusal_name(reason)); }

// One fill at a time (UI thread only).
bool g_filling = false;

class fill_scope_t {
 public:
  fill_scope_t() : entered_(!g_filling) { g_filling = true; }
  ~fill_scope_t() {
    if (entered_) g_filling = false;
  }
  bool entered() const { return entered_; }

 private:
  bool entered_;
};

void report(const ffcontrols& controls, const std::vector<std::pair<std::size_t, refusal_t>>& refused,
            const ManifestForm* form, fill_result_t& result) {
  const std::vector<std::string> names = form ? manifest::splitNames(form->detection.names) : std::vector<std::string>();
  for (const auto& [index, reason] : refused) {
    const ffcontrol& c = controls.list()[index];
    bool concerned = false;
    if (form) {
      for (const ManifestField& f : form->fields)
        if (!ffcontrols::skipField(f) && manifest::controlMatchesField(c, controls.strings(), f, names)) concerned = true;
    } else {
      concerned = c.type == ctl_psw;
    }
    if (!concerned) continue;
    KXTRACE("'`I04`'control left out (%s): %s %s", refusal_name(reason), c.composed.c_str(), c.parent.c_str());
    result.controls.push_back({c.composed, c.parent, reason});
  }
}

}  // namespace

const char* refusal_name(refusal_t reason) {
  switch (reason) {
    case refusal_t::none: return "none";
    case refusal_t::no_document: return "no document";
    case refusal_t::other_document: return "not the document of the request";
    case refusal_t::url_mismatch: return "the URL does not match the form";
    case refusal_t::insecure_page: return "an https form on a page that is not https";
    case refusal_t::no_target: return "no visible control to fill";
    case refusal_t::hidden: return "hidden";
    case refusal_t::outside_document: return "outside the document";
    case refusal_t::foreign_frame: return "frame of another site";
    case refusal_t::hidden_frame: return "hidden frame";
    case refusal_t::password_count: return "not two or three visible password fields";
    case refusal_t::fill_running: return "another fill is running";
    case refusal_t::bad_answer: return "the answer's manifest does not read";
  }
  return "?";
}

refusal_t check_document(const fill_target_t& target, const ManifestForm* form) {
  if (!target.document) return refusal_t::no_document;
  if (target.requested_document && !same_object(target.document, target.requested_document))
    return refusal_t::other_document;
  const std::string scheme = manifest::schemeOfUrl(std::u16string_view(target.url));
  if (!target.requested_url.empty()) {
    if (!manifest::sameSite(target.url, target.requested_url)) return refusal_t::url_mismatch;
    if (manifest::schemeOfUrl(std::u16string_view(target.requested_url)) == "https" && scheme != "https")
      return refusal_t::insecure_page;
  }
  if (!form) return refusal_t::none;
  const std::u16string murl = form_url(*form);
  if (manifest::schemeOfUrl(std::u16string_view(murl)) == "https" && scheme != "https") return refusal_t::insecure_page;
  if (form->detection.web_checkurl && !murl.empty()) {
    const std::int32_t kind = manifest::checkFormUrl(*form, target.url);
    if (kind != manifest::url_nocheck && !(kind >= manifest::url_exact && kind <= manifest::url_d))
      return refusal_t::url_mismatch;
  }
  return refusal_t::none;
}

std::string target_site(const ManifestForm* form, const std::u16string& page_url) {
  if (form) {
    const std::u16string murl = form_url(*form);
    // A pattern ("[m0]:" with a host wildcard) names no single host: the page's site stands.
    if (!murl.empty() && murl.find(u'*') == std::u16string::npos) {
      const std::string site = manifest::siteOfUrl(murl);
      if (!site.empty()) return site;
    }
  }
  return manifest::siteOfUrl(page_url);
}

std::vector<std::size_t> fill_order(const ffcontrols& controls, const std::string& site,
                                    std::vector<std::pair<std::size_t, refusal_t>>* refused) {
  std::vector<std::size_t> top, frames;
  const std::vector<ffcontrol>& list = controls.list();
  document_origins_t origins;
  frame_sites_t frame_sites;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const refusal_t why = control_refusal(list[i], site, origins, frame_sites);
    if (why != refusal_t::none) {
      if (refused) refused->emplace_back(i, why);
      continue;
    }
    (list[i].in_frame ? frames : top).push_back(i);
  }
  top.insert(top.end(), frames.begin(), frames.end());
  return top;
}

bool fill_running() { return g_filling; }

namespace {

// The page checks every fill starts with; false (with |result| refused and traced) when the fill
// must not go on.
bool may_fill(const fill_scope_t& scope, const fill_target_t& target, const ManifestForm* form, fill_result_t& result) {
  result.refused = scope.entered() ? check_document(target, form) : refusal_t::fill_running;
  if (result.refused == refusal_t::none) return true;
  trace_refusal(result.refused);
  return false;
}

}  // namespace

fill_result_t fill(const fill_target_t& target, const ManifestForm* form, const fffilldata& data) {
  KXSCOPE("fillguard::fill");
  fill_result_t result;
  const fill_scope_t scope;
  if (!may_fill(scope, target, form, result)) return result;
  ffcontrols controls;
  controls.build(target.document);
  std::vector<std::pair<std::size_t, refusal_t>> refused;
  const std::vector<std::size_t> order = fill_order(controls, target_site(form, target.url), &refused);
  report(controls, refused, form, result);
  if (order.empty()) {
    result.refused = refusal_t::no_target;
    trace_refusal(result.refused);
    return result;
  }
  controls.keep(order);
  result.rv = controls.send(form, data);
  return result;
}

fill_result_t change_password(const fill_target_t& target, const fffilldata& data) {
  KXSCOPE("fillguard::change_password");
  fill_result_t result;
  const fill_scope_t scope;
  if (!may_fill(scope, target, nullptr, result)) return result;
  ffcontrols controls;
  controls.build(target.document);
  std::vector<std::pair<std::size_t, refusal_t>> refused;
  std::vector<std::size_t> passwords;
  for (std::size_t i : fill_order(controls, manifest::siteOfUrl(target.url), &refused)) {
    const ffcontrol& c = controls.list()[i];
    if (c.type != ctl_psw) continue;
    if (c.in_frame) refused.emplace_back(i, refusal_t::foreign_frame);  // not the guarded document
    else passwords.push_back(i);
  }
  report(controls, refused, nullptr, result);
  if (passwords.size() < 2 || passwords.size() > 3) {
    result.refused = refusal_t::password_count;
    trace_refusal(result.refused);
    return result;
  }
  controls.keep(passwords);
  result.rv = controls.changePassword(data);
  return result;
}

}  // namespace fillguard
