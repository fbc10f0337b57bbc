// The browser windows the feedback icon follows: which windows are browser frames, the content
// window the icon is aligned to, whether the icon may show, and keeping the icon's z-order and
// topmost style in step with the browser.
#pragma once

#include <windows.h>

#include <string>

namespace ffagent_window {

// The window properties of the feedback UI, global atoms registered once.
const wchar_t* property_alignwindow();  // "KXMAX_AlignWindow": on an align window, its target
const wchar_t* property_winid();        // "KXMAX_WinID": the identity number used with menu messages
const wchar_t* property_rdcommwin();    // "KXMAX_RdCommWin": the communication window of a window

bool is_child_window(HWND hwnd);
// Up through the parents while the window is a live child window.
HWND root_of(HWND hwnd);
// A top-level "MozillaWindowClass" window or a "MozillaUIWindowClass" window.
bool is_firefox_frame(HWND hwnd);

// The kind text of a target window: "FFFrame" for a Firefox frame; "IEFrame" for an Internet
// Explorer frame, "TabWindowClass" for one with tabs (or its tab window), which the component never
// targets; for any other window |kind| as given, or when that is empty the process-wide default.
std::wstring browser_kind(HWND window, std::wstring kind = {});
// "OtherFrame": the kind text of windows that are no browser frame known here.
const wchar_t* default_browser_kind();

// The browser's content window for |target|: a top-level "MozillaWindowClass" target itself; for
// other frames the first visible "MozillaContentWindowClass" child; none for anything else.
HWND content_window(HWND target);
// The window the icon is aligned to: the content window, or the target when there is none.
HWND align_window(HWND target);
// Recomputes |align| for |target| and marks it with "KXMAX_AlignWindow" when it is not the target.
void track_align_window(HWND target, HWND& align);

struct may_show_t {
  HWND root = nullptr;
  bool flag = false;
};
// The icon may show while the target's root is the foreground window and the target is visible
// and not minimised; a target whose "KXMAX_WinID" is 274 must also be the uppermost of its siblings.
may_show_t may_show(HWND target);

// Puts |icon| just above |align| in the z-order of top-level windows unless it already lies above
// it, then synchronises the topmost style.
void syncronize_zorder(HWND align, HWND icon);
// Gives |icon| the topmost style of |align|.
void syncronize_topstyle(HWND align, HWND icon);

// "hwnd=0", "<handle> '<class>' "<title>"", or |dead| for a handle that is not a window.
std::string describe(HWND hwnd, const char* dead = "INVALID_HWND");

}  // namespace ffagent_window
