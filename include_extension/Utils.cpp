#include "include_extension/Utils.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace {

std::string_view unit_name(const char* path) {
  std::string_view p = path ? path : "";
  const auto slash = p.find_last_of("/\\");
  if (slash != std::string_view::npos) p.remove_prefix(slash + 1);
  const auto dot = p.rfind('.');
  if (dot != std::string_view::npos && dot > 0) p = p.substr(0, dot);
  return p;
}

// The document element of |document|, traced and checked under |name|.
bool document_element(nsIDOMDocument* document, const char* name, nsCOMPtr<nsIDOMElement>& root) {
  if (!document) {
    KXERROR("null element");
    return false;
  }
  if (nsfailed(name, document->GetDocumentElement(getter_AddRefs(root)))) return false;
  if (!root) {
    KXERROR("null element");
    return false;
  }
  return true;
}

}  // namespace

nsresult nsok(nsresult rv, const char* expression, const char* unit, int line) {
  if (rv != NS_OK && tracecore::on()) {
    const std::string_view u = unit_name(unit);
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, "NSOK(%s) = 0x%X [%d : %.*s]", expression ? expression : "",
                  static_cast<unsigned>(rv), line, static_cast<int>(u.size()), u.data());
    KXTRACE("%s", buffer);
  }
  return rv;
}

bool nsfailed(const char* name, nsresult rv) {
  if (rv == NS_OK) return false;
  KXTRACE("%s [%08x]", name, static_cast<unsigned>(rv));
  return true;
}

bool iequals_nonempty(std::u16string_view a, std::u16string_view b) {
  if (a.empty() || a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = char16_t(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = char16_t(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

std::string GetDocAttr(nsIDOMDocument* document, std::u16string_view name) {
  nsCOMPtr<nsIDOMElement> root;
  if (!document_element(document, "GetDocAttr::GetDocumentElement", root)) return {};
  const nsString attr(name);
  bool present = false;
  if (nsfailed("GetDocAttr::HasAttribute", root->HasAttribute(attr, &present)) || !present) return {};
  nsString value;
  if (nsfailed("GetDocAttr::GetAttribute", root->GetAttribute(attr, value))) return {};
  return tracecore::to_utf8(value.view());
}

bool SetDocAttr(nsIDOMDocument* document, std::u16string_view name, std::string_view value) {
  nsCOMPtr<nsIDOMElement> root;
  if (!document_element(document, "SetDocAttr::GetDocumentElement", root)) return false;
  return !nsfailed("SetDocAttr::SetAttribute",
                   root->SetAttribute(nsString(name), nsString(tracecore::to_utf16(value))));
}

bool RemoveDocAttr(nsIDOMDocument* document, std::u16string_view name) {
  nsCOMPtr<nsIDOMElement> root;
  if (!document_element(document, "RemoveDocAttr::GetDocumentElement", root)) return false;
  const nsString attr(name);
  bool present = false;
  if (nsfailed("RemoveDocAttr::HasAttribute", root->HasAttribute(attr, &present))) return false;
  if (!present) return true;
  return !nsfailed("RemoveDocAttr::RemoveAttribute", root->RemoveAttribute(attr));
}

nsresult GetNodeAttr(nsIDOMNode* node, std::u16string_view name, std::u16string& value) {
  nsCOMPtr<nsIDOMElement> element = do_QueryInterface(node);
  if (!element) return NS_ERROR_NO_INTERFACE;
  nsString v;
  const nsresult rv = NSOK(element->GetAttribute(nsString(name), v));
  if (rv == NS_OK) value.assign(v.view());
  return rv;
}

nsresult GetDocumentWindow(nsIDOMDocument* document, nsCOMPtr<nsIDOMWindow>& window) {
  nsresult rv = NSOK(NSPTR(document));
  if (rv == NS_OK) rv = NSOK(document->GetDefaultView(getter_AddRefs(window)));
  if (rv == NS_OK) rv = NSOK(NSPTR(window));
  if (rv != NS_OK) {
    KXTRACE("'`I04`'<- GetDocumentWindow rv_pwindow_ = 0x%X, ns = 0x%X",
            static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(window.get())), static_cast<unsigned>(rv));
    window = nullptr;
  }
  return rv;
}

std::string getInnerHTML(nsIDOMNode* node) {
  if (!node) return {};
  PRUint16 type = 0;
  if (NSOK(node->GetNodeType(&type))) return {};
  if (type == nsIDOMNode::TEXT_NODE) {
    nsString value;
    if (NSOK(node->GetNodeValue(value))) return {};
    return tracecore::to_utf8(value.view());
  }
  if (type != nsIDOMNode::ELEMENT_NODE) return {};
  nsCOMPtr<nsIDOMDocument> document;
  nsCOMPtr<nsIDOMNode> clone;
  nsCOMPtr<nsIDOMElement> div;
  nsCOMPtr<nsIDOMNode> appended;
  if (NSOK(node->GetOwnerDocument(getter_AddRefs(document))) || NSOK(NSPTR(document))) return {};
  if (NSOK(node->CloneNode(false, getter_AddRefs(clone))) || NSOK(NSPTR(clone))) return {};
  if (NSOK(document->CreateElement(nsString(ES_TAG_DIV), getter_AddRefs(div))) || NSOK(NSPTR(div))) return {};
  if (NSOK(div->AppendChild(clone, getter_AddRefs(appended)))) return {};
  nsCOMPtr<nsIDOMHTMLElement> hdiv = do_QueryInterface(div);
  nsString html;
  if (NSOK(NSPTR(hdiv)) || NSOK(hdiv->GetInnerHTML(html))) return {};
  return tracecore::to_utf8(html.view());
}

std::int32_t kx_tick_count() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch()).count();
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}
