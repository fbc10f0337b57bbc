// Opening the agent's lookup section for one lookup.
#include <windows.h>

#include <atomic>
#include <span>

#include "environment/LookupCache.h"
#include "tracecore/trace.h"

namespace lookupcache {

namespace {

constexpr wchar_t section_name[] = L"KX_VLT_LOOKUP_CACHE";

// A missing section is reported in full once per module life, then briefly.
std::atomic<bool> first_miss{true};

class mapping_t {
 public:
  explicit mapping_t(HANDLE h) : handle_(h) {}
  ~mapping_t() {
    if (handle_) CloseHandle(handle_);
  }
  mapping_t(const mapping_t&) = delete;
  mapping_t& operator=(const mapping_t&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class view_t {
 public:
  explicit view_t(void* v) : view_(v) {}
  ~view_t() {
    if (view_) UnmapViewOfFile(view_);
  }
  view_t(const view_t&) = delete;
  view_t& operator=(const view_t&) = delete;
  void* get() const { return view_; }

 private:
  void* view_;
};

}  // namespace

std::u16string cached_url(std::u16string_view url, bool traceOn) {
  mapping_t mapping(OpenFileMappingW(FILE_MAP_WRITE, FALSE, section_name));
  if (!mapping.get()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      if (first_miss.exchange(false))
        KXERROR_CODE(HRESULT_FROM_WIN32(error), "MMF: cannot open file mapping '%s'", "KX_VLT_LOOKUP_CACHE");
      else
        KXTRACE("'`I04`'MMF: cannot open file mapping '%s'", "KX_VLT_LOOKUP_CACHE");
    } else {
      KXERROR_CODE(HRESULT_FROM_WIN32(error), "OpenFileMapping");
    }
    return {};
  }
  // The whole section; its size is the size of the region the view covers.
  view_t view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (!view.get()) {
    KXERROR_CODE(HRESULT_FROM_WIN32(GetLastError()), "MapViewOfFile");
    return {};
  }
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view.get(), &info, sizeof info) != sizeof info) return {};
  const std::span<const std::uint8_t> section(static_cast<const std::uint8_t*>(view.get()), info.RegionSize);
  return cached_url(section, url, traceOn);
}

}  // namespace lookupcache
