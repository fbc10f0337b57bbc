// Access to the anonymous content of bound elements (the inner input of a XUL textbox).
#pragma once

#include "xpcom/nsISupports.h"
#include "xpcom/nsStringAPI.h"

class nsIDOMElement;

// {1A38762B-4DA5-4F61-80FB-9317E198CB92}
#define NS_IDOMDOCUMENTXBL_IID \
  { 0x1a38762b, 0x4da5, 0x4f61, { 0x80, 0xfb, 0x93, 0x17, 0xe1, 0x98, 0xcb, 0x92 } }

class nsIDOMDocumentXBL : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMDOCUMENTXBL_IID)

  NS_IMETHOD GetAnonymousElementByAttribute(nsIDOMElement* element, const nsAString& attrName,
                                            const nsAString& attrValue, nsIDOMElement** result) = 0;

 protected:
  ~nsIDOMDocumentXBL() = default;
};
