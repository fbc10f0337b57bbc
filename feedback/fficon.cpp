#include "feedback/fficon.h"

#include <windowsx.h>

#include <cstdlib>
#include <exception>

#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/window/Feedback.h"
#include "environment/Branding.h"
#include "environment/BrandingResources.h"
#include "environment/Settings.h"
#include "feedback/IconMenu.h"
#include "feedback/WindowTracking.h"
#include "tracecore/com_error.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace ffagent_window {
namespace {

using ffipc::kxmsg;
using ffipc::registered;

constexpr const wchar_t* kClassName = L"KX_LocalAvatarClass";
constexpr const wchar_t* kWindowName = L"KX_LocalAvatar";
constexpr UINT kFingerAnimMs = 2000;
constexpr UINT kHideBalloonMs = 8000;
constexpr int kAttachGap = 4;  // pixels between the control and the icon, at 96 dpi
constexpr UINT kFollowPageMs = 250;

const wchar_t* property_this() {
  static const ATOM atom = GlobalAddAtomW(L"KXMAX_This");
  return MAKEINTATOM(atom);
}

WPARAM window_identity(HWND target) { return reinterpret_cast<WPARAM>(GetPropW(target, property_winid())); }

// The communication window serving |target|: the one the target names, else the icon's owner.
HWND comm_window_for(HWND target, HWND owner) {
  HWND named = static_cast<HWND>(GetPropW(target, property_rdcommwin()));
  return IsWindow(named) ? named : (IsWindow(owner) ? owner : nullptr);
}

// WINDOWPOS of a forwarded message, read without faulting on a bad pointer.
bool read_windowpos(LPARAM lparam, WINDOWPOS& out) {
  SIZE_T got = 0;
  return lparam && ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(lparam), &out, sizeof out, &got) &&
         got == sizeof out;
}

std::string windowpos_flags(UINT flags) {
  static constexpr struct {
    UINT bit;
    const char* name;
  } kNames[] = {{SWP_NOSIZE, "NOSIZE"}, {SWP_NOMOVE, "NOMOVE"}, {SWP_NOZORDER, "NOZORDER"},
                {SWP_NOACTIVATE, "NOACTIVATE"}, {SWP_FRAMECHANGED, "FRAMECHANGED"},
                {SWP_SHOWWINDOW, "SHOWWINDOW"}, {SWP_HIDEWINDOW, "HIDEWINDOW"}};
  std::string text;
  for (const auto& n : kNames)
    if (flags & n.bit) text += (text.empty() ? "" : "|") + std::string(n.name);
  return text.empty() ? "0" : text;
}

bool register_class() {
  const HINSTANCE module = tracecore::this_module();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(module, kClassName, &wc)) return true;
  wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = &fficon::ffwproc;
  wc.hInstance = module;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  return RegisterClassExW(&wc) != 0;
}

}  // namespace

const char* sensor_state_name(int state) {
  static constexpr const char* kNames[] = {"uninit",     "waitingForFinger", "processing",        "goodResult",
                                           "badResult",  "badQuality",       "sensorDisconnected"};
  return state >= 0 && state < 7 ? kNames[state] : "unknown";
}

UINT scan_quality_message(int quality) {
  // By scan quality; 0 and 1 have no hint.
  static constexpr UINT kMessages[] = {
      0,                           0,                         IDS_KX_SCAN_POOR,          IDS_KX_SCAN_TOO_SHORT,
      IDS_KX_SCAN_TOO_FAST,        IDS_KX_SCAN_TOO_SLOW,      IDS_KX_SCAN_TO_ONE_SIDE,   IDS_KX_SCAN_NOT_RECOGNISED,
      IDS_KX_SCAN_PRESS_HARDER,    IDS_KX_SCAN_PRESS_LIGHTER, IDS_KX_SCAN_TOO_WET,       IDS_KX_SCAN_TWISTED,
      IDS_KX_SCAN_STOPPED,         IDS_KX_SCAN_FAINT,         IDS_KX_SCAN_TOO_DRY,       IDS_KX_SCAN_PARTIAL,
      IDS_KX_SCAN_NOT_STRAIGHT,    IDS_KX_SCAN_NOT_CENTRED,   IDS_KX_SCAN_CLEAN_SENSOR};
  if (quality < 0) return 0;
  return quality < static_cast<int>(std::size(kMessages)) ? kMessages[quality] : IDS_KX_SCAN_POOR;
}

