// The frozen string API the browser exports, and a small owning string built on it.
#pragma once

#include <string>
#include <string_view>

#include "xpcom/nscore.h"

#if defined(KX_XPCOM_BUILD)
#define XPCOM_API(type) extern "C" NS_EXPORT type NS_FROZENCALL
#else
#define XPCOM_API(type) extern "C" NS_IMPORT type NS_FROZENCALL
#endif

// Opaque to the component; the runtime keeps data, length and flags in the container's words.
class nsAString {
 protected:
  nsAString() = default;
  ~nsAString() = default;
};

class nsStringContainer_base {
 protected:
  void* d1 = nullptr;
  PRUint32 d2 = 0;
  PRUint32 d3 = 0;
};

class nsStringContainer : public nsAString, protected nsStringContainer_base {};

enum {
  NS_STRING_CONTAINER_INIT_DEPEND = 1 << 1,
  NS_STRING_CONTAINER_INIT_ADOPT = 1 << 2,
  NS_STRING_CONTAINER_INIT_SUBSTRING = 1 << 3,
};

XPCOM_API(nsresult) NS_StringContainerInit(nsStringContainer& container);
XPCOM_API(nsresult) NS_StringContainerInit2(nsStringContainer& container, const PRUnichar* data,
                                            PRUint32 length, PRUint32 flags);
XPCOM_API(void) NS_StringContainerFinish(nsStringContainer& container);
XPCOM_API(PRUint32) NS_StringGetData(const nsAString& str, const PRUnichar** data, PRBool* terminated);
XPCOM_API(nsresult) NS_StringCopy(nsAString& dest, const nsAString& src);
XPCOM_API(void*) NS_Alloc(PRUint32 size);

// An owning UTF-16 string for the component's own use.
class nsString : public nsStringContainer {
 public:
  nsString() { NS_StringContainerInit(*this); }
  explicit nsString(std::u16string_view text) {
    NS_StringContainerInit2(*this, text.data(), static_cast<PRUint32>(text.size()), 0);
  }
  nsString(const nsString& other) : nsString() { NS_StringCopy(*this, other); }
  nsString& operator=(const nsString& other) {
    if (this != &other) NS_StringCopy(*this, other);
    return *this;
  }
  ~nsString() { NS_StringContainerFinish(*this); }

  std::u16string_view view() const { return view_of(*this); }
  void assign(std::u16string_view text) { assign_to(*this, text); }

  static std::u16string_view view_of(const nsAString& s) {
    const PRUnichar* data = nullptr;
    const PRUint32 n = NS_StringGetData(s, &data, nullptr);
    return data ? std::u16string_view(data, n) : std::u16string_view();
  }
  // Sets any string (an out parameter of an interface method, say) to |text|.
  static nsresult assign_to(nsAString& dest, std::u16string_view text) {
    nsStringContainer src;
    nsresult rv = NS_StringContainerInit2(src, text.data(), static_cast<PRUint32>(text.size()),
                                          NS_STRING_CONTAINER_INIT_DEPEND);
    if (rv != NS_OK) return rv;
    rv = NS_StringCopy(dest, src);
    NS_StringContainerFinish(src);
    return rv;
  }
};
