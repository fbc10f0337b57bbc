// The communication window: a hidden message-only window per browser window through which the agent,
// the suite's hooks and the feedback icon's menu reach the component.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "agentcomm/transport/Transport.h"
#include "agentcomm/window/Feedback.h"
#include "agentcomm/window/callbacks.h"
#include "tracecore/win_handles.h"

namespace ffagent_window {

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
  // |feedback| is the feedback UI the window serves; none: the quiet stand-in.
  explicit ffcomm_t(std::unique_ptr<feedback_i> feedback = nullptr);
  ffcomm_t(const ffcomm_t&) = delete;
  ffcomm_t& operator=(const ffcomm_t&) = delete;

  // Slot 18: the object's window procedure.
  virtual LRESULT windowproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

  // Creates the communication window for |browser|; a window this object made before is destroyed
  // first. Raises errors::com_error(E_UNEXPECTED) when no agent window exists; returns false when the
  // window cannot be registered or created.
  bool createwindow(HWND browser);
  // Destroys the window; the window class goes with the module's last communication window.
  void destroy_window();

  HWND agent_window() const { return agent_; }
  HWND browser_window() const { return browser_; }
  HWND comm_window() const { return comm_.get(); }
  feedback_i& feedback() { return *feedback_; }

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
  // Set when the window is created, given up (not destroyed again) when it is being destroyed.
  tracecore::unique_hwnd comm_;
  std::unique_ptr<feedback_i> feedback_;
};

// The agent's window; see ffipc::find_agent_window.
inline HWND find_agent_window() { return ffipc::find_agent_window(); }

}  // namespace ffagent_window
