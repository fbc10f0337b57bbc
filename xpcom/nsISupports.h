#pragma once

#include "xpcom/nsID.h"
#include "xpcom/nscore.h"

#define NS_ISUPPORTS_IID \
  { 0x00000000, 0x0000, 0x0000, { 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } }

class nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_ISUPPORTS_IID)
  NS_IMETHOD QueryInterface(REFNSIID iid, void** result) = 0;
  NS_IMETHOD_(PRUint32) AddRef() = 0;
  NS_IMETHOD_(PRUint32) Release() = 0;

 protected:
  ~nsISupports() = default;
};
