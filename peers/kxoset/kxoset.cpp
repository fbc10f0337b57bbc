// The settings library stand-in: keeps the suite's settings as string values under
// HKCU\Software\Kestrix\Settings, one value per key. A key that is not there is answered with
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

namespace {

struct settings_request_t {
  std::uint32_t size;
  BSTR key;
  BSTR value;
};

constexpr const wchar_t* kKey = L"Software\\Kestrix\\Settings";

bool valid(const settings_request_t* r) {
  return r && r->size >= sizeof(settings_request_t) && r->key && SysStringLen(r->key) > 0;
}

}  // namespace

extern "C" {

HRESULT WINAPI api_settings_query(settings_request_t* request) {
  if (!valid(request)) return E_INVALIDARG;
  HKEY key = nullptr;
  LONG r = RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  DWORD type = 0, size = 0;
  r = RegQueryValueExW(key, request->key, nullptr, &type, nullptr, &size);
  std::wstring text;
  if (r == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    text.resize(size / sizeof(wchar_t) + 1);
    DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    r = RegQueryValueExW(key, request->key, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got);
    text.resize(wcsnlen(text.c_str(), got / sizeof(wchar_t)));
  } else if (r == ERROR_SUCCESS && type == REG_DWORD) {
    DWORD value = 0, got = sizeof value;
    r = RegQueryValueExW(key, request->key, nullptr, &type, reinterpret_cast<BYTE*>(&value), &got);
    text = std::to_wstring(static_cast<long>(value));
  } else if (r == ERROR_SUCCESS) {
    r = ERROR_INVALID_DATA;
  }
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  request->value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return request->value ? S_OK : E_OUTOFMEMORY;
}

HRESULT WINAPI api_settings_set(settings_request_t* request) {
  if (!valid(request)) return E_INVALIDARG;
  HKEY key = nullptr;
  LONG r = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  const UINT length = request->value ? SysStringLen(request->value) : 0;
  const std::wstring text(request->value ? request->value : L"", length);
  r = RegSetValueExW(key, request->key, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return HRESULT_FROM_WIN32(r);
}

// The environment query of the suite; nothing of the component asks it.
HRESULT WINAPI api_settings_env(settings_request_t* request) {
  return valid(request) ? E_NOTIMPL : E_INVALIDARG;
}

}  // extern "C"
