// A select list.
#pragma once

#include "xpcom/nsIDOMHTMLElement.h"

class nsIDOMHTMLFormElement;
class nsIDOMHTMLOptionsCollection;

// {E85194CF-56E6-44A6-92D9-0096C9D2536E}
#define NS_IDOMHTMLSELECTELEMENT_IID \
  { 0xe85194cf, 0x56e6, 0x44a6, { 0x92, 0xd9, 0x00, 0x96, 0xc9, 0xd2, 0x53, 0x6e } }

class nsIDOMHTMLSelectElement : public nsIDOMHTMLElement {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMHTMLSELECTELEMENT_IID)

  NS_IMETHOD GetForm(nsIDOMHTMLFormElement** form) = 0;
  NS_IMETHOD GetName(nsAString& name) = 0;
  NS_IMETHOD GetMultiple(bool* multiple) = 0;
  NS_IMETHOD GetOptions(nsIDOMHTMLOptionsCollection** options) = 0;
  NS_IMETHOD GetSelectedIndex(PRInt32* index) = 0;
  NS_IMETHOD SetSelectedIndex(PRInt32 index) = 0;

 protected:
  ~nsIDOMHTMLSelectElement() = default;
};
