// Enumeration and description of a page's controls.
#include "include_extension/Controls.h"

#include <algorithm>
#include <cstdio>

#include "include_extension/DOMDocumentXBL.h"
#include "include_extension/Utils.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace {

std::string u8(std::u16string_view s) { return tracecore::to_utf8(s); }

bool is_hex(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

// What IIDFromString accepts: "{" 8-4-4-4-12 hexadecimal digits "}".
bool is_braced_guid(std::u16string_view s) {
  if (s.size() != 38 || s.front() != u'{' || s.back() != u'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? s[i] != u'-' : !is_hex(s[i])) return false;
  }
  return true;
}

std::string dots_to_underscores(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '.') c = '_';
  return out;
}

void append_hex(std::string& out, std::size_t v) {
  char buf[2 * sizeof v];
  int n = 0;
  do {
    buf[n++] = "0123456789abcdef"[v & 15];
    v >>= 4;
  } while (v);
  while (n) out += buf[--n];
}

std::string hex(std::size_t v) {
  std::string out;
  append_hex(out, v);
  return out;
}

// The form name rule over the two candidates read from the form.
std::string form_name(nsresult name_rv, const std::u16string& name, nsresult id_rv, const std::u16string& id) {
  if (name_rv == NS_OK && usableFormName(name)) return u8(name);
  if (id_rv == NS_OK && usableFormName(id)) return u8(id);
  return kUnnamedFormMarker;
}

void trace_unnamed(nsIDOMNode* node) { KXTRACE("'`I04`'UNNAMED form %s", getInnerHTML(node).c_str()); }

// A frame document found by the walk: the document, whether all frame elements above it are shown.
struct frame_document_t {
  nsCOMPtr<nsIDOMDocument> document;
  bool shown = true;
};

// Whether the element that holds |frame| in its parent document has a size; a window without a
// frame element (or one that cannot be read) counts as not shown.
bool frame_element_shown(nsIDOMWindow* frame) {
  nsCOMPtr<nsIDOMElement> element;
  if (NSOK(frame->GetFrameElement(getter_AddRefs(element))) || !element) return false;
  bool visible = false;
  if (CDOMNSHTMLElement::getVisibility(element, visible) != NS_OK || !visible) return false;
  dom_rect_t r;
  if (CDOMNSElementImpl::getBoundingClientRect(element, r) != NS_OK) return false;
  return r.right > r.left && r.bottom > r.top;
}

// Appends the frame documents below |top|, depth first, with at most ffcontrols::kMaxFrames frames
// and kMaxFrameDepth levels; a failing call ends the walk of that document and keeps what was found.
// Iterative: a page's nesting never reaches the stack.
void collect_frames(nsIDOMDocument* top, std::vector<frame_document_t>& out) {
  struct level_t {
    nsCOMPtr<nsIDOMWindowCollection> frames;
    PRUint32 count = 0;
    PRUint32 next = 0;
    bool shown = true;
  };
  std::vector<level_t> stack;
  bool capped = false;
  auto enter = [&](nsIDOMDocument* document, bool shown) {
    if (static_cast<int>(stack.size()) >= ffcontrols::kMaxFrameDepth) {
      capped = true;
      return;
    }
    nsCOMPtr<nsIDOMWindow> window;
    level_t level;
    level.shown = shown;
    if (GetDocumentWindow(document, window) || NSOK(window->GetFrames(getter_AddRefs(level.frames))) ||
        NSOK(NSPTR(level.frames)) || NSOK(level.frames->GetLength(&level.count)))
      return;
    stack.push_back(std::move(level));
  };
  enter(top, true);
  while (!stack.empty()) {
    level_t& level = stack.back();
    if (level.next >= level.count) {
      stack.pop_back();
      continue;
    }
    if (out.size() >= ffcontrols::kMaxFrames) {
      capped = true;
      break;
    }
    nsCOMPtr<nsIDOMWindow> frame;
    nsCOMPtr<nsIDOMDocument> frame_document;
    if (NSOK(level.frames->Item(level.next++, getter_AddRefs(frame))) || NSOK(NSPTR(frame)) ||
        NSOK(frame->GetDocument(getter_AddRefs(frame_document)))) {
      level.next = level.count;  // this document's walk ends here
      continue;
    }
    const bool shown = level.shown && frame_element_shown(frame);
    out.push_back({frame_document, shown});
    if (frame_document) enter(frame_document, shown);
  }
  if (capped) KXTRACE("'`I04`'frames capped at %d frames, %d levels", static_cast<int>(ffcontrols::kMaxFrames),
                      ffcontrols::kMaxFrameDepth);
}

}  // namespace

