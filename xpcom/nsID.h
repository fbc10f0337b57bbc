// Interface and class identifiers.
#pragma once

#include <cstring>

#include "xpcom/nscore.h"

struct nsID {
  PRUint32 m0;
  PRUint16 m1;
  PRUint16 m2;
  PRUint8 m3[8];

  bool Equals(const nsID& other) const {
    return m0 == other.m0 && m1 == other.m1 && m2 == other.m2 && std::memcmp(m3, other.m3, 8) == 0;
  }
  bool operator==(const nsID& other) const { return Equals(other); }
};

typedef nsID nsIID;
typedef nsID nsCID;
#define REFNSIID const nsIID&

// Each interface names its IID as a static member function so that headers need no definitions.
#define NS_DECLARE_STATIC_IID_ACCESSOR(the_iid) \
  static const nsIID& GetIID() {                \
    static const nsIID iid = the_iid;           \
    return iid;                                 \
  }
#define NS_GET_IID(T) (T::GetIID())
