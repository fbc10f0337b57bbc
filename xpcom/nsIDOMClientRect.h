// A rectangle in CSS pixels relative to the viewport of the element's document.
#pragma once

#include "xpcom/nsISupports.h"

// {89577A88-0CB7-4664-B1EB-AC36EB34034E}
#define NS_IDOMCLIENTRECT_IID \
  { 0x89577a88, 0x0cb7, 0x4664, { 0xb1, 0xeb, 0xac, 0x36, 0xeb, 0x34, 0x03, 0x4e } }

class nsIDOMClientRect : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMCLIENTRECT_IID)

  NS_IMETHOD GetLeft(float* left) = 0;
  NS_IMETHOD GetTop(float* top) = 0;
  NS_IMETHOD GetRight(float* right) = 0;
  NS_IMETHOD GetBottom(float* bottom) = 0;
  NS_IMETHOD GetWidth(float* width) = 0;
  NS_IMETHOD GetHeight(float* height) = 0;

 protected:
  ~nsIDOMClientRect() = default;
};
