#include "include_extension/DOMNSElement.h"

#include <cmath>
#include <limits>

#include "include_extension/Utils.h"
#include "tracecore/trace.h"

namespace {

// Truncation toward zero; values outside the 32-bit range (or NaN, from a broken layout) are
// clamped instead of overflowing the conversion.
std::int32_t truncate_to_int32(float v) {
  if (std::isnan(v)) return 0;
  const double t = std::trunc(static_cast<double>(v));
  if (t >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) return std::numeric_limits<std::int32_t>::max();
  if (t <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(t);
}

}  // namespace

nsresult CDOMNSElementImpl::getBoundingClientRect(nsIDOMElement* element, dom_rect_t& rect) {
  nsCOMPtr<nsIDOMClientRect> client;
  if (NSOK(NSPTR(element)) || NSOK(element->GetBoundingClientRect(getter_AddRefs(client))) ||
      NSOK(NSPTR(client)))
    return NS_ERROR_INVALID_POINTER;
  float left = 0.0f, top = 0.0f, right = 0.0f, bottom = 0.0f;
  NSOK(client->GetLeft(&left));
  NSOK(client->GetTop(&top));
  NSOK(client->GetRight(&right));
  NSOK(client->GetBottom(&bottom));

  float scale = 1.0f;
  nsCOMPtr<nsIDOMDocument> document;
  nsCOMPtr<nsIDOMWindow> window;
  float read = 1.0f;
  if (NSDONE(element->GetOwnerDocument(getter_AddRefs(document))) && NSDONE(NSPTR(document)) &&
      !GetDocumentWindow(document, window) &&
      NSDONE(CDOMWindowUtilsImpl::getScreenPixelsPerCSSPixel(window, read)))
    scale = read;

  rect.left = truncate_to_int32(left * scale);
  rect.top = truncate_to_int32(top * scale);
  rect.right = truncate_to_int32(right * scale);
  rect.bottom = truncate_to_int32(bottom * scale);
  KXTRACE("(%d, %d)-(%d, %d)", rect.left, rect.top, rect.right, rect.bottom);
  return NS_OK;
}

nsresult CDOMWindowUtilsImpl::getScreenPixelsPerCSSPixel(nsIDOMWindow* window, float& scale) {
  KXSCOPE("CDOMWindowUtilsImpl::getScreenPixelsPerCSSPixel");
  nsCOMPtr<nsIInterfaceRequestor> requestor = do_QueryInterface(window);
  if (!requestor) return NS_ERROR_INVALID_POINTER;
  nsCOMPtr<nsIDOMWindowUtils> utils = do_GetInterface(requestor);
  if (!utils) return NS_ERROR_INVALID_POINTER;
  float value = 1.0f;
  const nsresult rv = NSOK(utils->GetScreenPixelsPerCSSPixel(&value));
  if (rv == NS_OK) scale = value;
  KXTRACE("%f", static_cast<double>(value));
  return rv;
}

nsresult CDOMNSHTMLElement::getVisibility(nsIDOMNode* node, bool& visible) {
  KXSCOPE("abs_element::getVisibility");
  nsCOMPtr<nsIDOMHTMLElement> element = do_QueryInterface(node);
  if (!element) return NS_ERROR_INVALID_POINTER;
  PRInt32 width = 0, height = 0;
  nsresult rv = element->GetOffsetWidth(&width);
  if (rv != NS_OK) {
    width = 0;
    KXTRACE("getwidth = %d, ns = %08X", width, static_cast<unsigned>(rv));
  }
  if (width != 0) {
    rv = element->GetOffsetHeight(&height);
    if (rv != NS_OK) {
      height = 0;
      KXTRACE("getheight = %d, ns = %08X", height, static_cast<unsigned>(rv));
    }
  }
  visible = width != 0 && height != 0;
  if (!visible) KXTRACE("'`I02`'rb_ = %d, rv = %d, %s", visible ? 1 : 0, static_cast<int>(rv), getInnerHTML(node).c_str());
  return rv;
}

nsresult CDOMWindowUtils::getContentRect(nsIDOMWindow* window, dom_rect_t& rect) {
  nsCOMPtr<nsIDOMDocument> document;
  nsCOMPtr<nsIDOMElement> root;
  nsresult rv = NSOK(NSPTR(window));
  if (rv == NS_OK) rv = NSOK(window->GetDocument(getter_AddRefs(document)));
  if (rv == NS_OK) rv = NSOK(NSPTR(document));
  if (rv == NS_OK) rv = NSOK(document->GetDocumentElement(getter_AddRefs(root)));
  if (rv == NS_OK) rv = NSOK(NSPTR(root));
  if (rv == NS_OK) rv = CDOMNSElementImpl::getBoundingClientRect(root, rect);
  return rv;
}
