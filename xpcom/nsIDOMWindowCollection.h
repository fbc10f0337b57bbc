// The frames of a window: the windows of its frame and iframe elements, in document order.
#pragma once

#include "xpcom/nsISupports.h"

class nsIDOMWindow;

// {E55BE8A1-2945-43E5-A5C0-A0563D39D354}
#define NS_IDOMWINDOWCOLLECTION_IID \
  { 0xe55be8a1, 0x2945, 0x43e5, { 0xa5, 0xc0, 0xa0, 0x56, 0x3d, 0x39, 0xd3, 0x54 } }

class nsIDOMWindowCollection : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMWINDOWCOLLECTION_IID)

  NS_IMETHOD GetLength(PRUint32* length) = 0;
  NS_IMETHOD Item(PRUint32 index, nsIDOMWindow** result) = 0;

 protected:
  ~nsIDOMWindowCollection() = default;
};
