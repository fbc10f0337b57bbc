// The trace file output: a plain-text header for an empty file, an "N" record for an existing one,
// then one WriteFile per record.
#include <windows.h>

#include <array>
#include <cstdio>
#include <vector>

#include "tracecore/realtracer.h"
#include "tracecore/record.h"
#include "tracecore/utf.h"

namespace tracecore {
namespace {

std::string os_lines() {
  OSVERSIONINFOEXA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&vi));
#pragma GCC diagnostic pop
  const DWORD major = vi.dwMajorVersion, minor = vi.dwMinorVersion;
  const bool nt = vi.dwPlatformId == VER_PLATFORM_WIN32_NT;
  const char* name = nullptr;
  if (nt && major == 5 && minor == 1) name = "WindowsXP";
  else if (nt && major == 5 && minor == 2) name = "Server2003";
  else if (nt && major == 5 && minor == 0) name = "Windows2000";
  else if (nt && major == 4) name = "NT4";
  else if (!nt && major == 4 && minor == 10) name = "Windows98";
  else if (!nt && major == 4 && minor == 90) name = "WindowsMe";
  else if (!nt && major == 4 && minor == 0) name = "Windows95";
  char buf[512];
  std::string out;
  if (name) std::snprintf(buf, sizeof buf, "OS: %s\r\n", name);
  else std::snprintf(buf, sizeof buf, "OS: UNKNOWN OS(Major:%d Minor:%d)\r\n", static_cast<int>(major), static_cast<int>(minor));
  out += buf;
  std::snprintf(buf, sizeof buf, "ServicePack: %s\r\n", vi.szCSDVersion);
  out += buf;
  return out;
}

std::string file_version_line(HMODULE module) {
  char path[MAX_PATH] = {};
  if (!GetModuleFileNameA(module, path, MAX_PATH)) return "FileVersion: UNKNOWN\r\n";
  // From the system folder by full path, never through the search path.
  wchar_t system[MAX_PATH] = {};
  const UINT folder_length = GetSystemDirectoryW(system, MAX_PATH);
  if (folder_length == 0 || folder_length >= MAX_PATH) return "FileVersion: UNKNOWN\r\n";
  const std::wstring library = std::wstring(system, folder_length) + L"\\Version.dll";
  unique_hmodule version(LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!version) return "FileVersion: UNKNOWN\r\n";
  using size_fn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using info_fn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  using query_fn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  auto get_size = reinterpret_cast<size_fn>(reinterpret_cast<void*>(GetProcAddress(version.get(), "GetFileVersionInfoSizeA")));
  auto get_info = reinterpret_cast<info_fn>(reinterpret_cast<void*>(GetProcAddress(version.get(), "GetFileVersionInfoA")));
  auto query = reinterpret_cast<query_fn>(reinterpret_cast<void*>(GetProcAddress(version.get(), "VerQueryValueA")));
  if (!get_size || !get_info || !query) return "FileVersion: UNKNOWN\r\n";
  DWORD handle = 0;
  const DWORD size = get_size(path, &handle);
  if (!size) return "FileVersion: UNKNOWN\r\n";
  std::vector<char> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!get_info(path, 0, size, data.data()) || !query(data.data(), "\\", reinterpret_cast<void**>(&info), &len) ||
      !info || len < sizeof(VS_FIXEDFILEINFO))
    return "FileVersion: UNKNOWN\r\n";
  char buf[128];
  std::snprintf(buf, sizeof buf, "FileVersion: %d.%d.%d.%d\r\n", static_cast<int>(HIWORD(info->dwFileVersionMS)),
                static_cast<int>(LOWORD(info->dwFileVersionMS)), static_cast<int>(HIWORD(info->dwFileVersionLS)),
                static_cast<int>(LOWORD(info->dwFileVersionLS)));
  return buf;
}

