// Support for tests that run under Wine: a scratch folder, the tracing registry key, and reading
// the trace files that a test produced.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tracecore/record.h"

namespace kxtest {

// A fresh folder under the temporary folder, removed with its files when the object goes.
class scratch_dir_t {
 public:
  explicit scratch_dir_t(const wchar_t* tag);
  ~scratch_dir_t();
  const std::wstring& path() const { return path_; }
  std::vector<std::wstring> files(const wchar_t* pattern = L"*") const;  // full paths

 private:
  std::wstring path_;
};

// Sets values under HKLM\SOFTWARE\Kestrix\Tracing for the life of the object; the key is emptied
// before and removed after, so every test starts from "tracing off".
class tracing_registry_t {
 public:
  tracing_registry_t();
  ~tracing_registry_t();
  void set(const wchar_t* name, DWORD value);
  void set(const wchar_t* name, const std::wstring& value);
  void remove(const wchar_t* name);
  bool has(const wchar_t* name) const;
  DWORD number(const wchar_t* name) const;  // 0 when absent
  // Tracing to files in |dir| for this component.
  void trace_to(const std::wstring& dir, DWORD new_file_always = 1);
};

// Decodes a whole trace file.
tracecore::decoded_file_t read_trace(const std::wstring& path);

// Records other than date and time records.
std::vector<tracecore::decoded_record_t> content_records(const tracecore::decoded_file_t& file);

}  // namespace kxtest
