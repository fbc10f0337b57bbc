// The tracer of the running component: configuration from the registry, the process-wide trace
// mutex, and the file, console and debugger outputs.
#pragma once

#if !defined(_WIN32)
#error "Windows only"
#endif

#include <windows.h>

#include <mutex>
#include <string>

#include "tracecore/tracer.h"
#include "tracecore/win_handles.h"

namespace tracecore {

inline constexpr const wchar_t* kTracingKey = L"SOFTWARE\\Kestrix\\Tracing";
inline constexpr const wchar_t* kModuleName = L"MozillaKXAgentClient.dll";
inline constexpr const char* kTraceVersion = "3.0.2";
// The longest a record waits for the process-wide trace mutex. A record whose wait runs out is
// written all the same (the tracer's own lock still keeps this component's records whole), and
// until the mutex is taken again the later records do not wait at all, so a holder that hangs
// cannot hold the browser's threads.
inline constexpr DWORD kRecordLockTimeout = 1000;  // ms

// What the registry says about tracing, read in one pass.
struct trace_config_t {
  bool wanted = false;          // "VltTrace"
  bool listed = false;          // in "Components" and not in "ComponentsNOT"
  DWORD trace_to_file = 1;      // "TraceToFile"
  DWORD new_file_always = 1;    // "NewFileAlways"
  DWORD mask = 0;               // "vlt_kxffcli"
  std::wstring trace_path;      // "TracePath"
  std::wstring file_name;       // "FileName"
};
trace_config_t read_trace_config(const wchar_t* module_name);

// True when |list| names |module| (entries separated by ';', ',' or white space, compared without
// case, with or without the ".dll"; "*" names every module).
bool component_listed(std::wstring_view list, std::wstring_view module);

// The trace file of this process: <TracePath>\0.vlt_<FileName>.<module>.<session>.<pid or 0>.trc3
std::wstring trace_file_name(const trace_config_t& config, int mode, const wchar_t* module_name);

class realtracer_t final : public tracer_t {
 public:
  explicit realtracer_t(HMODULE module, const wchar_t* module_name = kModuleName);
  ~realtracer_t() override;

  std::string output_file_name() override;
  bool vlt_trace_once() override;
  int output_mode() override;

  std::wstring file_name() const;

 protected:
  std::unique_ptr<outputstorageinterface_t> make_output(int mode) override;
  std::uint32_t read_category_mask() override;
  void store_category_mask(std::uint32_t mask) override;
  local_time_t local_time() override;
  std::uint32_t tick_count() override;
  std::uint32_t thread_id() override;
  void lock_records() override;
  void unlock_records() override;

 private:
  trace_config_t config() const;

  HMODULE module_;
  std::wstring module_name_;
  mutable std::mutex config_lock_;  // config_: written by configure(), read by any thread
  trace_config_t config_;
  std::once_flag vlt_checked_;
  bool vlt_wanted_ = false;
  unique_handle mutex_;
  mutex_lock_t held_;         // under the tracer's lock
  bool lock_timed_out_ = false;  // under the tracer's lock
};

// Outputs.
std::unique_ptr<outputstorageinterface_t> make_file_output(std::wstring path, HMODULE module,
                                                           std::wstring trace_dir);
std::unique_ptr<outputstorageinterface_t> make_console_output();
// Takes the close command out of a window's system menu (the trace console's: closing a console
// ends the process it belongs to, here the browser).
void remove_close_command(HWND window);
std::unique_ptr<outputstorageinterface_t> make_debugger_output();

// The trace file header, as written at the start of an empty trace file.
std::string trace_file_header(HMODULE module);

// Shared by every component of the suite that cleans trace files: one pass at a time.
inline constexpr const wchar_t* kCleanupMutex = L"Global\\{5E0B3C71-2A9D-4F68-B1E4-8C7D2F60A913}";

// Once per process: removes this component's old trace files from |dir| (never |current|, never a
// file of another name); see cleanup.cpp for which ones.
void clean_old_trace_files(const std::wstring& dir, const std::wstring& current);

}  // namespace tracecore
