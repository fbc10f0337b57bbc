// A node of a document tree: element, text, document.
#pragma once

#include "xpcom/nsISupports.h"
#include "xpcom/nsStringAPI.h"

class nsIDOMNodeList;
class nsIDOMDocument;

// {D9D419DC-E6B8-47C9-8AD1-2B71C4CC7AAA}
#define NS_IDOMNODE_IID \
  { 0xd9d419dc, 0xe6b8, 0x47c9, { 0x8a, 0xd1, 0x2b, 0x71, 0xc4, 0xcc, 0x7a, 0xaa } }

class nsIDOMNode : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMNODE_IID)

  enum : PRUint16 {
    ELEMENT_NODE = 1,
    ATTRIBUTE_NODE = 2,
    TEXT_NODE = 3,
    COMMENT_NODE = 8,
    DOCUMENT_NODE = 9,
  };

  NS_IMETHOD GetNodeName(nsAString& nodeName) = 0;
  NS_IMETHOD GetNodeValue(nsAString& nodeValue) = 0;
  NS_IMETHOD GetNodeType(PRUint16* nodeType) = 0;
  NS_IMETHOD GetParentNode(nsIDOMNode** parentNode) = 0;
  NS_IMETHOD GetChildNodes(nsIDOMNodeList** childNodes) = 0;
  NS_IMETHOD GetFirstChild(nsIDOMNode** firstChild) = 0;
  NS_IMETHOD GetOwnerDocument(nsIDOMDocument** ownerDocument) = 0;
  NS_IMETHOD CloneNode(bool deep, nsIDOMNode** result) = 0;
  NS_IMETHOD AppendChild(nsIDOMNode* newChild, nsIDOMNode** result) = 0;

 protected:
  ~nsIDOMNode() = default;
};
