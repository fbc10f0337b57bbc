// Owning interface references.
//
//   nsCOMPtr<nsIDOMDocument> doc = do_QueryInterface(supports);   // empty when not implemented
//   nsCOMPtr<nsIDOMElement> root;
//   rv = doc->GetDocumentElement(getter_AddRefs(root));
#pragma once

#include <utility>

#include "xpcom/nsISupports.h"

template <class T>
class nsCOMPtr {
 public:
  nsCOMPtr() = default;
  nsCOMPtr(std::nullptr_t) {}
  nsCOMPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
  nsCOMPtr(const nsCOMPtr& o) : nsCOMPtr(o.p_) {}
  nsCOMPtr(nsCOMPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~nsCOMPtr() { if (p_) p_->Release(); }

  nsCOMPtr& operator=(const nsCOMPtr& o) { reset(o.p_); return *this; }
  nsCOMPtr& operator=(nsCOMPtr&& o) noexcept {
    if (this != &o) { T* old = std::exchange(p_, std::exchange(o.p_, nullptr)); if (old) old->Release(); }
    return *this;
  }
  nsCOMPtr& operator=(T* p) { reset(p); return *this; }
  nsCOMPtr& operator=(std::nullptr_t) { reset(nullptr); return *this; }

  // Takes a reference the caller already owns.
  static nsCOMPtr adopt(T* p) { nsCOMPtr c; c.p_ = p; return c; }
  T* forget() { return std::exchange(p_, nullptr); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  operator T*() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Out-parameter access: releases what is held and lets the callee store an owned reference.
  T** StartAssignment() { reset(nullptr); return &p_; }

 private:
  void reset(T* p) {
    if (p) p->AddRef();
    T* old = std::exchange(p_, p);
    if (old) old->Release();
  }
  T* p_ = nullptr;
};

template <class T>
class nsGetterAddRefs {
 public:
  explicit nsGetterAddRefs(nsCOMPtr<T>& target) : target_(target) {}
  operator T**() { return target_.StartAssignment(); }
  operator void**() { return reinterpret_cast<void**>(target_.StartAssignment()); }

 private:
  nsCOMPtr<T>& target_;
};

template <class T>
nsGetterAddRefs<T> getter_AddRefs(nsCOMPtr<T>& target) { return nsGetterAddRefs<T>(target); }

// do_QueryInterface(p): converts to whatever nsCOMPtr<T> it initialises; empty when |p| is null or
// does not implement T. |rv| (optional) receives the QueryInterface result.
class nsQueryInterface {
 public:
  nsQueryInterface(nsISupports* p, nsresult* rv) : p_(p), rv_(rv) {}
  template <class T>
  operator nsCOMPtr<T>() const {
    T* out = nullptr;
    nsresult rv = NS_ERROR_INVALID_POINTER;
    if (p_) rv = p_->QueryInterface(NS_GET_IID(T), reinterpret_cast<void**>(&out));
    if (rv != NS_OK) out = nullptr;
    if (rv_) *rv_ = rv;
    return nsCOMPtr<T>::adopt(out);
  }

 private:
  nsISupports* p_;
  nsresult* rv_;
};

template <class U>
nsQueryInterface do_QueryInterface(U* p, nsresult* rv = nullptr) {
  return nsQueryInterface(p ? static_cast<nsISupports*>(p) : nullptr, rv);
}
template <class U>
nsQueryInterface do_QueryInterface(const nsCOMPtr<U>& p, nsresult* rv = nullptr) {
  return do_QueryInterface(p.get(), rv);
}
