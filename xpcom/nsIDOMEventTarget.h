// A node that events can be dispatched to.
#pragma once

#include "xpcom/nsISupports.h"

class nsIDOMEvent;

// {8E375931-298D-4D0A-9CB4-5668F0CDC5A8}
#define NS_IDOMEVENTTARGET_IID \
  { 0x8e375931, 0x298d, 0x4d0a, { 0x9c, 0xb4, 0x56, 0x68, 0xf0, 0xcd, 0xc5, 0xa8 } }

class nsIDOMEventTarget : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMEVENTTARGET_IID)

  // |defaultActionEnabled| is false when a listener cancelled the event.
  NS_IMETHOD DispatchEvent(nsIDOMEvent* event, bool* defaultActionEnabled) = 0;

 protected:
  ~nsIDOMEventTarget() = default;
};