// The tick count at build time, made unique: controls built in the same millisecond (every control
// of one enumeration, as a rule) would otherwise share it, and with it the accid of every field of a
// manifest trained from them. Each value is the tick count, or one more than the last value when the
// clock has not moved on.
std::int32_t next_memid() {
  static std::int32_t last = 0;
  static bool any = false;
  const std::int32_t now = kx_tick_count();
  // Signed difference: the tick count wraps.
  const std::int32_t value =
      any && static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(last)) <= 0
          ? static_cast<std::int32_t>(static_cast<std::uint32_t>(last) + 1u)
          : now;
  last = value;
  any = true;
  return value == -1 ? next_memid() : value;  // -1 means "not built"
}

bool usableFormName(std::u16string_view candidate) { return !candidate.empty() && !is_braced_guid(candidate); }

std::string composeControlName(std::string_view formname, std::string_view id, std::string_view name) {
  return dots_to_underscores(formname) + "." + dots_to_underscores(id) + "." + dots_to_underscores(name);
}

std::string encodeControlIdentity(std::uint32_t flags, const std::string& composed, const std::string& formname,
                                  const std::string& part3, const std::string& part4, ffstring_table& strings,
                                  ffstring_index* index) {
  if (flags == 0 || (composed.empty() && formname.empty() && part3.empty() && part4.empty())) return {};
  const std::string flagsText = hex(flags);
  const std::string* items[5] = {&flagsText, &composed, &formname, &part3, &part4};
  std::string out = "[sid]";
  for (int i = 0; i < 5; ++i) {
    if (i) out += '.';
    const std::string& item = *items[i];
    if (item.empty()) continue;
    std::size_t position = 0;
    if (index) {
      const auto [it, added] = index->try_emplace(item, strings.size());
      if (added) strings.push_back(item);
      position = it->second;
    } else {
      while (position < strings.size() && strings[position] != item) ++position;
      if (position == strings.size()) strings.push_back(item);
    }
    append_hex(out, position);
  }
  return out;
}

