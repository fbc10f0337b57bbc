// Label detection: the text a page shows for a control, from label elements that point at it or
// from the text around it in the document tree.
#include <string>

#include "include_extension/Controls.h"
#include "include_extension/Utils.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace {

enum label_status { ls_undefined = 0, ls_stop = 1, ls_handle = 2, ls_donthandle = 3 };

const char* status_name(label_status s) {
  switch (s) {
    case ls_stop: return "stop";
    case ls_handle: return "handle";
    case ls_donthandle: return "donthandle";
    case ls_undefined: break;
  }
  return "undefined";
}

bool in_trim_set(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\v' || c == u'\n' || c == u'&' || c == u'*' || c == 0xA0;
}

std::u16string_view trim(std::u16string_view s) {
  while (!s.empty() && in_trim_set(s.front())) s.remove_prefix(1);
  while (!s.empty() && in_trim_set(s.back())) s.remove_suffix(1);
  return s;
}

bool same_node(nsIDOMNode* a, nsIDOMNode* b) {
  nsCOMPtr<nsISupports> x = do_QueryInterface(a);
  nsCOMPtr<nsISupports> y = do_QueryInterface(b);
  return x && x.get() == y.get();
}

class label_search_t {
 public:
  explicit label_search_t(bool backwards) : backwards_(backwards) {}

  // Collects text below |parent|: all of it when |start| is null, else the text on the walking side of
  // |start|, then climbs to the parent and goes on with |parent|'s siblings.
  void findlabel(nsIDOMNode* parent, nsIDOMNode* start, std::string& text, bool& stop, int depth) {
    if (stop || !parent) return;
    const std::string indent(static_cast<std::size_t>(depth) * 3, ' ');
    if (tracecore::category_on(tracecore::cat_label_detection)) KXTRACE("%s findlabel", indent.c_str());

    nsCOMPtr<nsIDOMNodeList> children;
    PRUint32 count = 0;
    if (!NSOK(parent->GetChildNodes(getter_AddRefs(children))) && !NSOK(NSPTR(children)) &&
        !NSOK(children->GetLength(&count)) && count > 0) {
      bool found = start == nullptr;
      label_status last = ls_undefined;
      for (PRUint32 k = 0; k < count && last != ls_stop && !stop; ++k) {
        const PRUint32 i = backwards_ ? count - 1 - k : k;
        nsCOMPtr<nsIDOMNode> child;
        if (NSOK(children->Item(i, getter_AddRefs(child))) || NSOK(NSPTR(child))) break;
        PRUint16 type = 0;
        if (NSOK(child->GetNodeType(&type))) continue;
        if (type == nsIDOMNode::ELEMENT_NODE) {
          if (!found) {
            found = same_node(child, start);
            continue;
          }
          last = status(child, text, stop);
          if (last == ls_handle) findlabel(child, nullptr, text, stop, depth + 1);
        } else if (type == nsIDOMNode::TEXT_NODE && found) {
          nsString value;
          if (NSOK(child->GetNodeValue(value))) continue;
          const std::string piece = tracecore::to_utf8(trim(value.view()));
          if (piece.empty()) continue;
          if (text.empty()) text = piece;
          else if (backwards_) text = piece + " " + text;
          else text = text + " " + piece;
        }
      }
    }

    if (stop || !start) return;
    nsCOMPtr<nsIDOMNode> grandparent;
    if (NSOK(parent->GetParentNode(getter_AddRefs(grandparent))) || !grandparent) return;
    if (status(parent, text, stop) == ls_handle) findlabel(grandparent, parent, text, stop, depth + 1);
  }

 private:
  static label_status status(nsIDOMNode* node, const std::string& text, bool& stop) {
    PRUint16 type = 0;
    if (NSOK(node->GetNodeType(&type)) || type != nsIDOMNode::ELEMENT_NODE) return ls_handle;
    nsString tag;
    NSOK(node->GetNodeName(tag));
    const std::u16string_view t = tag.view();
    label_status s = ls_handle;
    if (iequals_nonempty(t, u"input")) {
      nsCOMPtr<nsIDOMHTMLInputElement> input = do_QueryInterface(node);
      nsString input_type;
      const bool hidden = input && !NSOK(input->GetType(input_type)) && iequals_nonempty(input_type.view(), u"hidden");
      s = hidden ? ls_handle : ls_stop;
    } else if (iequals_nonempty(t, u"form") || iequals_nonempty(t, u"select")) {
      s = ls_stop;
    } else if (iequals_nonempty(t, u"div") || iequals_nonempty(t, u"td") || iequals_nonempty(t, u"tr")) {
      s = text.empty() ? ls_handle : ls_stop;
    } else if (iequals_nonempty(t, u"script") || iequals_nonempty(t, u"noscript")) {
      s = ls_donthandle;
    }
    if (s == ls_stop) stop = true;
    if (s == ls_stop || s == ls_donthandle)
      KXTRACE("LabelStatus = %s, StopFindLabel = %d, Node = %s", status_name(s), stop ? 1 : 0,
              getInnerHTML(node).c_str());
    return s;
  }

