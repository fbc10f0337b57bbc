// Opening the agent's lookup section for one lookup, read-only.
#include <windows.h>

#include <atomic>
#include <span>

#include "environment/LookupCache.h"
#include "tracecore/trace.h"
#include "tracecore/win_handles.h"

namespace lookupcache {

namespace {

constexpr wchar_t section_name[] = L"KX_VLT_LOOKUP_CACHE";

// A missing section is reported in full once per module life, then briefly.
std::atomic<bool> first_miss{true};

}  // namespace

std::u16string cached_url(std::u16string_view url, bool traceOn) {
  // Only read: the mapping is opened for reading and its view is a read-only one, so nothing here
  // can write into the agent's index, and a section the agent shares read-only opens too.
  tracecore::unique_handle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, section_name));
  if (!mapping) {
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
  tracecore::unique_view view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) {
    KXERROR_CODE(HRESULT_FROM_WIN32(GetLastError()), "MapViewOfFile");
    return {};
  }
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view.get(), &info, sizeof info) != sizeof info) return {};
  const std::span<const std::uint8_t> section(static_cast<const std::uint8_t*>(view.get()), info.RegionSize);
  return cached_url(section, url, traceOn);
}

}  // namespace lookupcache