nsresult ffcontrol::build(nsIDOMDocument* document, nsIDOMNode* node, ffstring_table& strings,
                          ffstring_index* index) {
  static_cast<ffcontrol_record&>(*this) = ffcontrol_record();
  m_esName.clear();
  m_esId.clear();
  composed.clear();
  element = nullptr;
  if (!node) return NS_ERROR_INVALID_POINTER;
  element = do_QueryInterface(node);

  nsString node_name;
  nsresult rv = NSOK(node->GetNodeName(node_name));
  if (rv == NS_OK && iequals_nonempty(node_name.view(), u"textbox")) {
    nsCOMPtr<nsIDOMElement> textbox = do_QueryInterface(node);
    nsCOMPtr<nsIDOMElement> inner;
    nsString id;
    if (NSDONE(NSPTR(textbox)) && !CDOMDocumentXBL::getTextboxInput(document, textbox, inner) &&
        NSDONE(textbox->GetAttribute(nsString(ES_ATTR_ID), id))) {
      m_esId.assign(id.view());
      nsCOMPtr<nsIDOMHTMLElement> inner_html = do_QueryInterface(inner);
      if (inner_html) element = inner_html;
    }
  }

  std::string formname;
  if (nsCOMPtr<nsIDOMHTMLInputElement> input = do_QueryInterface(element)) {
    nsString input_type;
    rv = NSOK(input->GetType(input_type));
    if (rv == NS_OK) {
      const std::u16string_view t = input_type.view();
      if (iequals_nonempty(t, u"password")) type = ctl_psw;
      else if (iequals_nonempty(t, u"text") || iequals_nonempty(t, u"email")) type = ctl_edit;
      else if (iequals_nonempty(t, u"checkbox")) type = ctl_check;
      else if (iequals_nonempty(t, u"radio")) type = ctl_radio;
    }
    if (type != ctl_unknown) {
      nsCOMPtr<nsIDOMHTMLFormElement> form;
      if (NSDONE(input->GetForm(getter_AddRefs(form)))) {
        if (!form) {
          trace_unnamed(node);
        } else {
          nsString name, id;
          const nsresult name_rv = NSOK(form->GetAttribute(nsString(ES_ATTR_NAME), name));
          const nsresult id_rv = NSOK(form->GetAttribute(nsString(ES_ATTR_ID), id));
          formname = form_name(name_rv, std::u16string(name.view()), id_rv, std::u16string(id.view()));
        }
      }
      nsString name, id;
      if (NSDONE(input->GetName(name))) m_esName.assign(name.view());
      // The id of a XUL textbox read above is replaced by the inner input's id, an empty one too:
      // manifests trained on such pages carry the composed names made that way.
      if (NSDONE(input->GetId(id))) m_esId.assign(id.view());
      if (type == ctl_check || type == ctl_radio) {
        bool checked = false;
        if (NSDONE(input->GetChecked(&checked))) value = checked ? "1" : "0";
      }
    }
  } else if (nsCOMPtr<nsIDOMHTMLSelectElement> select = do_QueryInterface(element)) {
    type = ctl_listbx;
    if (m_esId.empty()) {
      nsString name, id;
      if (NSDONE(select->GetName(name))) m_esName.assign(name.view());
      if (NSDONE(select->GetId(id))) m_esId.assign(id.view());
    }
    nsCOMPtr<nsIDOMHTMLFormElement> form;
    if (NSDONE(select->GetForm(getter_AddRefs(form)))) {
      if (!form) {
        trace_unnamed(node);
      } else {
        nsString name, id;
        const nsresult name_rv = NSOK(form->GetName(name));
        const nsresult id_rv = NSOK(form->GetId(id));
        formname = form_name(name_rv, std::u16string(name.view()), id_rv, std::u16string(id.view()));
      }
    }
    bool multiple = false;
    nsCOMPtr<nsIDOMHTMLOptionsCollection> opts;
    PRUint32 count = 0;
    if (NSDONE(select->GetMultiple(&multiple)) && !multiple && NSDONE(select->GetOptions(getter_AddRefs(opts))) &&
        NSDONE(NSPTR(opts)) && NSDONE(opts->GetLength(&count)) && count > 0) {
      PRInt32 selected = -1;
      NSOK(select->GetSelectedIndex(&selected));
      for (PRUint32 i = 0; i < count; ++i) {
        nsCOMPtr<nsIDOMNode> option;
        nsCOMPtr<nsIDOMNode> first;
        nsString text;
        if (NSOK(opts->Item(i, getter_AddRefs(option))) || NSOK(NSPTR(option)) ||
            NSOK(option->GetFirstChild(getter_AddRefs(first))) || NSOK(NSPTR(first)) ||
            NSOK(first->GetNodeValue(text)))
          continue;
        std::string t = u8(text.view());
        if (static_cast<PRInt32>(i) == selected) value = t;
        options.push_back(std::move(t));
      }
    }
  }

  if (type != ctl_unknown && !isVisible()) {
    if (type != ctl_psw) type = ctl_unknown;
    KXTRACE("isVisible() failed as result of getRect()");
    KXTRACE("  An element: %s", getInnerHTML(node).c_str());
  }
  KXTRACE("'`I08`'Check '%s': %s", ffcontrol_type_name(type).c_str(), getInnerHTML(node).c_str());

  if (type != ctl_unknown) {
    if (!m_esName.empty() || !m_esId.empty()) composed = composeControlName(formname, u8(m_esId), u8(m_esName));
    name = encodeControlIdentity(composed.empty() ? 0 : 0x101, composed, formname, {}, {}, strings, index);
  }
  if (name.empty()) {
    type = ctl_unknown;
    composed.clear();
    return NS_ERROR_UNEXPECTED;
  }
  memID = next_memid();
  this->formname = formname;
  return NS_OK;
}

bool ffcontrol::isVisible() const {
  bool visible = false;
  return CDOMNSHTMLElement::getVisibility(element, visible) == NS_OK && visible;
}

dom_rect_t ffcontrol::getRect() const {
  dom_rect_t rect;
  CDOMNSElementImpl::getBoundingClientRect(element, rect);
  return rect;
}

nsresult ffcontrol::label(fflabel_cache* cache) {
  std::string text;
  const nsresult rv = label(element, type, m_esName, m_esId, text, cache);
  if (!text.empty()) dispname = text;
  return rv;
}

