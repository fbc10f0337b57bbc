#include "environment/Branding.h"

#include <optional>

#include "environment/RegistryWin.h"

#include "tracecore/trace.h"
#include "tracecore/utf.h"
#include "tracecore/win_handles.h"

namespace kxbranding {
namespace {

constexpr const wchar_t* kCommonKey = L"SOFTWARE\\Kestrix\\Branding\\Common";

struct loaded_t {
  tracecore::unique_hmodule module;
  std::wstring path;
};

loaded_t& loaded() {
  static loaded_t instance = [] {
    loaded_t l;
    // The host may name its own branding key in its string 900.
    wchar_t key[512] = {};
    const int n = LoadStringW(GetModuleHandleW(nullptr), 900, key, 512);
    l.module.reset(load_branding_library(n > 0 ? std::wstring(key, n) : std::wstring(kCommonKey), &l.path));
    if (!l.module) l.path.clear();
    return l;
  }();
  return instance;
}

}  // namespace

HMODULE load_branding_library(const std::wstring& key_path, std::wstring* path) {
  KXSCOPE("CBranding::LoadResourceDLL");
  tracecore::unique_hkey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS &&
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    KXERROR("Open Branding key %s in registry Failed", tracecore::to_utf8(std::wstring_view(key_path)).c_str());
    return nullptr;
  }
  const std::optional<std::wstring> value = kxregistry::text_value(key.get(), L"DLLPath", MAX_PATH);
  if (!value) {
    KXERROR("Failed to find DllPath under Branding key in registry");
    return nullptr;
  }
  const std::wstring& dll = *value;
  HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    const DWORD error = GetLastError();
    KXERROR_CODE(HRESULT_FROM_WIN32(error), "failed to load resource dll , GetLastError returned 0x%08x",
                 static_cast<unsigned>(error));
    return nullptr;
  }
  if (path) *path = dll;
  return module;
}

HMODULE branding_library() { return loaded().module.get(); }
const std::wstring& branding_library_path() { return loaded().path; }

std::wstring branding_string(UINT id) {
  HMODULE module = branding_library();
  if (!module) return {};
  const wchar_t* text = nullptr;
  const int n = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  return n > 0 && text ? std::wstring(text, n) : std::wstring();
}

}  // namespace kxbranding
