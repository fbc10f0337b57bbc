// Asks an object for a related object by interface (a window hands out its nsIDOMWindowUtils).
#pragma once

#include "xpcom/nsISupports.h"

// {033A1470-8B2A-11D3-AF88-00A024FFC08C}
#define NS_IINTERFACEREQUESTOR_IID \
  { 0x033a1470, 0x8b2a, 0x11d3, { 0xaf, 0x88, 0x00, 0xa0, 0x24, 0xff, 0xc0, 0x8c } }

class nsIInterfaceRequestor : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IINTERFACEREQUESTOR_IID)

  NS_IMETHOD GetInterface(REFNSIID iid, void** result) = 0;

 protected:
  ~nsIInterfaceRequestor() = default;
};
