#include "environment/RegistryWin.h"

#include <cwchar>

namespace kxregistry {

std::optional<std::wstring> text_value(HKEY key, const wchar_t* name, std::size_t max_chars) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  // One character more than the value claims, so that a value without its NUL still ends in one.
  if (size / sizeof(wchar_t) > max_chars + 1) return std::nullopt;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::nullopt;  // changed between the two reads
  text.resize(wcsnlen(text.c_str(), got / sizeof(wchar_t)));
  if (text.size() > max_chars) return std::nullopt;
  if (type == REG_SZ) return text;

  // The expansion's length includes its NUL; a first call with too small a buffer gives the length.
  std::wstring expanded(max_chars + 1, L'\0');
  const DWORD n = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
  if (n == 0 || n > expanded.size()) return std::nullopt;
  expanded.resize(n - 1);
  return expanded;
}

}  // namespace kxregistry
