// do_GetInterface(p): like do_QueryInterface, but asks |p|'s nsIInterfaceRequestor for a related
// object (a window's nsIDOMWindowUtils). Empty when |p| has no requestor or refuses the interface.
#pragma once

#include "xpcom/nsCOMPtr.h"
#include "xpcom/nsIInterfaceRequestor.h"

class nsGetInterface {
 public:
  nsGetInterface(nsISupports* p, nsresult* rv) : p_(p), rv_(rv) {}
  template <class T>
  operator nsCOMPtr<T>() const {
    T* out = nullptr;
    nsresult rv = NS_ERROR_NO_INTERFACE;
    nsCOMPtr<nsIInterfaceRequestor> requestor = do_QueryInterface(p_);
    if (requestor) rv = requestor->GetInterface(NS_GET_IID(T), reinterpret_cast<void**>(&out));
    if (rv != NS_OK) out = nullptr;
    if (rv_) *rv_ = rv;
    return nsCOMPtr<T>::adopt(out);
  }

 private:
  nsISupports* p_;
  nsresult* rv_;
};

template <class U>
nsGetInterface do_GetInterface(U* p, nsresult* rv = nullptr) {
  return nsGetInterface(p ? static_cast<nsISupports*>(p) : nullptr, rv);
}
template <class U>
nsGetInterface do_GetInterface(const nsCOMPtr<U>& p, nsresult* rv = nullptr) {
  return do_GetInterface(p.get(), rv);
}
