// Reading a text value of the registry the one way this component does it.
//
//   unique_hkey key; RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\...", 0, KEY_QUERY_VALUE, key.put());
//   std::wstring dir = kxregistry::text_value(key.get(), L"BinDir", MAX_PATH).value_or(L"");
#pragma once

#if !defined(_WIN32)
#error "Windows only"
#endif

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace kxregistry {

// The text of a REG_SZ or REG_EXPAND_SZ value; a REG_EXPAND_SZ value comes back with its
// environment variables expanded (a variable that is not set stays as written, "%NAME%"). None
// when the value is missing, has another type, or is longer than |max_chars| characters before or
// after expansion. A value stored without its terminating NUL reads as well.
std::optional<std::wstring> text_value(HKEY key, const wchar_t* name, std::size_t max_chars);

}  // namespace kxregistry
