// The Windows facts of manifest creation: window title and class, command line, environment,
// GUIDs and the system clock.
#include <objbase.h>
#include <windows.h>

#include <stdexcept>
#include <string>

#include "manifest/CreateFromWindow.h"
#include "tracecore/utf.h"
#include "manifest/ManifestCreation.h"

namespace manifest {
namespace {

std::u16string fromWide(const wchar_t* text, std::size_t size) { return tracecore::as_u16(text, size); }

std::u16string windowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring buf(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(window, buf.data(), length + 1);
  return fromWide(buf.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
}

std::u16string className(HWND window) {
  wchar_t buf[261] = {};
  const int got = GetClassNameW(window, buf, 261);
  return fromWide(buf, got > 0 ? static_cast<std::size_t>(got) : 0);
}

}  // namespace

creation_sources_t processSources() {
  creation_sources_t s;
  s.newGuid = [] {
    GUID g{};
    guid_t out;
    if (SUCCEEDED(CoCreateGuid(&g))) {
      out.data1 = g.Data1;
      out.data2 = g.Data2;
      out.data3 = g.Data3;
      for (int i = 0; i < 8; ++i) out.data4[i] = g.Data4[i];
    }
    return out;
  };
  s.now = [] {
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  };
  const wchar_t* line = GetCommandLineW();
  if (line) s.commandLine = fromWide(line, wcslen(line));
  s.environment = [](std::u16string_view name, std::u16string& value) {
    const std::wstring wname(name.begin(), name.end());
    const DWORD size = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (size == 0) return false;
    std::wstring buf(size, L'\0');
    const DWORD got = GetEnvironmentVariableW(wname.c_str(), buf.data(), size);
    if (got == 0 || got >= size) return false;
    value = fromWide(buf.data(), got);
    return true;
  };
  return s;
}

void createmanifest_from_controls(HWND window, const std::vector<ffcontrol_record>& controls,
                                  const ffstring_table& strings, Manifest& m) {
  const std::u16string cls = className(window);
  std::u16string title = windowText(window);
  if (title.find_first_not_of(u" \t\v\r\n") == std::u16string::npos) title = cls;
  const std::u16string caption = stripBrowserSuffix(title);
  InitManifest(caption, cls, controls, strings, m, processSources());
  if (m.forms.empty()) throw std::runtime_error("no forms created");
}

}  // namespace manifest
