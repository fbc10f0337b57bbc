// Balloon tips beside the feedback icon (scan-quality hints and the training prompt) and the
// counter that limits the training prompt to three showings per user.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "tracecore/win_handles.h"

namespace kxsettings {
class settings_t;
}

namespace ffagent_window {

// One tracking balloon tooltip pointing at its owner window.
class balloon_t {
 public:
  explicit balloon_t(HWND owner) : owner_(owner) {}
  balloon_t(const balloon_t&) = delete;
  balloon_t& operator=(const balloon_t&) = delete;

  // Makes sure the tooltip window exists (reusing a live one) with tips at most |max_width| pixels
  // wide; false when none can be made.
  bool ensure_window(bool close_button, int max_width = 250);
  void set_content(std::wstring title, std::wstring text, int icon);
  // Shows the balloon with its tip at (x, y) and takes the mouse position as the reference point.
  void show(int x, int y);
  // A balloon that is up points at (x, y) from now on.
  void move_to(int x, int y);
  void hide();
  // Hides the balloon when |mouse| (x low word, y high word, signed) lies more than 4 pixels from
  // the reference point, which then becomes |mouse|.
  void autohide(LPARAM mouse);

  bool shown() const { return shown_; }
  HWND window() const { return tooltip_.get(); }
  HWND owner() const { return owner_; }
  POINT reference() const { return reference_; }
  const std::wstring& title() const { return title_; }
  const std::wstring& text() const { return text_; }

 private:
  void set_reference(POINT p) { reference_ = p; }

  tracecore::unique_hwnd tooltip_;
  HWND owner_;
  bool shown_ = false;
  POINT reference_{};
  std::wstring title_;
  std::wstring text_;
  int icon_ = 1;
};

// The one balloon of a feedback icon, made on its first show.
class balloons {
 public:
  void show(HWND owner, const std::wstring& title, const std::wstring& text, int icon, bool close_button);
  // Branding texts |title_id| and |text_id|, no close button.
  void show(HWND owner, UINT title_id, UINT text_id, int icon);
  // Branding text |text_id| without title, icon 1; 0 hides the balloon.
  void show(HWND owner, UINT text_id);
  void hide();
  void autohide(LPARAM mouse);
  // A balloon that is up follows its owner, which moved.
  void follow(HWND owner);
  // The DPI the tips are laid out for (their width grows with it).
  void set_dpi(UINT dpi) { dpi_ = dpi ? dpi : 96; }
  // Takes the balloon and its tooltip window down.
  void release() { balloon_.reset(); }

  const balloon_t* balloon() const { return balloon_.get(); }
  bool shown() const { return balloon_ && balloon_->shown(); }

 private:
  std::unique_ptr<balloon_t> balloon_;
  UINT dpi_ = 96;
};

// Where a balloon over |owner| points: the middle of its client area, an eighth of its height above
// the bottom, in screen coordinates.
POINT balloon_point(HWND owner);

// The training prompt counter "@balloon_counter::TrainingPrompt": true three times, then never.
bool need_show_balloon_for_training(kxsettings::settings_t& settings);
bool need_show_balloon_for_training();

// Title and text of the training prompt.
struct prompt_texts_t {
  UINT title;
  UINT text;
};
prompt_texts_t training_prompt_texts(bool personalmode, bool sensorstateactive);

}  // namespace ffagent_window
