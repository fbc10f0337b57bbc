// The communication window: a hidden message-only window per browser window through which the agent,
// the suite's hooks and the feedback icon's menu reach the component.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "agentcomm/transport/Transport.h"
#include "agentcomm/window/callbacks.h"

namespace ffagent_window {

// The feedback icon window object; its behaviour comes with the feedback layer.
class feedback_window_t {
 public:
  void attach(HWND comm, HWND browser) { comm_ = comm; browser_ = browser; }
  void detach() { comm_ = browser_ = nullptr; }
  void hide() {}
  bool attached() const { return comm_ != nullptr; }
  // The flag the icon menu's state word keeps the value 2 for.
  bool menu_flag() const { return menu_flag_; }
  void set_menu_flag(bool on) { menu_flag_ = on; }
  // Window messages the communication window hands over (activation, visibility, position, finger
  // activity).
  LRESULT handle_message(UINT msg, WPARAM wparam, LPARAM lparam) {
    last_message_ = msg;
    ++messages_;
    return 0;
  }
  UINT last_message() const { return last_message_; }
  unsigned messages() const { return messages_; }

 private:
  HWND comm_ = nullptr;
  HWND browser_ = nullptr;
  bool menu_flag_ = false;
  UINT last_message_ = 0;
  unsigned messages_ = 0;
};

// The four fields of a message a hook hands over wrapped in WM_KX_HOOK_FFWM.
struct hook_message_t {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// The settings the icon menu's state word depends on.
struct menu_switches_t {
  bool personalmode = false;
  bool kioskinstalled = false;
  bool kiosklogon = false;
  bool deskwithworkgroup = false;
  bool allow_sso = false;
};
// The icon menu's state word for a page that is trained (T), a password-change screen (P), with the
// feedback object's flag (F).
std::uint32_t menu_state_word(bool trained, bool passwordchange, bool flag, const menu_switches_t& s);

class ffcomm_t : public ffactions::kxagent_callbacks, public page_callbacks {
 public:
  ffcomm_t();
  ffcomm_t(const ffcomm_t&) = delete;
  ffcomm_t& operator=(const ffcomm_t&) = delete;

  // Slot 18: the object's window procedure.
  virtual LRESULT windowproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

  // Creates the communication window for |browser|. Raises errors::com_error(E_UNEXPECTED) when
  // no agent window exists; returns false when the window cannot be registered or created.
  bool createwindow(HWND browser);
  void destroy_window();

  HWND agent_window() const { return agent_; }
  HWND browser_window() const { return browser_; }
  HWND comm_window() const { return comm_; }
  feedback_window_t& feedback() { return *feedback_; }

  static LRESULT CALLBACK class_windowproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

 protected:
  ~ffcomm_t();
  // The settings behind the icon menu's state word (read once per process by default).
  virtual menu_switches_t menu_switches();

 private:
  void dispatch_hook(LPARAM lparam);
  void dispatch_agent_request(WPARAM notice);
  void dispatch_action_request(WPARAM reply, LPARAM operation);
  void run_menu_command(LPARAM command);
  LRESULT menu_request(LPARAM what);

  HWND agent_ = nullptr;
  HWND browser_ = nullptr;
  HWND comm_ = nullptr;
  std::unique_ptr<feedback_window_t> feedback_;
};

// The agent's window; see ffipc::find_agent_window.
inline HWND find_agent_window() { return ffipc::find_agent_window(); }

}  // namespace ffagent_window
