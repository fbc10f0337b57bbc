// Stand-in for the browser's frozen string API (exported from "xpcom.dll" on Windows).
//
// A container's words: d1 = the characters, d2 = the length, d3 = flags (kOwned when the buffer
// belongs to the container, kTerminated when a NUL follows the characters).
#include <cstdlib>
#include <cstring>
#include <new>

#include "xpcom/nsStringAPI.h"

namespace {

constexpr PRUint32 kOwned = 0x10000;
constexpr PRUint32 kTerminated = 0x20000;
const PRUnichar kEmpty[1] = {0};

// The runtime owns the layout of every string it hands out; callers only ever pass containers.
struct container_words : nsStringContainer {
  PRUnichar*& data() { return reinterpret_cast<PRUnichar*&>(d1); }
  PRUint32& length() { return d2; }
  PRUint32& flags() { return d3; }
};

container_words& words(nsAString& s) { return static_cast<container_words&>(static_cast<nsStringContainer&>(s)); }
container_words& words(nsStringContainer& s) { return static_cast<container_words&>(s); }

void release(container_words& c) {
  if (c.flags() & kOwned) std::free(c.data());
  c.data() = const_cast<PRUnichar*>(kEmpty);
  c.length() = 0;
  c.flags() = kTerminated;
}

PRUint32 length_of(const PRUnichar* p) {
  PRUint32 n = 0;
  while (p[n]) ++n;
  return n;
}

nsresult set_copy(container_words& c, const PRUnichar* data, PRUint32 n) {
  auto* buf = static_cast<PRUnichar*>(std::malloc((static_cast<std::size_t>(n) + 1) * sizeof(PRUnichar)));
  if (!buf) return NS_ERROR_OUT_OF_MEMORY;
  if (n) std::memcpy(buf, data, n * sizeof(PRUnichar));
  buf[n] = 0;
  release(c);
  c.data() = buf;
  c.length() = n;
  c.flags() = kOwned | kTerminated;
  return NS_OK;
}

}  // namespace

XPCOM_API(nsresult) NS_StringContainerInit(nsStringContainer& container) {
  auto& c = words(container);
  c.data() = const_cast<PRUnichar*>(kEmpty);
  c.length() = 0;
  c.flags() = kTerminated;
  return NS_OK;
}

XPCOM_API(nsresult) NS_StringContainerInit2(nsStringContainer& container, const PRUnichar* data,
                                            PRUint32 length, PRUint32 flags) {
  NS_StringContainerInit(container);
  if (!data) return length == 0 || length == PR_UINT32_MAX ? NS_OK : NS_ERROR_INVALID_POINTER;
  auto& c = words(container);
  const bool measured = length == PR_UINT32_MAX;
  if (measured) length = length_of(data);
  if (flags & NS_STRING_CONTAINER_INIT_DEPEND) {
    c.data() = const_cast<PRUnichar*>(data);
    c.length() = length;
    c.flags() = (flags & NS_STRING_CONTAINER_INIT_SUBSTRING) || !measured ? 0 : kTerminated;
    return NS_OK;
  }
  if (flags & NS_STRING_CONTAINER_INIT_ADOPT) {
    c.data() = const_cast<PRUnichar*>(data);
    c.length() = length;
    c.flags() = kOwned | ((flags & NS_STRING_CONTAINER_INIT_SUBSTRING) ? 0 : kTerminated);
    return NS_OK;
  }
  return set_copy(c, data, length);
}

XPCOM_API(void) NS_StringContainerFinish(nsStringContainer& container) { release(words(container)); }

XPCOM_API(PRUint32) NS_StringGetData(const nsAString& str, const PRUnichar** data, PRBool* terminated) {
  auto& c = words(const_cast<nsAString&>(str));
  if (data) *data = c.data();
  if (terminated) *terminated = (c.flags() & kTerminated) ? PR_TRUE : PR_FALSE;
  return c.length();
}

XPCOM_API(nsresult) NS_StringCopy(nsAString& dest, const nsAString& src) {
  if (&dest == &src) return NS_OK;
  auto& s = words(const_cast<nsAString&>(src));
  return set_copy(words(dest), s.data(), s.length());
}

XPCOM_API(void*) NS_Alloc(PRUint32 size) { return std::malloc(size ? size : 1); }
