// The option elements of a select list, in document order.
#pragma once

#include "xpcom/nsISupports.h"

class nsIDOMNode;

// {C438BB02-DBB8-4DF0-AE11-36C4502E1F83}
#define NS_IDOMHTMLOPTIONSCOLLECTION_IID \
  { 0xc438bb02, 0xdbb8, 0x4df0, { 0xae, 0x11, 0x36, 0xc4, 0x50, 0x2e, 0x1f, 0x83 } }

class nsIDOMHTMLOptionsCollection : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMHTMLOPTIONSCOLLECTION_IID)

  NS_IMETHOD GetLength(PRUint32* length) = 0;
  NS_IMETHOD Item(PRUint32 index, nsIDOMNode** result) = 0;

 protected:
  ~nsIDOMHTMLOptionsCollection() = default;
};
