// The feedback UI the component gets: the icon window with its balloons and menu, and the dialogs,
// behind the communication window's feedback interface.
#pragma once

#include <memory>

#include "agentcomm/window/Feedback.h"
#include "feedback/fficon.h"

namespace ffagent_window {

class feedback_ui_t final : public feedback_i {
 public:
  bool attach(HWND comm, HWND browser) override;
  void detach() override;
  void show(const std::wstring& domain, std::int32_t mode) override;
  void hide() override;
  void set_attach(const RECT& control) override;
  void set_attach_source(std::function<RECT()> source) override;
  bool menu_flag() const override;
  void set_menu_flag(bool on) override { menu_flag_ = on; }
  LRESULT handle_message(UINT msg, WPARAM wparam, LPARAM lparam) override;
  int selectoneform(const std::vector<std::wstring>& choices) override;
  int iconsettings(int value) override;

  fficon& icon() { return icon_; }

 private:
  fficon icon_;
  bool menu_flag_ = false;
};

// The factory the module hands the component.
std::unique_ptr<feedback_i> make_feedback_ui();

}  // namespace ffagent_window
