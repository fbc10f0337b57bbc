// The snapshot DOM's objects besides its nodes: node lists and option collections, client
// rectangles, windows with their frames and utilities, and events.
#include "peers/dom/SnapshotMethods.h"

namespace snapdom {

NS_IMETHODIMP node_list_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid == object_iid()) { *result = static_cast<object_t*>(this); return NS_OK; }
  if (iid == NS_GET_IID(nsISupports) || iid == NS_GET_IID(nsIDOMNodeList)) *result = static_cast<nsIDOMNodeList*>(this);
  else if (mode_ == mode::options && iid == NS_GET_IID(nsIDOMHTMLOptionsCollection))
    *result = static_cast<nsIDOMHTMLOptionsCollection*>(this);
  if (!*result) return NS_ERROR_NO_INTERFACE;
  add_ref();
  return NS_OK;
}

const std::vector<node_t*>& node_list_t::items() {
  if (generation_ != page_->generation()) {
    switch (mode_) {
      case mode::children: cache_ = owner_->children; break;
      case mode::by_tag: cache_ = owner_->descendants_by_tag(tag_); break;
      case mode::options: cache_ = owner_->options(); break;
    }
    generation_ = page_->generation();
  }
  return cache_;
}

NS_IMETHODIMP node_list_t::GetLength(PRUint32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK(iface(), "GetLength");
  *out = static_cast<PRUint32>(items().size());
  return NS_OK;
}

NS_IMETHODIMP node_list_t::Item(PRUint32 index, nsIDOMNode** out) {
  SNAPDOM_HOOK_PTR(iface(), "Item", out);
  const auto& v = items();
  return hand_out(index < v.size() ? v[index]->as_node() : nullptr, out);
}

NS_IMETHODIMP client_rect_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid == object_iid()) { *result = static_cast<object_t*>(this); return NS_OK; }
  if (iid != NS_GET_IID(nsISupports) && iid != NS_GET_IID(nsIDOMClientRect)) return NS_ERROR_NO_INTERFACE;
  *result = static_cast<nsIDOMClientRect*>(this);
  add_ref();
  return NS_OK;
}

nsresult client_rect_t::read(const char* method, float value, float* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMClientRect", method);
  *out = value;
  return NS_OK;
}

NS_IMETHODIMP client_rect_t::GetLeft(float* v) { return read("GetLeft", element_->rect[0], v); }
NS_IMETHODIMP client_rect_t::GetTop(float* v) { return read("GetTop", element_->rect[1], v); }
NS_IMETHODIMP client_rect_t::GetRight(float* v) { return read("GetRight", element_->rect[2], v); }
NS_IMETHODIMP client_rect_t::GetBottom(float* v) { return read("GetBottom", element_->rect[3], v); }
NS_IMETHODIMP client_rect_t::GetWidth(float* v) { return read("GetWidth", element_->rect[2] - element_->rect[0], v); }
NS_IMETHODIMP client_rect_t::GetHeight(float* v) { return read("GetHeight", element_->rect[3] - element_->rect[1], v); }

NS_IMETHODIMP window_utils_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid != NS_GET_IID(nsISupports) && iid != NS_GET_IID(nsIDOMWindowUtils)) return NS_ERROR_NO_INTERFACE;
  *result = static_cast<nsIDOMWindowUtils*>(this);
  add_ref();
  return NS_OK;
}

NS_IMETHODIMP window_utils_t::GetScreenPixelsPerCSSPixel(float* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMWindowUtils", "GetScreenPixelsPerCSSPixel");
  *out = page_->scale();
  return NS_OK;
}

NS_IMETHODIMP window_collection_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid != NS_GET_IID(nsISupports) && iid != NS_GET_IID(nsIDOMWindowCollection)) return NS_ERROR_NO_INTERFACE;
  *result = static_cast<nsIDOMWindowCollection*>(this);
  add_ref();
  return NS_OK;
}

NS_IMETHODIMP window_collection_t::GetLength(PRUint32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMWindowCollection", "GetLength");
  *out = static_cast<PRUint32>(owner_->frames.size());
  return NS_OK;
}

