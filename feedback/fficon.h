// The feedback icon: a small layered, borderless window over the browser beside the recognised
// logon field. It animates with the fingerprint reader, opens the icon menu on a click, runs the
// default action on a double click and shows balloons.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "feedback/Balloons.h"
#include "feedback/IconMenu.h"
#include "feedback/Images.h"
#include "feedback/ui_handles.h"
#include "tracecore/win_handles.h"

namespace ffagent_window {

// Fingerprint sensor states (high byte of the finger activity word).
enum sensor_state_t : int {
  sensor_uninit = 0,
  sensor_waitingForFinger = 1,
  sensor_processing = 2,
  sensor_goodResult = 3,
  sensor_badResult = 4,
  sensor_badQuality = 5,
  sensor_sensorDisconnected = 6,
};
constexpr int kRestingState = 10;

const char* sensor_state_name(int state);
// The branding text of the hint for a bad scan of |quality|, 0 for none.
UINT scan_quality_message(int quality);
// The image (1 to 6, 0 for none) the icon shows in |state|.
int image_for_state(int state, bool click_enabled, bool cursor_inside);
// Images of a fingerprint result, which stay up for kResultHoldMs once drawn.
bool is_result_image(int image);
constexpr UINT kResultHoldMs = 500;

// Lengths given for 96 dpi, at |dpi|.
int scaled_for_dpi(int value, UINT dpi);
// The DPI the icon of |target| is drawn for: that of the monitor the window is on as the process
// sees it (96 for a process that is not DPI aware, which the system scales).
UINT window_dpi(HWND target);
// A browser window the icon may follow: on a monitor (a maximised frame a few pixels beyond the
// monitor's edge, or a monitor left of or above the primary one, count) and not minimised. |frame|
// is the window's rectangle in screen coordinates.
bool on_some_monitor(const RECT& frame);

// Where the icon goes and what it shows.
struct drawing_t {
  RECT attach{};                 // the control, in client coordinates of the attach window
  HWND attach_window = nullptr;  // the browser's content window the icon is aligned to
  POINT offset{};                // the attach point in the attach window's client area
  SIZE size{32, 32};             // at the current DPI
  UINT dpi = 96;
  RECT shown{};                  // the part of the icon drawn, clipped to the content area
  int state = kRestingState;
  int frame = 0;
  int image = 0;                 // the image drawn last
  POINT position{};              // where it was drawn, screen coordinates
  icon_images_t images;
};

class fficon {
 public:
  enum mouse_flags : unsigned {
    mouse_tracking = 0x1,
    mouse_menu = 0x2,
    mouse_left = 0x4,
    mouse_right = 0x8,
    mouse_inside = 0x10,
  };
  enum timer_ids : UINT_PTR {
    timer_fingeranim = 1,
    timer_hideballoon = 2,
    timer_mouseclickevent = 6,
    timer_resulthold = 7,
    timer_followpage = 8,
  };

  fficon();
  ~fficon();
  fficon(const fficon&) = delete;
  fficon& operator=(const fficon&) = delete;

  // Makes the icon window for the browser window |target|, served by the communication window
  // |owner|.
  bool createwindow(HWND target, HWND owner);
  void destroy_window();

  // reason 0: follow the browser; 1: the page was recognised (the training prompt may follow);
  // 2: highlight.
  void show(int reason);
  void hide();
  void redraw(int state, int frame);
  // WM_ACTIVATE, WM_SHOWWINDOW, WM_WINDOWPOSCHANGED of the browser window and the finger activity.
  LRESULT target_message(UINT msg, WPARAM wparam, LPARAM lparam);
  // The control the icon goes beside, in client coordinates of the browser's content window.
  void set_attach(const RECT& control);

  void set_enabled(bool on) { enabled_ = on; }
  void set_prompt(bool on) { prompt_ = on; }
  // The text the menu puts into its "train this page" entry (the page's domain).
  void set_insert_text(std::wstring text) { insert_text_ = std::move(text); }
  // The profiles the menu offers as submenus of its log-on and edit entries.
  void set_profiles(std::vector<menu_profile_t> profiles) { profiles_ = std::move(profiles); }
  // Re-reads the control's rectangle (as set_attach takes it) while the icon shows, so that the icon
  // follows the page when it scrolls; none keeps the rectangle last set.
  void set_attach_source(std::function<RECT()> source) { attach_source_ = std::move(source); }
  // Draws for |dpi| instead of the DPI of the browser's monitor (0: follow the monitor).
  void set_dpi(UINT dpi);

  HWND window() const { return window_.get(); }
  HWND target() const { return target_; }
  bool enabled() const { return enabled_; }
  bool click_enabled() const { return click_enabled_; }
  bool highlighted() const { return highlight_; }
  const drawing_t& drawing() const { return drawing_; }
  const balloons& balloon() const { return balloon_; }
  unsigned mouse_flags() const { return mouse_; }

  static LRESULT CALLBACK ffwproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

 private:
  LRESULT iconproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  void on_timer(UINT_PTR id);
  void on_mouse(UINT msg, WPARAM wparam, LPARAM lparam);
  void finger_activity(WPARAM activity);
  void window_pos_changed(LPARAM lparam);
  // Places and draws the icon; false when its place is unknown (it is hidden then).
  bool updatestate();
  void reposition();
  void open_menu(POINT screen);
  void hide_window();
  bool inside(POINT client) const;
  // The button and drag state ends: the capture went elsewhere, a modal loop took the mouse.
  void end_buttons();
  // The DPI changed: images, size and offset follow.
  void apply_dpi();
  // While shown: the control's rectangle re-read and the content window's place checked.
  void follow_page();
  // Places the icon anew and shows it when it found its place (and is wanted).
  bool show_placed();

  tracecore::unique_hwnd window_;
  HWND target_ = nullptr;
  HWND owner_ = nullptr;
  bool enabled_ = false;
  bool may_show_ = false;
  drawing_t drawing_;
  balloons balloon_;
  ffui::window_timer_t fingeranim_{"TIMER::FINGERANIM"};
  ffui::window_timer_t hideballoon_{"TIMER::HIDEBALLOON"};
  ffui::window_timer_t mouseclick_{"TIMER::MOUSECLICKEVENT"};
  ffui::window_timer_t resulthold_{"TIMER::RESULTHOLD"};
  ffui::window_timer_t followpage_{"TIMER::FOLLOWPAGE"};
  bool click_enabled_ = false;
  bool highlight_ = false;
  unsigned mouse_ = 0;
  bool prompt_ = false;

  POINT click_{};          // the last button press, client coordinates of the icon
  bool dragged_ = false;   // the icon moved while the left button was held
  bool double_click_ = false;  // the left button went down for the second click of a double click
  bool pending_hide_ = false;  // a hide that waits for a result image's time to pass
  bool target_shown_ = true;
  std::wstring insert_text_;
  std::vector<menu_profile_t> profiles_;
  std::function<RECT()> attach_source_;
  RECT content_seen_{};    // the content area's screen rectangle at the last placement
  UINT dpi_override_ = 0;
};

}  // namespace ffagent_window
