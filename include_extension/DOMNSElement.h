// Element geometry and visibility, and the window's screen scale.
#pragma once

#include <cstdint>

#include "xpcom/nsIDOM.h"

// A rectangle in screen pixels relative to the document's viewport.
struct dom_rect_t {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;

  bool operator==(const dom_rect_t&) const = default;
};

class CDOMNSElementImpl {
 public:
  // The element's bounding client rectangle times the window's screen pixels per CSS pixel (1.0
  // when that cannot be read), each side truncated toward zero. NS_ERROR_INVALID_POINTER, with
  // |rect| untouched, when the element has no rectangle.
  static nsresult getBoundingClientRect(nsIDOMElement* element, dom_rect_t& rect);
};

class CDOMWindowUtilsImpl {
 public:
  static nsresult getScreenPixelsPerCSSPixel(nsIDOMWindow* window, float& scale);
};

class CDOMNSHTMLElement {
 public:
  // Visible when both offset sizes are non-zero (the height is only read for a non-zero width).
  // NS_ERROR_INVALID_POINTER, |visible| untouched, when |node| is no HTML element.
  static nsresult getVisibility(nsIDOMNode* node, bool& visible);
};

class CDOMWindowUtils {
 public:
  // The window's content rectangle: the bounding rectangle of its document's root element in screen
  // pixels (see getBoundingClientRect).
  static nsresult getContentRect(nsIDOMWindow* window, dom_rect_t& rect);
};
