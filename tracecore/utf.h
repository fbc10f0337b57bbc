// UTF-8 <-> UTF-16 at the boundaries where DOM, window and path texts meet manifest and trace texts.
#pragma once

#include <string>
#include <string_view>

namespace tracecore {

// Ill-formed input (lone surrogates, invalid bytes) becomes U+FFFD; never throws on bad input.
std::string to_utf8(std::u16string_view text);
std::u16string to_utf16(std::string_view text);

#if defined(_WIN32)
static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Windows API's wide text is UTF-16");

// The same UTF-16 text as the Windows API spells it, and back: no conversion, only the type.
inline std::wstring as_wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string as_u16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }
inline std::u16string as_u16(const wchar_t* text, std::size_t size) { return as_u16(std::wstring_view(text, size)); }
inline const wchar_t* wide_c_str(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

inline std::string to_utf8(std::wstring_view text) {
  return to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}
inline std::wstring to_wide(std::string_view text) {
  const std::u16string u = to_utf16(text);
  return std::wstring(reinterpret_cast<const wchar_t*>(u.data()), u.size());
}
#endif

}  // namespace tracecore