std::string product_lines() {
  unique_hkey products;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrix\\Products", 0, KEY_READ, products.put()) != ERROR_SUCCESS)
    return "No Kestrix products found\r\n";
  std::string out;
  char buf[1024];
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD name_len = sizeof name;
    if (RegEnumKeyExA(products.get(), i, name, &name_len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    unique_hkey product;
    const LSTATUS open = RegOpenKeyExA(products.get(), name, 0, KEY_READ, product.put());
    if (open != ERROR_SUCCESS) {
      std::snprintf(buf, sizeof buf, "Product: %s ERROR(0x%X)\r\n", name, static_cast<unsigned>(open));
      out += buf;
      continue;
    }
    char version[256] = {};
    DWORD type = 0, size = sizeof version - 1;
    const LSTATUS q = RegQueryValueExA(product.get(), "Version", nullptr, &type, reinterpret_cast<BYTE*>(version), &size);
    if (q == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
      std::snprintf(buf, sizeof buf, "Product: %s; Version: %s\r\n", name, version);
    } else {
      std::snprintf(buf, sizeof buf, "Product: %s; Version: ERROR(0x%X)\r\n", name,
                    static_cast<unsigned>(q == ERROR_SUCCESS ? ERROR_INVALID_DATA : q));
    }
    out += buf;
  }
  return out.empty() ? "No Kestrix products found\r\n" : out;
}

std::string installation_line() {
  unique_hkey key;
  DWORD value = 1, size = sizeof value, type = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Kestrix", 0, KEY_READ, key.put()) == ERROR_SUCCESS &&
      RegQueryValueExA(key.get(), "NetworkSupport", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
      type == REG_DWORD && value == 0)
    return "installation: LOCAL\r\n";
  return "installation: NETWORK\r\n";
}

class outputstoragefile_t final : public outputstorageinterface_t {
 public:
  outputstoragefile_t(std::wstring path, HMODULE module, std::wstring trace_dir)
      : path_(std::move(path)), module_(module), trace_dir_(std::move(trace_dir)) {}

  void write(std::uint32_t thread, char kind, std::string_view text, const char*) override {
    if (!open()) return;
    if (new_file_) {
      new_file_ = false;
      // Written first, before whatever record opened the file.
      append_record(thread, kind_newrun, newrun_text_now());
    }
    append_record(thread, kind, text);
  }

 private:
  bool open() {
    if (file_) return true;
    if (failed_) return false;
    file_.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
      failed_ = true;  // for the life of the process
      return false;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file_.get(), &size);
    if (size.QuadPart == 0) {
      const std::string header = trace_file_header(module_);
      DWORD written = 0;
      WriteFile(file_.get(), header.data(), static_cast<DWORD>(header.size()), &written, nullptr);
    } else {
      new_file_ = true;
    }
    static LONG cleaned = 0;
    if (InterlockedExchange(&cleaned, 1) == 0) {
      std::wstring dir = trace_dir_;
      if (dir.empty()) {
        const size_t slash = path_.find_last_of(L"\\/");
        if (slash != std::wstring::npos) dir = path_.substr(0, slash);
      }
      clean_old_trace_files(dir, path_);
    }
    return true;
  }

  static std::string newrun_text_now() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return newrun_text({st.wYear, st.wMonth, st.wDay, 0, 0, 0, 0});
  }

  void append_record(std::uint32_t thread, char kind, std::string_view text) {
    const std::size_t size = record_size(text.size());
    DWORD written = 0;
    if (size < kStackRecordLimit) {
      std::array<std::uint8_t, kStackRecordLimit> buf;
      const std::size_t n = encode_record(thread, kind, text, buf.data());
      WriteFile(file_.get(), buf.data(), static_cast<DWORD>(n), &written, nullptr);
    } else {
      std::vector<std::uint8_t> buf(size);
      const std::size_t n = encode_record(thread, kind, text, buf.data());
      WriteFile(file_.get(), buf.data(), static_cast<DWORD>(n), &written, nullptr);
    }
  }

  std::wstring path_;
  HMODULE module_;
  std::wstring trace_dir_;
  unique_hfile file_;
  bool failed_ = false;
  bool new_file_ = false;
};

}  // namespace

std::string trace_file_header(HMODULE module) {
  std::string h = "trace3\r\n";
  char buf[512];
  std::snprintf(buf, sizeof buf, "Compiled: %s %s\r\n", __DATE__, __TIME__);
  h += buf;
  h += os_lines();
  char machine[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD len = sizeof machine;
  if (!GetComputerNameA(machine, &len)) machine[0] = 0;
  std::snprintf(buf, sizeof buf, "Machine name: %s\r\n", machine);
  h += buf;
  std::snprintf(buf, sizeof buf, "Trace Ver: %s\r\n", kTraceVersion);
  h += buf;
  h += file_version_line(module);
  h += product_lines();
  h += installation_line();
  SYSTEMTIME st;
  GetLocalTime(&st);
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d.%03d\r\n", st.wMonth, st.wDay, st.wYear, st.wHour,
                st.wMinute, st.wSecond, st.wMilliseconds);
  h += buf;
  h += ".\r\n";
  return h;
}

std::unique_ptr<outputstorageinterface_t> make_file_output(std::wstring path, HMODULE module, std::wstring trace_dir) {
  return std::make_unique<outputstoragefile_t>(std::move(path), module, std::move(trace_dir));
}

}  // namespace tracecore
