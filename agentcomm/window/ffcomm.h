// The communication window: a hidden message-only window per browser window through which the agent,
// the suite's hooks and the feedback icon's menu reach the component.
#pragma once

#include <windows.h>

#include <memory>

#include "agentcomm/window/callbacks.h"

namespace ffagent_window {

// The feedback icon window object; its behaviour comes with the feedback layer.
class feedback_window_t {
 public:
  void attach(HWND comm, HWND browser) { comm_ = comm; browser_ = browser; }
  void detach() { comm_ = browser_ = nullptr; }
  void hide() {}
  bool attached() const { return comm_ != nullptr; }

 private:
  HWND comm_ = nullptr;
  HWND browser_ = nullptr;
};

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

 private:
  HWND agent_ = nullptr;
  HWND browser_ = nullptr;
  HWND comm_ = nullptr;
  std::unique_ptr<feedback_window_t> feedback_;
};

// The agent's window: a top-level window whose class and title are both "Kestrix Desk Agent".
// The first miss in the life of the module is traced in full, later ones in short.
HWND find_agent_window();

}  // namespace ffagent_window
