// A document: its root element, element lookup and creation, events and its window.
#pragma once

#include "xpcom/nsIDOMNode.h"

class nsIDOMElement;
class nsIDOMEvent;
class nsIDOMWindow;

// {1256315A-9FD5-42F1-84B8-7E9F9D925AE0}
#define NS_IDOMDOCUMENT_IID \
  { 0x1256315a, 0x9fd5, 0x42f1, { 0x84, 0xb8, 0x7e, 0x9f, 0x9d, 0x92, 0x5a, 0xe0 } }

class nsIDOMDocument : public nsIDOMNode {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMDOCUMENT_IID)

  NS_IMETHOD GetDocumentElement(nsIDOMElement** documentElement) = 0;
  NS_IMETHOD GetElementsByTagName(const nsAString& tagName, nsIDOMNodeList** result) = 0;
  NS_IMETHOD CreateElement(const nsAString& tagName, nsIDOMElement** result) = 0;
  // eventType names the event interface, e.g. "KeyboardEvent".
  NS_IMETHOD CreateEvent(const nsAString& eventType, nsIDOMEvent** result) = 0;
  NS_IMETHOD GetDefaultView(nsIDOMWindow** defaultView) = 0;
  NS_IMETHOD GetDocumentURI(nsAString& documentURI) = 0;

 protected:
  ~nsIDOMDocument() = default;
};
