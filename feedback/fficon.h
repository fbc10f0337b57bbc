// The feedback icon: a small layered, borderless window over the browser beside the recognised
// logon field. It animates with the fingerprint reader, opens the icon menu on a click, runs the
// default action on a double click and shows balloons.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "feedback/Balloons.h"
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

// Where the icon goes and what it shows.
struct drawing_t {
  RECT attach{};                 // the control, in client coordinates of the attach window
  HWND attach_window = nullptr;  // the browser's content window the icon is aligned to
  POINT offset{};                // the attach point in the attach window's client area
  SIZE size{32, 32};
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

  HWND window() const { return window_.get(); }
  HWND target() const { return target_; }
  bool enabled() const { return enabled_; }
  bool click_enabled() const { return click_enabled_; }
  bool highlighted() const { return highlight_; }
  const drawing_t& drawing() const { return drawing_; }
  const balloons& balloon() const { return balloon_; }

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
};

}  // namespace ffagent_window
