#include "include_extension/UtilsWin.h"

#include "tracecore/trace.h"

namespace {

constexpr wchar_t kTopLevelClass[] = L"MozillaWindowClass";
constexpr wchar_t kContentClass[] = L"MozillaContentWindowClass";
constexpr LONG kPopupStyle = 0x00C00080;   // caption and modal frame
constexpr LONG kPopupExStyle = 0x00000001;  // dialog modal frame

bool has_class(HWND hwnd, const wchar_t* name) {
  wchar_t buffer[260];
  const int n = GetClassNameW(hwnd, buffer, 260);
  return n > 0 && lstrcmpiW(buffer, name) == 0;
}

struct class_search_t {
  const wchar_t* name;
  HWND found = nullptr;
};

BOOL CALLBACK match_class(HWND hwnd, LPARAM lparam) {
  auto* search = reinterpret_cast<class_search_t*>(lparam);
  if (!has_class(hwnd, search->name)) return TRUE;
  search->found = hwnd;
  return FALSE;
}

BOOL CALLBACK match_popup(HWND hwnd, LPARAM lparam) {
  auto* search = reinterpret_cast<popup_search_t*>(lparam);
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  const LONG exstyle = GetWindowLongW(hwnd, GWL_EXSTYLE);
  if ((style & kPopupStyle) != kPopupStyle || (exstyle & kPopupExStyle) == 0) return TRUE;
  const HWND owner = GetWindow(hwnd, GW_OWNER);
  if (!IsWindow(owner) || owner != search->hwndTopLevel) return TRUE;
  search->hwndPopupAuth = hwnd;
  return FALSE;
}

unsigned handle_bits(HWND h) { return static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(h)); }

}  // namespace

HWND findTopLevel() {
  class_search_t search{kTopLevelClass};
  EnumThreadWindows(GetCurrentThreadId(), match_class, reinterpret_cast<LPARAM>(&search));
  KXTRACE("Found hwnd = %p", static_cast<void*>(search.found));
  return search.found;
}

HWND findBrowserContent(HWND top) {
  class_search_t search{kContentClass};
  EnumChildWindows(top, match_class, reinterpret_cast<LPARAM>(&search));
  return search.found && IsWindowVisible(search.found) ? search.found : nullptr;
}

HWND findPopupAuth(HWND top) {
  popup_search_t search;
  search.hwndTopLevel = top;
  EnumThreadWindows(GetCurrentThreadId(), match_popup, reinterpret_cast<LPARAM>(&search));
  KXTRACE("Found hwndTopLevel = %08X, hwndPopupAuth = %X", handle_bits(search.hwndTopLevel),
          handle_bits(search.hwndPopupAuth));
  return search.hwndPopupAuth;
}

HWND findPageWindow(HWND top) {
  HWND window = findPopupAuth(top);
  if (!IsWindow(window)) window = findBrowserContent(top);
  if (!IsWindow(window)) return nullptr;
  return GetWindow(window, GW_CHILD);
}
