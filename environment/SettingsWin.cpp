#include "environment/Settings.h"

#include <exception>

#include "environment/ActivationContext.h"
#include "environment/Paths.h"
#include "tracecore/com_error.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace kxsettings {
namespace {

HMODULE this_module() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

// The folder of this module's own file, with its trailing backslash.
std::wstring module_folder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(this_module(), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::wstring folder(path, n);
  const std::size_t slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

struct bstr_t {
  BSTR value = nullptr;
  explicit bstr_t(std::wstring_view text) : value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  bstr_t() = default;
  ~bstr_t() { SysFreeString(value); }
  bstr_t(const bstr_t&) = delete;
  bstr_t& operator=(const bstr_t&) = delete;
};

std::string narrow(std::wstring_view key) { return tracecore::to_utf8(key); }

void report_failure(HRESULT hr, const char* verb, std::wstring_view key) {
  const std::string k = narrow(key);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
    KXERROR_CODE(hr, "INSTALLATION: cannot %s '%s'", verb, k.c_str());
  else
    KXERROR_CODE(hr, "cannot %s '%s'", verb, k.c_str());
}

}  // namespace

std::int32_t leading_integer(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > 0x80000000LL) value = 0x80000000LL;  // saturate instead of overflowing
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
  return static_cast<std::int32_t>(value);
}

// The library is looked for by full path only, in this module's own folder and then in the suite's
// folder of sibling libraries (its registered "BinDir", of this process's width). A bare name would
// let the search path choose: the browser's folder, the current folder, PATH.
void settings_library_t::bind() {
  if (bound_) return;
  bound_ = true;
  const DWORD previous = GetLastError();
  const std::wstring name = tracecore::to_wide(name_);
  const std::u16string suite = kxpaths::binary_directory_for_libraries(sizeof(void*) == 8);
  for (const std::wstring& folder : {module_folder(), tracecore::as_wide(suite)}) {
    if (folder.empty()) continue;
    kxenv::module_activation_t active;
    module_.reset(LoadLibraryExW((folder + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (module_) break;
  }
  if (!module_) {
    SetLastError(previous);
    return;
  }
  query_ = reinterpret_cast<settings_fn>(reinterpret_cast<void*>(GetProcAddress(module_.get(), "api_settings_query")));
  set_ = reinterpret_cast<settings_fn>(reinterpret_cast<void*>(GetProcAddress(module_.get(), "api_settings_set")));
  env_ = GetProcAddress(module_.get(), "api_settings_env");
}

bool settings_library_t::loaded() {
  bind();
  return static_cast<bool>(module_);
}

HRESULT settings_library_t::call(settings_fn fn, std::wstring_view key, const std::wstring_view* value,
                                 std::wstring* out) {
  if (!fn) return E_NOTIMPL;
  bstr_t key_bstr(key);
  bstr_t value_bstr;
  if (value) value_bstr.value = SysAllocStringLen(value->data(), static_cast<UINT>(value->size()));
  settings_request_t request{static_cast<std::uint32_t>(sizeof(settings_request_t)), key_bstr.value, value_bstr.value};
  HRESULT hr;
  try {
    hr = fn(&request);
  } catch (const errors::com_error& e) {
    hr = e.Error();
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  if (out) {
    // The library hands back a new BSTR: take it over whatever the result.
    bstr_t returned;
    returned.value = request.value;
    if (SUCCEEDED(hr)) out->assign(returned.value ? returned.value : L"", returned.value ? SysStringLen(returned.value) : 0);
  }
  return hr;
}

HRESULT settings_library_t::query(std::wstring_view key, std::wstring& value) {
  bind();
  return call(query_, key, nullptr, &value);
}

HRESULT settings_library_t::set(std::wstring_view key, std::wstring_view value) {
  bind();
  return call(set_, key, &value, nullptr);
}

HRESULT settings_t::get(std::wstring_view key, std::wstring& value, bool report) {
  const HRESULT hr = library_.query(key, value);
  if (FAILED(hr) && report) report_failure(hr, "get", key);
  return hr;
}

std::wstring settings_t::get_default(std::wstring_view key, std::wstring_view fallback) {
  std::wstring value;
  if (FAILED(get(key, value, false))) return std::wstring(fallback);
  return value;
}

HRESULT settings_t::get_bool(std::wstring_view key, bool& value, bool report) {
  std::wstring text;
  const HRESULT hr = get(key, text, report);
  if (FAILED(hr)) return hr;
  const std::int32_t n = leading_integer(text);
  if (n == 0) return E_INVALIDARG;
  value = n > 0;
  return S_OK;
}

bool settings_t::get_bool_default(std::wstring_view key, bool fallback) {
  bool value = fallback;
  return SUCCEEDED(get_bool(key, value, false)) ? value : fallback;
}

HRESULT settings_t::get_number(std::wstring_view key, std::int32_t& value, bool report) {
  std::wstring text;
  const HRESULT hr = get(key, text, report);
  if (SUCCEEDED(hr)) value = leading_integer(text);
  return hr;
}

HRESULT settings_t::set(std::wstring_view key, std::wstring_view value, bool report) {
  const HRESULT hr = library_.set(key, value);
  if (FAILED(hr) && report) report_failure(hr, "set", key);
  return hr;
}

HRESULT settings_t::set_number(std::wstring_view key, std::int32_t value, bool report) {
  return set(key, std::to_wstring(value), report);
}

settings_t& settings() {
  static settings_library_t library;
  static settings_t instance(library);
  return instance;
}

bool is_personalmode() {
  static const bool value = settings().get_bool_default(L"is_personalmode", false);
  return value;
}
bool is_kioskinstalled() {
  static const bool value = settings().get_bool_default(L"is_kioskinstalled", false);
  return value;
}
bool is_kiosklogon() {
  static const bool value = settings().get_bool_default(L"is_kiosklogon", false);
  return value;
}
bool is_deskwithworkgroup() {
  static const bool value = settings().get_bool_default(L"is_deskwithworkgroup", false);
  return value;
}
bool allow_SSO() {
  static const bool value = !is_kioskinstalled() && settings().get_bool_default(L"allow_SSO", false);
  return value;
}

}  // namespace kxsettings