  bool backwards_;
};

// The label elements of |document| with their attributes, read when |cache| holds another document.
void read_labels(nsIDOMDocument* document, fflabel_cache& cache) {
  nsCOMPtr<nsISupports> identity = do_QueryInterface(document);
  if (cache.document && cache.document == identity) return;
  cache = fflabel_cache();
  cache.document = identity;
  nsCOMPtr<nsIDOMNodeList> labels;
  PRUint32 count = 0;
  cache.rv = NSOK(document->GetElementsByTagName(nsString(ES_TAG_LABEL), getter_AddRefs(labels)));
  if (cache.rv == NS_OK) cache.rv = NSOK(NSPTR(labels));
  if (cache.rv == NS_OK) cache.rv = NSOK(labels->GetLength(&count));
  if (cache.rv != NS_OK) return;
  const nsString forName(ES_ATTR_FOR), controlName(ES_ATTR_CONTROL);
  nsString value;
  cache.labels.reserve(count);
  for (PRUint32 i = 0; i < count; ++i) {
    fflabel_cache::entry_t entry;
    if (NSOK(labels->Item(i, getter_AddRefs(entry.node))) || NSOK(NSPTR(entry.node))) break;
    nsCOMPtr<nsIDOMElement> label = do_QueryInterface(entry.node);
    entry.forRv = label ? NSOK(label->GetAttribute(forName, value)) : NS_ERROR_NO_INTERFACE;
    if (entry.forRv == NS_OK) entry.forAttr = value.view();
    if (entry.forRv == NS_OK && entry.forAttr.empty()) {
      entry.controlRv = NSOK(label->GetAttribute(controlName, value));
      if (entry.controlRv == NS_OK) entry.controlAttr = value.view();
    }
    cache.labels.push_back(std::move(entry));
  }
}

bool has_label_elements(std::int32_t type) {
  return type == ctl_edit || type == ctl_psw || type == ctl_check || type == ctl_listbx;
}

}  // namespace

nsresult ffcontrol::label(nsIDOMHTMLElement* element, std::int32_t type, const std::u16string& esName,
                          const std::u16string& esId, std::string& text, fflabel_cache* cache) {
  KXTRACE("'`I06`'For <%s>, From: %s", ffcontrol_type_name(type).c_str(), getInnerHTML(element).c_str());
  if (!element) return NS_ERROR_INVALID_POINTER;
  text.clear();
  const bool backwards = type != ctl_check;

  nsCOMPtr<nsIDOMDocument> document;
  nsresult rv = NSOK(element->GetOwnerDocument(getter_AddRefs(document)));
  if (rv == NS_OK) rv = NSOK(NSPTR(document));

  if (rv == NS_OK && has_label_elements(type)) {
    fflabel_cache local;
    fflabel_cache& labels = cache ? *cache : local;
    read_labels(document, labels);
    rv = labels.rv;
    if (esName.empty() && esId.empty()) {
      KXTRACE("m_esName and m_esId are empty");
      return NS_ERROR_FAILURE;
    }
    auto names_it = [&](std::u16string_view v) { return iequals_nonempty(v, esName) || iequals_nonempty(v, esId); };
    for (const fflabel_cache::entry_t& label : labels.labels) {
      if (!text.empty()) break;
      if (label.forRv != NS_OK) continue;
      if (!label.forAttr.empty()) {
        if (names_it(label.forAttr)) {
          bool stop = false;
          label_search_t(backwards).findlabel(label.node, nullptr, text, stop, 0);
        }
        continue;
      }
      if (label.controlRv != NS_OK || label.controlAttr.empty() || !names_it(label.controlAttr)) continue;
      nsCOMPtr<nsIDOMElement> element = do_QueryInterface(label.node);
      nsString value;
      if (element && !NSOK(element->GetAttribute(nsString(u"value"), value))) text = tracecore::to_utf8(value.view());
    }
  }

  if (text.empty()) {
    nsCOMPtr<nsIDOMNode> parent;
    rv = NSOK(element->GetParentNode(getter_AddRefs(parent)));
    if (rv == NS_OK && parent) {
      bool stop = false;
      label_search_t(backwards).findlabel(parent, element, text, stop, 0);
    }
  }
  KXTRACE("'`I08`'Done with label = '%s', ns = 0x%X", text.c_str(), static_cast<unsigned>(rv));
  return rv;
}
