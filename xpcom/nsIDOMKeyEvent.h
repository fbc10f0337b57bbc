// A keyboard event.
#pragma once

#include "xpcom/nsIDOMEvent.h"

class nsIDOMWindow;

// {FFBE684C-CA90-4B58-AA8C-9727F997F86D}
#define NS_IDOMKEYEVENT_IID \
  { 0xffbe684c, 0xca90, 0x4b58, { 0xaa, 0x8c, 0x97, 0x27, 0xf9, 0x97, 0xf8, 0x6d } }

class nsIDOMKeyEvent : public nsIDOMEvent {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMKEYEVENT_IID)

  enum : PRUint32 { DOM_VK_RETURN = 13 };

  NS_IMETHOD InitKeyEvent(const nsAString& type, bool canBubble, bool cancelable, nsIDOMWindow* view,
                          bool ctrlKey, bool altKey, bool shiftKey, bool metaKey, PRUint32 keyCode,
                          PRUint32 charCode) = 0;
  NS_IMETHOD GetKeyCode(PRUint32* keyCode) = 0;
  NS_IMETHOD GetCharCode(PRUint32* charCode) = 0;

 protected:
  ~nsIDOMKeyEvent() = default;
};
