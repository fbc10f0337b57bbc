// An input element.
#pragma once

#include "xpcom/nsIDOMHTMLElement.h"

class nsIDOMHTMLFormElement;

// {83984FD0-B0B2-11E1-AFA6-0800200C9A66}
#define NS_IDOMHTMLINPUTELEMENT_IID \
  { 0x83984fd0, 0xb0b2, 0x11e1, { 0xaf, 0xa6, 0x08, 0x00, 0x20, 0x0c, 0x9a, 0x66 } }

class nsIDOMHTMLInputElement : public nsIDOMHTMLElement {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMHTMLINPUTELEMENT_IID)

  NS_IMETHOD GetType(nsAString& type) = 0;
  NS_IMETHOD GetForm(nsIDOMHTMLFormElement** form) = 0;
  NS_IMETHOD GetName(nsAString& name) = 0;
  NS_IMETHOD GetChecked(bool* checked) = 0;
  NS_IMETHOD SetChecked(bool checked) = 0;
  NS_IMETHOD GetValue(nsAString& value) = 0;
  NS_IMETHOD SetValue(const nsAString& value) = 0;

 protected:
  ~nsIDOMHTMLInputElement() = default;
};
