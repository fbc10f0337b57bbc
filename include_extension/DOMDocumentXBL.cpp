#include "include_extension/DOMDocumentXBL.h"

#include "include_extension/Utils.h"
#include "tracecore/trace.h"

nsresult CDOMDocumentXBL::getTextboxInput(nsIDOMDocument* document, nsIDOMElement* textbox,
                                          nsCOMPtr<nsIDOMElement>& input) {
  nsCOMPtr<nsIDOMDocumentXBL> xbl = do_QueryInterface(document);
  if (!xbl) {
    KXTRACE("'`I04`'No interface nsIDOMDocumentXBL as %s", getInnerHTML(textbox).c_str());
    return NS_ERROR_INVALID_POINTER;
  }
  nsCOMPtr<nsIDOMElement> found;
  const nsresult rv = NSOK(xbl->GetAnonymousElementByAttribute(textbox, nsString(u"anonid"), nsString(u"input"),
                                                               getter_AddRefs(found)));
  if (rv != NS_OK) return rv;
  if (!found) return NS_ERROR_INVALID_POINTER;
  input = found;
  return NS_OK;
}
