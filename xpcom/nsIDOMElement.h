// An element: tag, attributes, descendants by tag and its bounding rectangle.
#pragma once

#include "xpcom/nsIDOMNode.h"

class nsIDOMClientRect;

// {F1465E67-577F-4546-A7A3-BB1293C0DD15}
#define NS_IDOMELEMENT_IID \
  { 0xf1465e67, 0x577f, 0x4546, { 0xa7, 0xa3, 0xbb, 0x12, 0x93, 0xc0, 0xdd, 0x15 } }

class nsIDOMElement : public nsIDOMNode {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMELEMENT_IID)

  NS_IMETHOD GetTagName(nsAString& tagName) = 0;
  NS_IMETHOD GetAttribute(const nsAString& name, nsAString& value) = 0;
  NS_IMETHOD SetAttribute(const nsAString& name, const nsAString& value) = 0;
  NS_IMETHOD HasAttribute(const nsAString& name, bool* result) = 0;
  NS_IMETHOD RemoveAttribute(const nsAString& name) = 0;
  NS_IMETHOD GetElementsByTagName(const nsAString& tagName, nsIDOMNodeList** result) = 0;
  NS_IMETHOD GetBoundingClientRect(nsIDOMClientRect** result) = 0;

 protected:
  ~nsIDOMElement() = default;
};
