// An ordered list of nodes (child nodes, elements by tag name).
#pragma once

#include "xpcom/nsISupports.h"

class nsIDOMNode;

// {51DB8BCE-F9A9-4654-A024-35210CD27C68}
#define NS_IDOMNODELIST_IID \
  { 0x51db8bce, 0xf9a9, 0x4654, { 0xa0, 0x24, 0x35, 0x21, 0x0c, 0xd2, 0x7c, 0x68 } }

class nsIDOMNodeList : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMNODELIST_IID)

  NS_IMETHOD GetLength(PRUint32* length) = 0;
  NS_IMETHOD Item(PRUint32 index, nsIDOMNode** result) = 0;

 protected:
  ~nsIDOMNodeList() = default;
};
