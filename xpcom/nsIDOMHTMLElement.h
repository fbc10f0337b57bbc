// An HTML element: id, layout size, markup, focus and click.
#pragma once

#include "xpcom/nsIDOMElement.h"

// {9A677A5B-E6F7-4E2E-9EF9-22C2AC9967B3}
#define NS_IDOMHTMLELEMENT_IID \
  { 0x9a677a5b, 0xe6f7, 0x4e2e, { 0x9e, 0xf9, 0x22, 0xc2, 0xac, 0x99, 0x67, 0xb3 } }

class nsIDOMHTMLElement : public nsIDOMElement {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMHTMLELEMENT_IID)

  NS_IMETHOD GetId(nsAString& id) = 0;
  NS_IMETHOD GetOffsetWidth(PRInt32* width) = 0;
  NS_IMETHOD GetOffsetHeight(PRInt32* height) = 0;
  NS_IMETHOD GetInnerHTML(nsAString& html) = 0;
  NS_IMETHOD Focus() = 0;
  NS_IMETHOD Click() = 0;

 protected:
  ~nsIDOMHTMLElement() = default;
};
