#include "feedback/WindowTracking.h"

#include <cstdio>

#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace ffagent_window {
namespace {

struct atoms_t {
  ATOM alignwindow = GlobalAddAtomW(L"KXMAX_AlignWindow");
  ATOM winid = GlobalAddAtomW(L"KXMAX_WinID");
  ATOM rdcommwin = GlobalAddAtomW(L"KXMAX_RdCommWin");
};
const atoms_t& atoms() {
  static const atoms_t instance;
  return instance;
}

bool class_is(HWND hwnd, const wchar_t* name) {
  wchar_t cls[256] = {};
  return GetClassNameW(hwnd, cls, 256) > 0 && lstrcmpiW(cls, name) == 0;
}

BOOL CALLBACK first_visible_content(HWND child, LPARAM found) {
  if (class_is(child, L"MozillaContentWindowClass") && IsWindowVisible(child)) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

// Walks the top-level windows from the top until |align|, noting whether |icon| came first.
struct zorder_walk_t {
  HWND align;
  HWND icon;
  bool icon_seen = false;
};
BOOL CALLBACK walk_zorder(HWND hwnd, LPARAM walk) {
  auto* w = reinterpret_cast<zorder_walk_t*>(walk);
  if (hwnd == w->align) return FALSE;
  if (hwnd == w->icon) {
    w->icon_seen = true;
    return FALSE;
  }
  return TRUE;
}

bool lies_above(HWND icon, HWND align) {
  if (!IsWindow(icon)) return false;
  if (!IsWindow(align)) return true;
  zorder_walk_t walk{align, icon};
  EnumWindows(&walk_zorder, reinterpret_cast<LPARAM>(&walk));
  return walk.icon_seen;
}

bool topmost(HWND hwnd) { return (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

constexpr UINT kPlaceOnly = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;  // 0x13

}  // namespace

const wchar_t* property_alignwindow() { return MAKEINTATOM(atoms().alignwindow); }
const wchar_t* property_winid() { return MAKEINTATOM(atoms().winid); }
const wchar_t* property_rdcommwin() { return MAKEINTATOM(atoms().rdcommwin); }

bool is_child_window(HWND hwnd) { return (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) != 0; }

HWND root_of(HWND hwnd) {
  while (IsWindow(hwnd) && is_child_window(hwnd)) {
    HWND parent = GetParent(hwnd);
    if (!IsWindow(parent)) break;
    hwnd = parent;
  }
  return hwnd;
}

bool is_firefox_frame(HWND hwnd) {
  if (!IsWindow(hwnd)) return false;
  if (class_is(hwnd, L"MozillaUIWindowClass")) return true;
  return class_is(hwnd, L"MozillaWindowClass") && !is_child_window(hwnd);
}

namespace {
BOOL CALLBACK find_tab_window(HWND child, LPARAM found) {
  if (!class_is(child, L"TabWindowClass")) return TRUE;
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}
}  // namespace

const wchar_t* default_browser_kind() { return L"OtherFrame"; }

std::wstring browser_kind(HWND window, std::wstring kind) {
  if (is_firefox_frame(window)) return L"FFFrame";
  if (IsWindow(window) && class_is(window, L"TabWindowClass")) return L"TabWindowClass";
  if (IsWindow(window) && class_is(window, L"IEFrame")) {
    bool tabs = false;
    EnumChildWindows(window, &find_tab_window, reinterpret_cast<LPARAM>(&tabs));
    return tabs ? L"TabWindowClass" : L"IEFrame";
  }
  return kind.empty() ? std::wstring(default_browser_kind()) : kind;
}

HWND content_window(HWND target) {
  HWND found = nullptr;
  if (is_firefox_frame(target)) {
    if (class_is(target, L"MozillaWindowClass") && !is_child_window(target))
      found = target;
    else
      EnumChildWindows(target, &first_visible_content, reinterpret_cast<LPARAM>(&found));
  }
  return found;
}

HWND align_window(HWND target) {
  HWND content = content_window(target);
  return content ? content : target;
}

void track_align_window(HWND target, HWND& align) {
  align = align_window(target);
  if (align != target && IsWindow(align)) SetPropW(align, property_alignwindow(), target);
}

may_show_t may_show(HWND target) {
  may_show_t r;
  r.root = root_of(target);
  r.flag = IsWindow(r.root) && r.root == GetForegroundWindow();
  if (r.flag) r.flag = IsWindowVisible(target) && !IsIconic(target);
  if (r.flag && reinterpret_cast<UINT_PTR>(GetPropW(target, property_winid())) == 274) {
    HWND parent = GetParent(target);
    r.flag = !parent || GetWindow(parent, GW_CHILD) == target;
  }
  return r;
}

void syncronize_zorder(HWND align, HWND icon) {
  if (!IsWindow(icon) || is_child_window(icon)) return;
  if (!lies_above(icon, align)) {
    HWND after = GetWindow(align, GW_HWNDPREV);
    if (after == icon) return;
    if (!SetWindowPos(icon, after ? after : HWND_TOP, 0, 0, 0, 0, kPlaceOnly)) {
      KXTRACE("'`I04`'  Align:[%s]", describe(align).c_str());
      KXTRACE("'`I04`'  After:[%s]", describe(after).c_str());
      KXERROR_LAST("syncronize_zorder");
      return;
    }
  }
  syncronize_topstyle(align, icon);
}

void syncronize_topstyle(HWND align, HWND icon) {
  if (!IsWindow(align) || !IsWindow(icon)) return;
  const bool on_top = topmost(align);
  if (on_top == topmost(icon)) return;
  // HWND_TOP would leave a topmost icon topmost: only HWND_NOTOPMOST takes the style away.
  if (!SetWindowPos(icon, on_top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, kPlaceOnly))
    KXERROR_LAST("syncronize_topstyle");
}

std::string describe(HWND hwnd, const char* dead) {
  if (!hwnd) return "hwnd=0";
  if (!IsWindow(hwnd)) return dead;
  wchar_t cls[256] = {}, title[256] = {};
  GetClassNameW(hwnd, cls, 256);
  GetWindowTextW(hwnd, title, 256);
  char handle[32];
  std::snprintf(handle, sizeof handle, "%p", static_cast<void*>(hwnd));
  return std::string(handle) + " '" + tracecore::to_utf8(std::wstring_view(cls)) + "' \"" +
         tracecore::to_utf8(std::wstring_view(title)) + "\"";
}

}  // namespace ffagent_window
