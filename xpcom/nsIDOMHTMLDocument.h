// An HTML document; the component reads its URL.
#pragma once

#include "xpcom/nsIDOMDocument.h"

// {3F8666A9-76F0-4733-AE11-4AEA8753062D}
#define NS_IDOMHTMLDOCUMENT_IID \
  { 0x3f8666a9, 0x76f0, 0x4733, { 0xae, 0x11, 0x4a, 0xea, 0x87, 0x53, 0x06, 0x2d } }

class nsIDOMHTMLDocument : public nsIDOMDocument {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMHTMLDOCUMENT_IID)

  NS_IMETHOD GetURL(nsAString& url) = 0;

 protected:
  ~nsIDOMHTMLDocument() = default;
};
