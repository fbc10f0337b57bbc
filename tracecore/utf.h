// UTF-8 <-> UTF-16 at the boundaries where DOM, window and path texts meet manifest and trace texts.
#pragma once

#include <string>
#include <string_view>

namespace tracecore {

// Ill-formed input (lone surrogates, invalid bytes) becomes U+FFFD; never throws on bad input.
std::string to_utf8(std::u16string_view text);
std::u16string to_utf16(std::string_view text);

#if defined(_WIN32)
inline std::string to_utf8(std::wstring_view text) {
  return to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}
inline std::wstring to_wide(std::string_view text) {
  const std::u16string u = to_utf16(text);
  return std::wstring(reinterpret_cast<const wchar_t*>(u.data()), u.size());
}
#endif

}  // namespace tracecore
