// What the methods of the snapshot DOM's objects share (private to peers/dom): the DOM's result
// codes, string conversions, handing out a reference, and the fault hook every method arms first.
#pragma once

#include <string>
#include <string_view>

#include "peers/dom/SnapshotNodes.h"
#include "tracecore/utf.h"

namespace snapdom {

inline constexpr nsresult kDomSecurityErr = 0x805303E8;
inline constexpr nsresult kDomNotSupportedErr = 0x80530009;
inline constexpr nsresult kDomInvalidStateErr = 0x8053000B;
inline constexpr nsresult kDomHierarchyErr = 0x80530003;

inline std::string u8(std::u16string_view s) { return tracecore::to_utf8(s); }
inline std::u16string_view view(const nsAString& s) { return nsString::view_of(s); }
inline nsresult assign(nsAString& out, std::u16string_view text) { return nsString::assign_to(out, text); }

template <class I>
nsresult hand_out(I* p, I** out) {
  if (p) p->AddRef();
  *out = p;
  return NS_OK;
}

// Arms the fault hook of one method; returns from the method when a fault fires.
#define SNAPDOM_HOOK(iface, method)                           \
  const page_t::hook_t hk_ = page_->hook(iface, method);      \
  if (hk_.rv != NS_OK) return hk_.rv
// For methods with a pointer out-parameter |out|.
#define SNAPDOM_HOOK_PTR(iface, method, out)                  \
  if (!(out)) return NS_ERROR_INVALID_POINTER;                \
  *(out) = nullptr;                                           \
  SNAPDOM_HOOK(iface, method);                                \
  if (hk_.null_out) return NS_OK

}  // namespace snapdom
