// A form element.
#pragma once

#include "xpcom/nsIDOMHTMLElement.h"

// {B811AD56-27F2-4006-88A1-AC9A38030F33}
#define NS_IDOMHTMLFORMELEMENT_IID \
  { 0xb811ad56, 0x27f2, 0x4006, { 0x88, 0xa1, 0xac, 0x9a, 0x38, 0x03, 0x0f, 0x33 } }

class nsIDOMHTMLFormElement : public nsIDOMHTMLElement {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMHTMLFORMELEMENT_IID)

  NS_IMETHOD GetName(nsAString& name) = 0;
  NS_IMETHOD Submit() = 0;

 protected:
  ~nsIDOMHTMLFormElement() = default;
};