void ffcontrols::build(nsIDOMDocument* top) {
  list_.clear();
  strings_.clear();
  index_.clear();
  std::vector<frame_document_t> documents;
  collect_frames(top, documents);
  documents.push_back({top, true});
  bool capped = false;

  for (std::size_t d = 0; d < documents.size() && !capped; ++d) {
    nsIDOMDocument* document = documents[d].document;
    if (!document) {
      KXERROR("null document");
      continue;
    }
    const bool is_top = d + 1 == documents.size();
    std::string uri;
    if (nsCOMPtr<nsIDOMHTMLDocument> html = do_QueryInterface(document)) {
      nsString url;
      if (NSDONE(html->GetURL(url))) uri = u8(url.view());
    }
    KXTRACE("'`I06`'Building for: %s", uri.c_str());
    for (const char16_t* tag : s_aesEnumTags) {
      nsCOMPtr<nsIDOMNodeList> nodes;
      PRUint32 count = 0;
      if (NSOK(document->GetElementsByTagName(nsString(tag), getter_AddRefs(nodes))) || NSOK(NSPTR(nodes)) ||
          NSOK(nodes->GetLength(&count)))
        continue;
      list_.reserve(std::min<std::size_t>(list_.size() + count, kMaxControls));
      for (PRUint32 i = 0; i < count; ++i) {
        if (list_.size() >= kMaxControls) {
          KXTRACE("'`I04`'controls capped at %d", static_cast<int>(kMaxControls));
          capped = true;
          break;
        }
        nsCOMPtr<nsIDOMNode> node;
        if (NSOK(nodes->Item(i, getter_AddRefs(node)))) break;
        if (!node) {
          KXERROR("null element: %d", static_cast<int>(i));
          continue;
        }
        ffcontrol control;
        control.build(document, node, strings_, &index_);
        if (!control.isValid()) continue;
        if (!is_top) {
          control.parent = uri;
          control.in_frame = true;
          control.frame_shown = documents[d].shown;
        }
        list_.push_back(std::move(control));
      }
      if (capped) break;
      KXTRACE("'`I08`'Total <%s> = %d.", u8(tag).c_str(), static_cast<int>(count));
    }
  }
  KXTRACE("'`I08`'-----");
}

void ffcontrols::label() {
  fflabel_cache cache;
  for (ffcontrol& c : list_) c.label(&cache);
}

void ffcontrols::keep(const std::vector<std::size_t>& order) {
  std::vector<ffcontrol> kept;
  kept.reserve(order.size());
  for (std::size_t i : order)
    if (i < list_.size()) kept.push_back(list_[i]);
  list_ = std::move(kept);
}

std::vector<ffcontrol_record> ffcontrols::records() const {
  return std::vector<ffcontrol_record>(list_.begin(), list_.end());
}

bool ffcontrols::HasFirefoxControls(nsIDOMElement* element) {
  if (!element) {
    KXERROR("pdomelement_ is null");
    return false;
  }
  nsCOMPtr<nsIDOMDocument> document;
  if (NSOK(element->GetOwnerDocument(getter_AddRefs(document))) || NSOK(NSPTR(document))) return false;
  ffstring_table strings;
  bool ok = false;
  for (const char16_t* tag : s_aesEnumTags) {
    nsCOMPtr<nsIDOMNodeList> nodes;
    PRUint32 count = 0;
    nsresult rv = NSOK(element->GetElementsByTagName(nsString(tag), getter_AddRefs(nodes)));
    if (rv == NS_OK) rv = NSOK(NSPTR(nodes));
    if (rv == NS_OK) rv = NSOK(nodes->GetLength(&count));
    for (PRUint32 i = 0; rv == NS_OK && i < count && !ok; ++i) {
      nsCOMPtr<nsIDOMNode> node;
      rv = NSOK(nodes->Item(i, getter_AddRefs(node)));
      if (rv != NS_OK) break;
      if (!node) {
        KXERROR("null element: %d", static_cast<int>(i));
        continue;
      }
      ffcontrol control;
      control.build(document, node, strings);
      if (control.isValid()) {
        ok = true;
        KXTRACE("'`I08`'pdomnode = %s", getInnerHTML(node).c_str());
      }
    }
    KXTRACE("'`I08`'Total <%s> = %d, rv = %d", u8(tag).c_str(), static_cast<int>(count), static_cast<int>(rv));
    if (ok) break;
  }
  KXTRACE("'`I02`'ok = %d", ok ? 1 : 0);
  return ok;
}
