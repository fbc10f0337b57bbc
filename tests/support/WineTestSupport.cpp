#include "tests/support/WineTestSupport.h"

#include <fstream>
#include <iterator>

#include "tracecore/realtracer.h"
#include "tracecore/utf.h"
#include "tracecore/win_handles.h"

namespace kxtest {

scratch_dir_t::scratch_dir_t(const wchar_t* tag) {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  path_ = std::wstring(temp) + L"kxtest_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(GetTickCount());
  CreateDirectoryW(path_.c_str(), nullptr);
}

scratch_dir_t::~scratch_dir_t() {
  for (const auto& f : files()) DeleteFileW(f.c_str());
  RemoveDirectoryW(path_.c_str());
}

std::vector<std::wstring> scratch_dir_t::files(const wchar_t* pattern) const {
  std::vector<std::wstring> out;
  WIN32_FIND_DATAW fd;
  tracecore::unique_hfind find(FindFirstFileW((path_ + L"\\" + pattern).c_str(), &fd));
  if (!find) return out;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(path_ + L"\\" + fd.cFileName);
  } while (FindNextFileW(find.get(), &fd));
  return out;
}

namespace {

void clear_key() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, tracecore::kTracingKey); }

tracecore::unique_hkey open_key(REGSAM access) {
  tracecore::unique_hkey key;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, tracecore::kTracingKey, 0, nullptr, 0, access, nullptr, key.put(), nullptr);
  return key;
}

}  // namespace

tracing_registry_t::tracing_registry_t() {
  clear_key();
  open_key(KEY_WRITE);
}

tracing_registry_t::~tracing_registry_t() { clear_key(); }

void tracing_registry_t::set(const wchar_t* name, DWORD value) {
  auto key = open_key(KEY_WRITE);
  RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void tracing_registry_t::set(const wchar_t* name, const std::wstring& value) {
  auto key = open_key(KEY_WRITE);
  RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void tracing_registry_t::remove(const wchar_t* name) {
  auto key = open_key(KEY_WRITE);
  RegDeleteValueW(key.get(), name);
}

bool tracing_registry_t::has(const wchar_t* name) const {
  auto key = open_key(KEY_READ);
  return RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD tracing_registry_t::number(const wchar_t* name) const {
  auto key = open_key(KEY_READ);
  DWORD v = 0, size = sizeof v;
  if (RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS) return 0;
  return v;
}

void tracing_registry_t::trace_to(const std::wstring& dir, DWORD new_file_always) {
  set(L"VltTrace", 1);
  set(L"Components", std::wstring(L"MozillaKXAgentClient.dll"));
  set(L"TracePath", dir);
  set(L"FileName", std::wstring(L"test"));
  set(L"NewFileAlways", new_file_always);
}

tracecore::decoded_file_t read_trace(const std::wstring& path) {
  std::ifstream in(tracecore::to_utf8(path), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return tracecore::decode_file(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::vector<tracecore::decoded_record_t> content_records(const tracecore::decoded_file_t& file) {
  std::vector<tracecore::decoded_record_t> out;
  for (const auto& r : file.records)
    if (r.kind != 't' && r.kind != 'T') out.push_back(r);
  return out;
}

}  // namespace kxtest
