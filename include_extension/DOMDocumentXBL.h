// The anonymous inner input of a XUL textbox.
#pragma once

#include "xpcom/nsIDOM.h"

class CDOMDocumentXBL {
 public:
  // The element with anonid="input" inside |textbox|. NS_ERROR_INVALID_POINTER when the document
  // has no XBL access or the textbox has no such element.
  static nsresult getTextboxInput(nsIDOMDocument* document, nsIDOMElement* textbox,
                                  nsCOMPtr<nsIDOMElement>& input);
};
