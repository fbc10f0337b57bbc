#include "tracecore/realtracer.h"

#include <cstdarg>
#include <cstdio>
#include <cwctype>
#include <string_view>

#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace tracecore {
namespace {

bool query_number(HKEY key, const wchar_t* name, DWORD& out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD v = 0;
    size = sizeof v;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS) return false;
    out = v;
    return true;
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS) return false;
    wchar_t* end = nullptr;
    const long v = std::wcstol(text.c_str(), &end, 0);
    if (end == text.c_str()) return false;
    out = static_cast<DWORD>(v);
    return true;
  }
  return false;
}

// REG_SZ, REG_EXPAND_SZ (expanded) and REG_MULTI_SZ (entries joined by ';').
bool query_text(HKEY key, const wchar_t* name, std::wstring& out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
  std::wstring text(size / sizeof(wchar_t) + 2, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS) return false;
  text.resize(size / sizeof(wchar_t));
  if (type == REG_MULTI_SZ) {
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    for (auto& c : text) if (c == L'\0') c = L';';
  } else {
    text.resize(wcsnlen(text.c_str(), text.size()));
  }
  if (type == REG_EXPAND_SZ) {
    std::wstring expanded(32768, L'\0');
    const DWORD n = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
    if (n > 0 && n <= expanded.size()) text.assign(expanded.c_str());
  }
  out = std::move(text);
  return true;
}

bool iequal(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

template <class Fn>
FARPROC kernel32_proc(const char* name) {
  HMODULE k32 = GetModuleHandleW(L"Kernel32.dll");
  return k32 ? GetProcAddress(k32, name) : nullptr;
}

}  // namespace

bool component_listed(std::wstring_view list, std::wstring_view module) {
  std::wstring_view stem = module;
  if (stem.size() > 4 && iequal(stem.substr(stem.size() - 4), L".dll")) stem.remove_suffix(4);
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = list.find_first_of(L";, \t\r\n", pos);
    if (end == std::wstring_view::npos) end = list.size();
    const std::wstring_view entry = list.substr(pos, end - pos);
    if (!entry.empty() && (entry == L"*" || iequal(entry, module) || iequal(entry, stem))) return true;
    pos = end + 1;
  }
  return false;
}

trace_config_t read_trace_config(const wchar_t* module_name) {
  trace_config_t c;
  unique_hkey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTracingKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return c;
  DWORD vlt = 0;
  c.wanted = query_number(key.get(), L"VltTrace", vlt) && static_cast<LONG>(vlt) > 0;
  std::wstring components, excluded;
  query_text(key.get(), L"Components", components);
  query_text(key.get(), L"ComponentsNOT", excluded);
  c.listed = component_listed(components, module_name) && !component_listed(excluded, module_name);
  query_number(key.get(), L"TraceToFile", c.trace_to_file);
  query_number(key.get(), L"NewFileAlways", c.new_file_always);
  query_number(key.get(), L"vlt_kxffcli", c.mask);
  query_text(key.get(), L"TracePath", c.trace_path);
  query_text(key.get(), L"FileName", c.file_name);
  return c;
}

std::wstring trace_file_name(const trace_config_t& config, int mode, const wchar_t* module_name) {
  std::wstring dir = config.trace_path;
  if (dir.empty()) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n > 0 && n <= MAX_PATH) dir = temp;
  }
  const wchar_t* sep = !dir.empty() && dir.back() != L'\\' && dir.back() != L'/' ? L"\\" : L"";
  DWORD session = 0;
  using session_fn = BOOL(WINAPI*)(DWORD, DWORD*);
  if (auto fn = reinterpret_cast<session_fn>(
          reinterpret_cast<void*>(kernel32_proc<session_fn>("ProcessIdToSessionId"))))
    fn(GetCurrentProcessId(), &session);
  const DWORD pid = mode == mode_newfile ? GetCurrentProcessId() : 0;
  const std::wstring base = config.file_name.empty() ? L"trace" : config.file_name;
  wchar_t name[2 * MAX_PATH];
  _snwprintf(name, sizeof name / sizeof name[0], L"%s%s%s%s.%s.%d.%d%hs", dir.c_str(), sep, L"0.vlt_",
             base.c_str(), module_name, static_cast<int>(session), static_cast<int>(pid), ".trc3");
  name[sizeof name / sizeof name[0] - 1] = 0;
  return name;
}