int image_for_state(int state, bool click_enabled, bool cursor_inside) {
  switch (state) {
    case sensor_processing: return 5;
    case sensor_goodResult: return click_enabled ? 4 : 2;
    case sensor_badResult:
    case sensor_badQuality:
    case sensor_sensorDisconnected:
    case 9: return click_enabled ? 3 : 1;
    case kRestingState: return click_enabled ? (cursor_inside ? 5 : 6) : 0;
    default: return 6;
  }
}

bool is_result_image(int image) { return image >= 1 && image <= 4; }

int scaled_for_dpi(int value, UINT dpi) { return MulDiv(value, dpi ? static_cast<int>(dpi) : 96, 96); }

UINT window_dpi(HWND target) {
  // Looked up at run time: systems before Windows 10 have neither function.
  using for_window_t = UINT(WINAPI*)(HWND);
  static const auto for_window = reinterpret_cast<for_window_t>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (for_window && IsWindow(target)) {
    const UINT dpi = for_window(target);
    if (dpi) return dpi;
  }
  ffui::window_dc_t screen(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 96;
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

bool on_some_monitor(const RECT& frame) { return MonitorFromRect(&frame, MONITOR_DEFAULTTONULL) != nullptr; }

fficon::fficon() = default;

fficon::~fficon() { destroy_window(); }

bool fficon::createwindow(HWND target, HWND owner) {
  KXSCOPE("fficon::createwindow");
  if (window_) destroy_window();
  if (!register_class()) {
    KXERROR_LAST("cannot regclass");
    return false;
  }
  target_ = target;
  owner_ = owner;
  // Layered from the start: the icon is drawn with per-pixel alpha.
  HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_LAYERED, kClassName, kWindowName, WS_POPUP, 0, 0, 0, 0, nullptr,
                              nullptr, tracecore::this_module(), this);
  if (!IsWindow(hwnd)) {
    KXERROR_LAST("cannot create icon for %s", describe(target).c_str());
    return false;
  }
  window_.reset(hwnd);
  fingeranim_.bind(hwnd, timer_fingeranim, kFingerAnimMs);
  hideballoon_.bind(hwnd, timer_hideballoon, kHideBalloonMs);
  mouseclick_.bind(hwnd, timer_mouseclickevent, GetDoubleClickTime());
  resulthold_.bind(hwnd, timer_resulthold, kResultHoldMs);
  followpage_.bind(hwnd, timer_followpage, kFollowPageMs);
  track_align_window(target_, drawing_.attach_window);
  KXTRACE("'`I02`'target kind: %s", tracecore::to_utf8(browser_kind(target_)).c_str());
  drawing_.dpi = dpi_override_ ? dpi_override_ : window_dpi(target_);
  balloon_.set_dpi(drawing_.dpi);
  if (!drawing_.images.load(kxbranding::branding_library(), drawing_.dpi)) KXERROR("feedback image is missing");
  drawing_.size = drawing_.images.size();
  redraw(kRestingState, 0);
  KXTRACE("'`I02`'window create. all done (including init_engine).");
  return true;
}

void fficon::destroy_window() {
  try {
    if (window_) {
      drawing_.image = 0;
      pending_hide_ = false;
      balloon_.release();
      fingeranim_.stop();
      hideballoon_.stop();
      mouseclick_.stop();
      resulthold_.stop();
      followpage_.stop();
      window_.reset();
      target_ = nullptr;
      click_enabled_ = false;
      mouse_ = 0;
    }
    KXTRACE("destroyed");
  } catch (const std::exception& e) {
    KXERROR("std:%s", e.what());
  } catch (...) {
    KXERROR("oo");
  }
}

void fficon::show(int reason) {
  if (!window_) return;
  may_show_ = may_show(target_).flag;
  if (reason == 1 && !prompt_) enabled_ = false;
  if (!enabled_) return;
  pending_hide_ = false;
  click_enabled_ = may_show_;
  const bool placed = updatestate();
  if (placed && !IsWindowVisible(window_.get())) ShowWindow(window_.get(), SW_SHOWNOACTIVATE);
  followpage_.start();
  // Balloons point at an icon the user sees: a prompt that cannot show now is not spent.
  if (!may_show_ || !placed || !IsWindowVisible(window_.get())) return;
  if (reason == 1 && prompt_ && need_show_balloon_for_training()) {
    const auto texts = training_prompt_texts(kxsettings::is_personalmode(),
                                             kxsettings::settings().get_bool_default(L"is_sensorstateactive", false));
    balloon_.show(window_.get(), texts.title, texts.text, 1);
    hideballoon_.start();
  }
  if (reason == 2) {
    highlight_ = true;
    updatestate();
  }
}

void fficon::hide() {
  if (!window_) return;
  followpage_.stop();
  hide_window();
  balloon_.hide();
  click_enabled_ = false;
  highlight_ = false;
}

// A result image keeps the icon up until its time has passed.
void fficon::hide_window() {
  if (resulthold_.running()) {
    pending_hide_ = true;
    return;
  }
  if (IsWindowVisible(window_.get())) ShowWindow(window_.get(), SW_HIDE);
}

void fficon::set_dpi(UINT dpi) {
  dpi_override_ = dpi;
  if (window_) apply_dpi();
}

void fficon::apply_dpi() {
  const UINT dpi = dpi_override_ ? dpi_override_ : window_dpi(target_);
  if (dpi == drawing_.dpi) return;
  drawing_.dpi = dpi;
  balloon_.set_dpi(dpi);
  if (!drawing_.images.load(kxbranding::branding_library(), dpi)) KXERROR("feedback image is missing");
  drawing_.size = drawing_.images.size();
  reposition();
}

void fficon::redraw(int state, int frame) {
  drawing_.state = state;
  drawing_.frame = frame;
  updatestate();
}

void fficon::set_attach(const RECT& control) {
  drawing_.attach = control;
  reposition();
  if (window_ && IsWindowVisible(window_.get())) updatestate();
}

void fficon::reposition() {
  if (IsRectEmpty(&drawing_.attach)) {
    KXTRACE("'`I05`'empty attach rect on upd:");
    if (window_) ShowWindow(window_.get(), SW_HIDE);
    return;
  }
  drawing_.offset = {drawing_.attach.right + scaled_for_dpi(kAttachGap, drawing_.dpi) + drawing_.size.cx / 2,
                     (drawing_.attach.top + drawing_.attach.bottom) / 2};
}

bool fficon::updatestate() {
  KXSCOPE_IF(tracecore::cat_fb_drawing, "drawing::updatestate");
  if (!window_) return false;
  track_align_window(target_, drawing_.attach_window);
  HWND attach = drawing_.attach_window;
  if (!IsWindowVisible(target_) || IsIconic(target_) || !IsWindowVisible(attach) || IsRectEmpty(&drawing_.attach)) {
    KXTRACE("'`I05`'empty attach rect on get:");
    KXTRACE("'`I05`'  target:[%s]", describe(target_).c_str());
    KXTRACE("'`I05`'  attach:[%s]", describe(attach).c_str());
    KXTRACE("'`I05`'no able to get location should be hidden");
    hide_window();
    return false;
  }
  POINT origin{0, 0};
  ClientToScreen(attach, &origin);
  // The page's content area on the screen: a control scrolled out of it has no place for the icon,
  // and the icon never covers the browser's toolbars or leaves the browser.
  RECT content{};
  GetClientRect(attach, &content);
  OffsetRect(&content, origin.x, origin.y);
  content_seen_ = content;
  RECT field = drawing_.attach, visible{};
  OffsetRect(&field, origin.x, origin.y);
  if (!IntersectRect(&visible, &field, &content)) {
    KXTRACE("'`I05`'control outside the content area");
    KXTRACE("'`I05`'no able to get location should be hidden");
    hide_window();
    return false;
  }
  const SIZE size = drawing_.size;
  const POINT position{origin.x + drawing_.offset.x - size.cx / 2, origin.y + drawing_.offset.y - size.cy / 2};
  const RECT icon{position.x, position.y, position.x + size.cx, position.y + size.cy};
  if (!IntersectRect(&visible, &icon, &content)) {
    KXTRACE("'`I05`'icon outside the content area");
    hide_window();
    return false;
  }

  int image = image_for_state(drawing_.state, click_enabled_, (mouse_ & mouse_inside) != 0);
  if (resulthold_.running() && !is_result_image(image)) image = drawing_.image;  // the result stays up
  if (tracecore::category_on(tracecore::cat_fb_drawing))
    KXTRACE("state %d frame %d image %d at %ld,%ld", drawing_.state, drawing_.frame, image,
            static_cast<long>(position.x), static_cast<long>(position.y));
  const icon_image_t* picture = drawing_.images.image(image);
  std::optional<icon_image_t> blank;
  if (!picture && (blank = icon_image_t::blank(size))) picture = &*blank;
  if (picture) draw_layered(window_.get(), position, *picture, &content, &drawing_.shown);
  // A result newly drawn stays visible for a while; the thread goes on meanwhile.
  if (is_result_image(image) && image != drawing_.image) {
    resulthold_.stop();
    resulthold_.start();
  }
  drawing_.image = image;
  const bool moved = position.x != drawing_.position.x || position.y != drawing_.position.y;
  drawing_.position = position;
  if (moved && balloon_.shown()) balloon_.follow(window_.get());
  syncronize_zorder(root_of(attach), window_.get());
  return true;
}

LRESULT fficon::target_message(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (!window_) return 0;
  switch (msg) {
    case WM_ACTIVATE: {
      const bool active = LOWORD(wparam) == WA_ACTIVE || LOWORD(wparam) == WA_CLICKACTIVE;
      const bool minimised = HIWORD(wparam) != 0;
      if (minimised) {
        hide();
      } else if (active) {
        show(0);
      } else if (reinterpret_cast<HWND>(lparam) != target_) {
        // Another window in front: no clicks, no hover, and no balloon over someone else's window.
        click_enabled_ = false;
        mouse_ &= ~mouse_inside;
        balloon_.hide();
        updatestate();
        may_show_ = false;
      }
      return 0;
    }
    case WM_SHOWWINDOW:
      target_shown_ = wparam != 0;
      KXTRACE("%s", target_shown_ ? "SHOW" : "HIDE");
      return 0;
    case WM_WINDOWPOSCHANGED:
      window_pos_changed(lparam);
      return 0;
    default:
      break;
  }
  if (msg == registered(kxmsg::actionrequest_frhook) && lparam == 6) finger_activity(wparam);
  return 0;
}

void fficon::window_pos_changed(LPARAM lparam) {
  WINDOWPOS pos{};
  const bool have = read_windowpos(lparam, pos);
  // The frame where the message puts it; what the message leaves out, where the window is.
  RECT frame{};
  GetWindowRect(target_, &frame);
  if (have && !(pos.flags & SWP_NOMOVE)) OffsetRect(&frame, pos.x - frame.left, pos.y - frame.top);
  if (have && !(pos.flags & SWP_NOSIZE)) {
    frame.right = frame.left + pos.cx;
    frame.bottom = frame.top + pos.cy;
  }
  const HWND content = content_window(target_);
  // Any monitor the browser is on will do, at negative coordinates too, and a maximised frame a few
  // pixels beyond its monitor's edge; a minimised or parked window (-32000) is on none.
  const bool feedback = IsWindow(target_) && IsWindow(content) && !IsIconic(target_) && on_some_monitor(frame);
  KXTRACE("'`I08`'wp_hwndfrom:  0x%X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(pos.hwnd)));
  KXTRACE("'`I08`'wp_flags:     %s", windowpos_flags(pos.flags).c_str());
  KXTRACE("'`I08`'targetwindow.halignwindow: 0x%X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(drawing_.attach_window)));
  KXTRACE("'`I08`'hwndContent: 0x%X[%d]", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(content)), IsWindow(content) ? 1 : 0);
  KXTRACE("'`I08`'fShowFeedback:     %d", feedback ? 1 : 0);
  if (!feedback) {
    hide();
    return;
  }
  apply_dpi();  // moved to a monitor of another DPI
  updatestate();
  if (!IsWindowVisible(window_.get())) show(0);
}

void fficon::follow_page() {
  if (!enabled_) {
    followpage_.stop();
    return;
  }
  bool changed = false;
  if (attach_source_) {
    const RECT now = attach_source_();
    if (!EqualRect(&now, &drawing_.attach)) {
      drawing_.attach = now;
      reposition();
      changed = true;
    }
  }
  RECT content{};
  const HWND attach = align_window(target_);
  if (IsWindow(attach)) {
    GetClientRect(attach, &content);
    MapWindowPoints(attach, nullptr, reinterpret_cast<POINT*>(&content), 2);
  }
  if (!EqualRect(&content, &content_seen_)) changed = true;
  if (changed) show_placed();
}

bool fficon::show_placed() {
  const bool placed = updatestate();
  if (placed && enabled_ && !IsWindowVisible(window_.get())) ShowWindow(window_.get(), SW_SHOWNOACTIVATE);
  return placed;
}

void fficon::finger_activity(WPARAM activity) {
  const int state = static_cast<int>((activity >> 8) & 0xFF);
  const int quality = static_cast<int>(activity & 0xFF);
  KXTRACE("'`I03`'finger animation: sensorstate: %s, scanquality = %d", sensor_state_name(state), quality);
  redraw(state, 1);
  if (state == sensor_badQuality) {
    if (kxsettings::settings().get_bool_default(L"show_complex_feedback", false)) {
      const UINT message = scan_quality_message(quality);
      // A hint points at the icon: none over a hidden one.
      if (message && IsWindowVisible(window_.get())) {
        balloon_.show(window_.get(), message);
        hideballoon_.start();
      }
    }
  } else {
    balloon_.hide();
  }
  fingeranim_.start();
}

void fficon::on_timer(UINT_PTR id) {
  switch (id) {
    case timer_fingeranim:
      fingeranim_.stop();
      redraw(kRestingState, 0);
      break;
    case timer_hideballoon:
      hideballoon_.stop();
      balloon_.hide();
      break;
    case timer_mouseclickevent:
      mouseclick_.stop();
      if (click_enabled_) {
        open_menu(click_);
        updatestate();
      }
      break;
    case timer_followpage:
      follow_page();
      break;
    case timer_resulthold:
      resulthold_.stop();
      if (pending_hide_) {
        pending_hide_ = false;
        hide_window();
      } else {
        updatestate();
      }
      break;
    default:
      break;
  }
}

bool fficon::inside(POINT client) const {
  RECT r{};
  GetClientRect(window_.get(), &r);
  return PtInRect(&r, client) != FALSE;
}

void fficon::on_mouse(UINT msg, WPARAM wparam, LPARAM lparam) {
  const POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  HWND hwnd = window_.get();
  switch (msg) {
    case WM_MOUSEMOVE: {
      if (!(mouse_ & mouse_tracking)) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
        if (TrackMouseEvent(&track)) mouse_ |= mouse_tracking;
      }
      POINT screen = point;
      ClientToScreen(hwnd, &screen);
      balloon_.autohide(MAKELPARAM(screen.x, screen.y));
      if (mouse_ & mouse_left) {
        const int dx = point.x - click_.x, dy = point.y - click_.y;
        // A hand's tremble during a click is no drag: the system's drag rectangle around the press.
        if (!dragged_ && std::abs(dx) <= GetSystemMetrics(SM_CXDRAG) / 2 &&
            std::abs(dy) <= GetSystemMetrics(SM_CYDRAG) / 2)
          break;
        if (dx || dy) {
          drawing_.offset.x += dx;
          drawing_.offset.y += dy;
          dragged_ = true;
          updatestate();
        }
      } else {
        const bool now_inside = inside(point);
        if (now_inside != ((mouse_ & mouse_inside) != 0)) {
          mouse_ ^= mouse_inside;
          updatestate();
        }
      }
      break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      SetCapture(hwnd);
      click_ = point;
      mouse_ |= msg == WM_LBUTTONDOWN ? mouse_left : mouse_right;
      if (msg == WM_LBUTTONDOWN) dragged_ = false;
      if (msg == WM_RBUTTONDOWN && inside(point) && !(mouse_ & mouse_menu)) open_menu(point);
      break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
      ReleaseCapture();
      mouse_ &= ~(msg == WM_LBUTTONUP ? mouse_left : mouse_right);
      break;
    case WM_LBUTTONDBLCLK:
      if (inside(point)) {
        HWND comm = comm_window_for(target_, owner_);
        if (comm)
          PostMessageW(comm, registered(kxmsg::fbiconmenu_command), window_identity(target_),
                       iconcmd_mousestate_dblclk);
        else
          KXERROR("NOCOMWINFORMENU");
        UpdateWindow(hwnd);
      }
      break;
    case WM_MOUSELEAVE:
      // The system ends leave tracking with this message, held button or not: the next move arms it.
      mouse_ &= ~mouse_tracking;
      if (!(mouse_ & (mouse_left | mouse_right))) {
        mouse_ &= ~mouse_inside;
        updatestate();
      }
      break;
    default:
      break;
  }
}

void fficon::end_buttons() {
  mouse_ &= ~(mouse_left | mouse_right);
  dragged_ = false;
  if (GetCapture() == window_.get()) ReleaseCapture();
}

void fficon::open_menu(POINT client) {
  HWND comm = comm_window_for(target_, owner_);
  if (!comm) {
    KXERROR("NOCOMWINFORMENU");
    return;
  }
  HWND hwnd = window_.get();
  const WPARAM identity = window_identity(target_);
  const auto state = static_cast<std::uint32_t>(SendMessageW(comm, registered(kxmsg::fbiconmenu_request), identity, 3));
  POINT screen = client;
  ClientToScreen(hwnd, &screen);
  mouse_ |= mouse_menu;
  const int command = track_icon_menu(hwnd, screen, state, profiles_, insert_text_);
  mouse_ &= ~mouse_menu;
  // The menu's loop took the button releases and the leave: nothing is held, tracking starts
  // afresh, and the hover image stays only while the cursor really is over the icon.
  end_buttons();
  mouse_ &= ~mouse_tracking;
  POINT cursor{};
  RECT icon{};
  if (!GetCursorPos(&cursor) || !GetWindowRect(hwnd, &icon) || !PtInRect(&icon, cursor)) mouse_ &= ~mouse_inside;
  if (command) PostMessageW(comm, registered(kxmsg::fbiconmenu_command), identity, command);
  updatestate();
  UpdateWindow(hwnd);
}

LRESULT fficon::iconproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_TIMER) {
    on_timer(wparam);
    return 0;
  }
  if (msg == WM_CAPTURECHANGED) {
    // Alt+Tab during a drag, a menu or another window taking the mouse: no button is held any more.
    if (reinterpret_cast<HWND>(lparam) != hwnd) {
      mouse_ &= ~(mouse_left | mouse_right);
      dragged_ = false;
    }
    return 0;
  }
  if (msg == WM_CANCELMODE) {
    end_buttons();
    mouseclick_.stop();
    return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  if (msg == WM_MOUSELEAVE && !click_enabled_) {
    // Left while the browser was inactive: no hover image when it comes back.
    mouse_ &= ~(mouse_tracking | mouse_inside);
    return 0;
  }
  if ((msg >= WM_MOUSEMOVE && msg <= WM_RBUTTONUP) || msg == WM_MOUSELEAVE) {
    if (!click_enabled_) {
      if (msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN) {
        if (IsWindow(target_) && !(GetWindowLongW(target_, GWL_STYLE) & WS_DISABLED)) SetForegroundWindow(target_);
      }
      return 0;
    }
    // The release that ends a double click or a drag is no click of its own.
    if (msg == WM_LBUTTONDOWN) double_click_ = false;
    // A release without its press (the capture was lost meanwhile) is no click either.
    if (msg == WM_LBUTTONUP && (mouse_ & mouse_left) && !dragged_ && !double_click_) mouseclick_.start();
    if (msg == WM_LBUTTONDBLCLK) {
      double_click_ = true;
      mouseclick_.stop();
    }
    on_mouse(msg, wparam, lparam);
    return 0;
  }
  if (msg == registered(kxmsg::fbiconmenu_request)) {
    if (lparam == 1) updatestate();
    if (lparam == 2) {
      reposition();
      updatestate();
    }
    return 0;
  }
  switch (msg) {
    case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
    case WM_SETFOCUS: return 0;
    case WM_CREATE:
    case WM_DESTROY: {
      KXSCOPE_IF(tracecore::cat_window_class, "ffwinproc");
      if (tracecore::category_on(tracecore::cat_window_class)) KXTRACE("%s", msg == WM_CREATE ? "WM_CREATE" : "WM_DESTROY");
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
}

LRESULT CALLBACK fficon::ffwproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  KXSCOPE_IF(tracecore::cat_window_class, "ffwproc[std]");
  try {
    if (msg == WM_CREATE) {
      auto* self = static_cast<fficon*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      if (!self) return DefWindowProcW(hwnd, msg, wparam, lparam);
      if (!SetPropW(hwnd, property_this(), self)) KXERROR_LAST("cannot subclass fbv");
      return self->iconproc(hwnd, msg, wparam, lparam);
    }
    auto* self = static_cast<fficon*>(GetPropW(hwnd, property_this()));
    if (msg == WM_DESTROY) {
      if (self) {
        self->iconproc(hwnd, msg, wparam, lparam);
        RemovePropW(hwnd, property_this());
        // Destroyed by someone else (the thread or process ending): the object forgets the window.
        if (self->window_.get() == hwnd) self->window_.release();
      } else {
        KXERROR("was not fbv");
      }
      return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
    return self ? self->iconproc(hwnd, msg, wparam, lparam) : DefWindowProcW(hwnd, msg, wparam, lparam);
  } catch (const errors::com_error& e) {
    KXERROR_CODE(e.Error(), "iconproc %s", e.ErrorMessage().c_str());
  } catch (const std::exception& e) {
    KXERROR("iconproc std:%s", e.what());
  } catch (...) {
    KXERROR("iconproc oo");
  }
  return 0;
}

}  // namespace ffagent_window
