// Removal of old trace files, once per process.
//
// Which files: only this component's own trace files, "0.vlt_*.MozillaKXAgentClient.dll.*.trc3" in
// the trace folder, last written more than kKeepDays days ago, and never the file this process
// writes. The trace folder may be any folder, so nothing else in it is ever touched. A file that
// cannot be removed now (open in another process) is removed at the next restart.
#include <windows.h>

#include "tracecore/realtracer.h"

namespace tracecore {
namespace {

constexpr ULONGLONG kKeepDays = 7;
constexpr ULONGLONG kTicksPerDay = 10000000ULL * 60 * 60 * 24;

ULONGLONG as_ticks(const FILETIME& ft) { return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

bool same_path(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

void clean_old_trace_files(const std::wstring& dir, const std::wstring& current) {
  if (dir.empty()) return;
  unique_handle mutex(CreateMutexW(nullptr, FALSE, kCleanupMutex));
  // Made by another user's process: opened with the right to release it again after the pass.
  if (!mutex) mutex.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kCleanupMutex));
  const mutex_lock_t held = acquire_mutex(mutex.get(), 0);
  if (!held) return;  // another component is cleaning right now

  std::wstring base = dir;
  if (base.back() != L'\\' && base.back() != L'/') base += L'\\';
  const std::wstring pattern = base + L"0.vlt_*." + kModuleName + L".*.trc3";
  FILETIME now_ft;
  GetSystemTimeAsFileTime(&now_ft);
  const ULONGLONG now = as_ticks(now_ft);

  WIN32_FIND_DATAW fd;
  unique_hfind find(FindFirstFileW(pattern.c_str(), &fd));
  if (!find) return;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring path = base + fd.cFileName;
    if (same_path(path, current)) continue;
    if (now - as_ticks(fd.ftLastWriteTime) < kKeepDays * kTicksPerDay) continue;
    if (!DeleteFileW(path.c_str())) MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  } while (FindNextFileW(find.get(), &fd));
}

}  // namespace tracecore