realtracer_t::realtracer_t(HMODULE module, const wchar_t* module_name)
    : module_(module), module_name_(module_name) {
  wchar_t name[64];
  _snwprintf(name, 64, L"Global\\%s_%04X", L"KXMAX_tracemutex", static_cast<unsigned>(GetCurrentProcessId()));
  name[63] = 0;
  mutex_.reset(CreateMutexW(nullptr, FALSE, name));
  if (!mutex_ && GetLastError() == ERROR_ACCESS_DENIED) mutex_.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
  configure();
}

realtracer_t::~realtracer_t() = default;

bool realtracer_t::vlt_trace_once() {
  std::call_once(vlt_checked_, [this] { vlt_wanted_ = read_trace_config(module_name_.c_str()).wanted; });
  return vlt_wanted_;
}

trace_config_t realtracer_t::config() const {
  std::lock_guard<std::mutex> g(config_lock_);
  return config_;
}

int realtracer_t::output_mode() {
  const trace_config_t config = read_trace_config(module_name_.c_str());
  {
    std::lock_guard<std::mutex> g(config_lock_);
    config_ = config;
  }
  if (!config.wanted || !config.listed) return mode_nowhere;
  switch (config.trace_to_file) {
    case 1:
      return static_cast<LONG>(config.new_file_always) > 0 ? mode_newfile : mode_file;
    case 3:
      return mode_console;
    case 4: {
      using present_fn = BOOL(WINAPI*)();
      auto fn = reinterpret_cast<present_fn>(reinterpret_cast<void*>(kernel32_proc<present_fn>("IsDebuggerPresent")));
      return fn && fn() ? mode_debugger : mode_console;
    }
    default:
      return mode_nowhere;
  }
}

std::string realtracer_t::output_file_name() { return to_utf8(file_name()); }

std::wstring realtracer_t::file_name() const {
  return trace_file_name(config(), mode() == mode_file ? mode_file : mode_newfile, module_name_.c_str());
}

std::unique_ptr<outputstorageinterface_t> realtracer_t::make_output(int mode) {
  switch (mode) {
    case mode_file:
    case mode_newfile: {
      const trace_config_t c = config();
      return make_file_output(trace_file_name(c, mode, module_name_.c_str()), module_, c.trace_path);
    }
    case mode_console:
      return make_console_output();
    case mode_debugger:
      return make_debugger_output();
    default:
      return std::make_unique<outputstoragenowhere_t>();
  }
}

std::uint32_t realtracer_t::read_category_mask() { return config().mask; }

void realtracer_t::store_category_mask(std::uint32_t mask) {
  const std::wstring value = std::wstring(L"vlt_") + to_wide(kComponentName);
  unique_hkey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTracingKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) return;
  if (mask) {
    const DWORD v = mask;
    RegSetValueExW(key.get(), value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  } else {
    RegDeleteValueW(key.get(), value.c_str());
  }
}

local_time_t realtracer_t::local_time() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::uint32_t realtracer_t::tick_count() { return GetTickCount(); }
std::uint32_t realtracer_t::thread_id() { return GetCurrentThreadId(); }

void realtracer_t::lock_records() {
  held_ = acquire_mutex(mutex_.get(), lock_timed_out_ ? 0 : kRecordLockTimeout);
  lock_timed_out_ = mutex_ && !held_;
}
void realtracer_t::unlock_records() { held_.unlock(); }

}  // namespace tracecore

namespace tracecore {

void error_lastf(const char* format, ...) {
  const DWORD last = GetLastError();  // before anything else can change it
  if (!on()) return;
  // HRESULT_FROM_WIN32 for plain system error codes; values with facility bits stay as they are.
  const std::int32_t code = (last & 0xFFFF0000u) ? static_cast<std::int32_t>(last)
                                                  : static_cast<std::int32_t>(HRESULT_FROM_WIN32(last));
  char stack[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(stack, sizeof stack, format, args);
  va_end(args);
  std::string text = std::to_string(code) + " ";
  if (n >= 0) text.append(stack, static_cast<size_t>(n) < sizeof stack ? n : sizeof stack - 1);
  tracer().write(kind_error, text);
  SetLastError(last);
}

}  // namespace tracecore
