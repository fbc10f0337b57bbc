#include <windows.h>
#include <shlobj.h>

#include "environment/Paths.h"
#include "environment/RegistryWin.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"
#include "tracecore/win_handles.h"

namespace kxpaths {
namespace {

// A text value of an HKLM key (a REG_EXPAND_SZ one expanded), at most MAX_PATH characters;
// |opened| says whether the key opened.
std::wstring hklm_value(const wchar_t* key, const wchar_t* name, REGSAM view, bool* opened = nullptr) {
  tracecore::unique_hkey hkey;
  const bool ok = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, hkey.put()) == ERROR_SUCCESS;
  if (opened) *opened = ok;
  if (!ok) return {};
  return kxregistry::text_value(hkey.get(), name, MAX_PATH).value_or(std::wstring());
}

std::wstring environment(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
  if (n == 0 || n >= 32768) return {};
  return std::wstring(buffer, n);
}

std::u16string appdata_child(const char16_t* child) {
  const std::wstring appdata = environment(L"APPDATA");
  if (appdata.empty()) {
    KXERROR("failed to get appdata");
    return {};
  }
  return with_separator(tracecore::as_u16(appdata)) + child;
}

// "BinDir" under the suite's VLT key, else under its applications key.
std::u16string registry_bindir(REGSAM view) {
  std::wstring dir = hklm_value(L"SOFTWARE\\Kestrix\\Applications\\VLT", L"BinDir", view);
  if (dir.empty()) dir = hklm_value(L"SOFTWARE\\Kestrix\\Applications", L"BinDir", view);
  return with_separator(tracecore::as_u16(dir));
}

// The full path of a library of the system folder: system libraries are never looked for through
// the search path, where a file planted in the browser's or the current folder would come first.
std::wstring system_library(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::wstring(folder, n) + L"\\" + name;
}

bool is_wow64() {
  BOOL wow = FALSE;
  using fn_t = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto fn = reinterpret_cast<fn_t>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
  return fn && fn(GetCurrentProcess(), &wow) && wow;
}

}  // namespace

std::u16string binary_directory() {
  bool opened = false;
  const std::wstring dir = hklm_value(L"SOFTWARE\\Kestrix\\Applications", L"BinDir", 0, &opened);
  if (!opened) return with_separator(tracecore::as_u16(environment(L"ProgramFiles"))) + u"kestrix\\bin\\";
  return with_separator(tracecore::as_u16(dir));
}

std::u16string binary_directory_for_libraries(bool x64) {
  std::u16string dir = registry_bindir(x64 ? KEY_WOW64_64KEY : 0);
  if (dir.empty() && x64) {
    const std::u16string narrow = registry_bindir(0);
    if (!narrow.empty()) dir = narrow + u"x64\\";
  }
  if (dir.empty())
    dir = with_separator(tracecore::as_u16(environment(is_wow64() ? L"ProgramFiles(x86)" : L"ProgramFiles"))) + u"kestrix\\bin\\" +
          (x64 ? u"x64\\" : u"");
  return dir;
}

std::u16string user_templates_directory() { return appdata_child(u"Kestrix\\VLT\\Templates\\"); }
std::u16string user_data_directory() { return appdata_child(u"Kestrix\\VLT\\"); }

std::u16string local_user_data_directory() {
  std::wstring local = environment(L"LOCALAPPDATA");
  if (local.empty()) {
    const std::wstring library = system_library(L"SHFOLDER.DLL");
    HMODULE shfolder = library.empty() ? nullptr : GetModuleHandleW(library.c_str());
    tracecore::unique_hmodule loaded;
    if (!shfolder && !library.empty()) {
      loaded.reset(LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
      shfolder = loaded.get();
    }
    using fn_t = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    auto fn = shfolder ? reinterpret_cast<fn_t>(reinterpret_cast<void*>(GetProcAddress(shfolder, "SHGetFolderPathW")))
                       : nullptr;
    if (!fn) {
      KXERROR("no SHGetFolderPath_");
      return {};
    }
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(fn(nullptr, 0x801C, nullptr, 0, folder))) {
      KXERROR("failed to get localappdata");
      return {};
    }
    local = folder;
  }
  return with_separator(tracecore::as_u16(local)) + u"Kestrix\\VLT\\";
}

std::u16string install_templates_directory() {
  const std::u16string bin = binary_directory();
  return bin.empty() ? std::u16string() : bin + u"templates\\";
}

const known_folders_t& machine_folders() {
  static const known_folders_t folders{user_templates_directory(), user_data_directory(), local_user_data_directory(),
                                       install_templates_directory(), binary_directory()};
  return folders;
}

std::u16string compact_path(std::u16string_view path) { return compact_path(path, machine_folders()); }
std::u16string expand_path(std::u16string_view path) { return expand_path(path, machine_folders()); }

}  // namespace kxpaths
