// What the communication window and the component ask of the feedback UI: the icon beside the page
// with its modes, the browser-window messages it follows, the flag the menu's state word reads, and
// the two modal dialogs; and the commands the UI sends back. The UI itself (feedback/) implements it;
// the module hands the component its implementation. feedback_window_t is the quiet stand-in used
// until one is given (and by tests).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ffagent_window {

// How the icon shows a page.
enum icon_mode_t : std::int32_t {
  icon_trained = 0,         // the page is recognised
  icon_trainingprompt = 1,  // an unknown page with a password field
  icon_passwordchange = 2,  // a password-change screen
};

// The commands of the icon's menu and dialogs, as they reach the communication window (lParam of
// "KX_FBICONMENU_COMMAND"), each named after what the window runs for it. Numbers outside
// iconcmd_addprofile..iconcmd_starttrainingpsw run nothing.
enum icon_command_t : std::int32_t {
  iconcmd_addprofile = 29001,         // onaddprofile
  iconcmd_editprofile = 29002,        // oneditprofile
  iconcmd_startFLM = 29003,           // onstartFLM
  iconcmd_product = 29004,            // the product's own entry: runs nothing
  iconcmd_dontprompttrainG = 29005,   // ondontprompttrainG
  iconcmd_dontprompttrainL = 29006,   // ondontprompttrainL
  iconcmd_help = 29007,               // onhelp
  iconcmd_spawndashboard = 29008,     // the agent opens its dashboard
  iconcmd_showiconsettings = 29009,   // onshowiconsettings
  iconcmd_requestfillin = 29010,      // onrequestfillin
  iconcmd_mousestate_dblclk = 29011,  // a double click: fill-in, password-change or other training
  iconcmd_starttrainingpsw = 29012,   // onstarttrainingpsw
};

class feedback_i {
 public:
  virtual ~feedback_i() = default;

  // Made with the communication window |comm| for the browser's top-level window |browser|, and taken
  // down with it. attach() returns false when the icon window cannot be made.
  virtual bool attach(HWND comm, HWND browser) = 0;
  virtual void detach() = 0;

  // Shows the icon for the active page, whose web domain is |domain|, in |mode| (icon_mode_t).
  virtual void show(const std::wstring& domain, std::int32_t mode) = 0;
  virtual void hide() = 0;
  // The control the icon goes beside: its rectangle in client coordinates of the page's content
  // window (the rectangle the page reports for it). An empty rectangle: no control to point at.
  virtual void set_attach(const RECT& control) = 0;

  // Re-reads the control's rectangle (as set_attach takes it) while the icon shows, so that the icon
  // follows the page when it scrolls; none (the default) keeps the rectangle last set. The source is
  // dropped when the icon is hidden or taken down.
  virtual void set_attach_source(std::function<RECT()> source) { (void)source; }

  // The flag of the icon menu's state word (bit 1): the page offers something to train (it has a
  // password field), as the component last told.
  virtual bool menu_flag() const = 0;
  virtual void set_menu_flag(bool on) = 0;
  // Browser-window messages the communication window hands over (WM_ACTIVATE, WM_SHOWWINDOW,
  // WM_WINDOWPOSCHANGED) and the finger activity operation (registered message, wParam, lParam).
  virtual LRESULT handle_message(UINT msg, WPARAM wparam, LPARAM lparam) = 0;

  // The choose-manifest dialog over |choices| (one text per recognised form, best first): the index
  // of the chosen text, or -1 when the user cancelled. Never shown for fewer than two choices.
  virtual int selectoneform(const std::vector<std::wstring>& choices) = 0;
  // The icon-visibility dialog preset to |value| (0 show, 1 not for this page, 2 never prompt):
  // the value it closed with (|value| itself when cancelled).
  virtual int iconsettings(int value) = 0;
};

// The quiet stand-in: remembers what it was asked and shows nothing. Its dialogs answer with the
// preset choices below, so that tests can pick a form or an icon setting.
class feedback_window_t final : public feedback_i {
 public:
  bool attach(HWND comm, HWND browser) override {
    comm_ = comm;
    browser_ = browser;
    return true;
  }
  void detach() override { comm_ = browser_ = nullptr; }
  void show(const std::wstring& domain, std::int32_t mode) override {
    shown_ = true;
    domain_ = domain;
    mode_ = mode;
    ++shows_;
  }
  void hide() override {
    shown_ = false;
    ++hides_;
  }
  void set_attach(const RECT& control) override { attach_ = control; }
  bool menu_flag() const override { return menu_flag_; }
  LRESULT handle_message(UINT msg, WPARAM, LPARAM) override {
    last_message_ = msg;
    ++messages_;
    return 0;
  }
  int selectoneform(const std::vector<std::wstring>& choices) override {
    choices_ = choices;
    ++dialogs_;
    return form_choice < static_cast<int>(choices.size()) ? form_choice : -1;
  }
  int iconsettings(int value) override {
    ++dialogs_;
    return icon_choice < 0 ? value : icon_choice;
  }

  void set_menu_flag(bool on) override { menu_flag_ = on; }
  bool attached() const { return comm_ != nullptr; }
  bool shown() const { return shown_; }
  const std::wstring& domain() const { return domain_; }
  std::int32_t mode() const { return mode_; }
  unsigned shows() const { return shows_; }
  unsigned hides() const { return hides_; }
  const RECT& attach_rect() const { return attach_; }
  UINT last_message() const { return last_message_; }
  unsigned messages() const { return messages_; }
  const std::vector<std::wstring>& choices() const { return choices_; }
  unsigned dialogs() const { return dialogs_; }

  int form_choice = 0;    // what selectoneform answers (-1: cancel)
  int icon_choice = -1;   // what iconsettings answers (-1: the preset value, as a cancel)

 private:
  HWND comm_ = nullptr;
  HWND browser_ = nullptr;
  bool menu_flag_ = false;
  bool shown_ = false;
  std::wstring domain_;
  std::int32_t mode_ = 0;
  unsigned shows_ = 0, hides_ = 0;
  RECT attach_{};
  UINT last_message_ = 0;
  unsigned messages_ = 0;
  std::vector<std::wstring> choices_;
  unsigned dialogs_ = 0;
};

}  // namespace ffagent_window