NS_IMETHODIMP window_collection_t::Item(PRUint32 index, nsIDOMWindow** out) {
  SNAPDOM_HOOK_PTR("nsIDOMWindowCollection", "Item", out);
  return hand_out<nsIDOMWindow>(index < owner_->frames.size() ? owner_->frames[index] : nullptr, out);
}

NS_IMETHODIMP window_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid == object_iid()) { *result = static_cast<object_t*>(this); return NS_OK; }
  if (iid == NS_GET_IID(nsISupports) || iid == NS_GET_IID(nsIDOMWindow)) *result = static_cast<nsIDOMWindow*>(this);
  else if (iid == NS_GET_IID(nsIInterfaceRequestor)) *result = static_cast<nsIInterfaceRequestor*>(this);
  if (!*result) return NS_ERROR_NO_INTERFACE;
  add_ref();
  return NS_OK;
}

NS_IMETHODIMP window_t::GetDocument(nsIDOMDocument** out) {
  SNAPDOM_HOOK_PTR("nsIDOMWindow", "GetDocument", out);
  if (cross_origin) return kDomSecurityErr;
  return hand_out(document ? document->as_document() : nullptr, out);
}

NS_IMETHODIMP window_t::GetFrames(nsIDOMWindowCollection** out) {
  SNAPDOM_HOOK_PTR("nsIDOMWindow", "GetFrames", out);
  if (!frames_object_) frames_object_ = page_->make<window_collection_t>(this);
  return hand_out<nsIDOMWindowCollection>(frames_object_, out);
}

NS_IMETHODIMP window_t::GetFrameElement(nsIDOMElement** out) {
  SNAPDOM_HOOK_PTR("nsIDOMWindow", "GetFrameElement", out);
  return hand_out(frame_element ? frame_element->as_element() : nullptr, out);
}

NS_IMETHODIMP window_t::GetInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  SNAPDOM_HOOK("nsIInterfaceRequestor", "GetInterface");
  if (iid == NS_GET_IID(nsIDOMWindowUtils)) {
    if (!page_->window_utils_available()) return NS_ERROR_NO_INTERFACE;
    if (!utils_) utils_ = page_->make<window_utils_t>();
    return utils_->QueryInterface(iid, result);
  }
  return QueryInterface(iid, result);
}

NS_IMETHODIMP event_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid == object_iid()) { *result = static_cast<object_t*>(this); return NS_OK; }
  if (iid == NS_GET_IID(nsISupports) || iid == NS_GET_IID(nsIDOMEvent) || iid == NS_GET_IID(nsIDOMKeyEvent))
    *result = static_cast<nsIDOMKeyEvent*>(this);
  if (!*result) return NS_ERROR_NO_INTERFACE;
  add_ref();
  return NS_OK;
}

NS_IMETHODIMP event_t::GetType(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMEvent", "GetType");
  return assign(out, type);
}

NS_IMETHODIMP event_t::InitEvent(const nsAString& eventType, bool, bool) {
  SNAPDOM_HOOK("nsIDOMEvent", "InitEvent");
  type = view(eventType);
  initialized = true;
  return NS_OK;
}

NS_IMETHODIMP event_t::InitKeyEvent(const nsAString& t, bool, bool, nsIDOMWindow*, bool, bool, bool, bool,
                                    PRUint32 keyCode, PRUint32 charCode) {
  SNAPDOM_HOOK("nsIDOMKeyEvent", "InitKeyEvent");
  type = view(t);
  key_code = keyCode;
  char_code = charCode;
  initialized = true;
  return NS_OK;
}

NS_IMETHODIMP event_t::GetKeyCode(PRUint32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMKeyEvent", "GetKeyCode");
  *out = key_code;
  return NS_OK;
}

NS_IMETHODIMP event_t::GetCharCode(PRUint32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMKeyEvent", "GetCharCode");
  *out = char_code;
  return NS_OK;
}

}  // namespace snapdom
