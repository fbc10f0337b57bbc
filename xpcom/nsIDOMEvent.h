// An event made by nsIDOMDocument::CreateEvent.
#pragma once

#include "xpcom/nsISupports.h"
#include "xpcom/nsStringAPI.h"

// {FDC81B67-C68E-4A1B-AF4C-4B002587AB77}
#define NS_IDOMEVENT_IID \
  { 0xfdc81b67, 0xc68e, 0x4a1b, { 0xaf, 0x4c, 0x4b, 0x00, 0x25, 0x87, 0xab, 0x77 } }

class nsIDOMEvent : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMEVENT_IID)

  NS_IMETHOD GetType(nsAString& type) = 0;
  NS_IMETHOD InitEvent(const nsAString& eventType, bool canBubble, bool cancelable) = 0;

 protected:
  ~nsIDOMEvent() = default;
};
