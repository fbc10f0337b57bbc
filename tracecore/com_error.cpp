#include "tracecore/com_error.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>

#include "tracecore/utf.h"
#include "tracecore/win_handles.h"
#endif

namespace errors {

#if defined(_WIN32)
std::string system_message(std::int32_t code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  tracecore::unique_hlocal owner(text);
  if (!n || !text) return {};
  std::wstring msg(text, n);
  for (auto& c : msg) if (c == L'\r' || c == L'\n') c = L' ';
  while (!msg.empty() && msg.back() == L' ') msg.pop_back();
  return tracecore::to_utf8(msg);
}
#endif

std::string com_error::ErrorMessage() const {
#if defined(_WIN32)
  std::string msg = system_message(hr_);
  if (!msg.empty()) return msg;
#endif
  char buf[32];
  std::snprintf(buf, sizeof buf, "HRESULT 0x%08X", static_cast<unsigned>(hr_));
  return buf;
}

}  // namespace errors
