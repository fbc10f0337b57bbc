#include "tracecore/com_error.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>

#include "tracecore/utf.h"
#include "tracecore/win_handles.h"
#endif

namespace errors {

std::string com_error::ErrorMessage() const {
#if defined(_WIN32)
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(hr_), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  tracecore::unique_hlocal owner(text);
  if (n && text) {
    std::wstring msg(text, n);
    while (!msg.empty() && (msg.back() == L'\n' || msg.back() == L'\r' || msg.back() == L' ')) msg.pop_back();
    return tracecore::to_utf8(msg);
  }
#endif
  char buf[32];
  std::snprintf(buf, sizeof buf, "HRESULT 0x%08X", static_cast<unsigned>(hr_));
  return buf;
}

}  // namespace errors
