// Utilities of a window, reached through its nsIInterfaceRequestor.
#pragma once

#include "xpcom/nsISupports.h"

// {7CD26372-D2E2-463A-BCE3-3F02D4B23FA8}
#define NS_IDOMWINDOWUTILS_IID \
  { 0x7cd26372, 0xd2e2, 0x463a, { 0xbc, 0xe3, 0x3f, 0x02, 0xd4, 0xb2, 0x3f, 0xa8 } }

class nsIDOMWindowUtils : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMWINDOWUTILS_IID)

  NS_IMETHOD GetScreenPixelsPerCSSPixel(float* result) = 0;

 protected:
  ~nsIDOMWindowUtils() = default;
};
