#include "feedback/FeedbackUI.h"

#include "feedback/Dialogs.h"

namespace ffagent_window {

bool feedback_ui_t::attach(HWND comm, HWND browser) { return icon_.createwindow(browser, comm); }

void feedback_ui_t::detach() { icon_.destroy_window(); }

void feedback_ui_t::show(const std::wstring& domain, std::int32_t mode) {
  icon_.set_insert_text(domain);
  icon_.set_prompt(mode == icon_trainingprompt);
  icon_.set_enabled(true);
  icon_.show(mode == icon_trainingprompt ? 1 : 0);
}

void feedback_ui_t::hide() {
  icon_.set_enabled(false);
  icon_.hide();
}

void feedback_ui_t::set_attach(const RECT& control) { icon_.set_attach(control); }

// The menu offers the page's actions while the icon reacts to clicks.
bool feedback_ui_t::menu_flag() const { return icon_.click_enabled(); }

LRESULT feedback_ui_t::handle_message(UINT msg, WPARAM wparam, LPARAM lparam) {
  return icon_.target_message(msg, wparam, lparam);
}

int feedback_ui_t::selectoneform(const std::vector<std::wstring>& choices) {
  return ffagent_window::selectoneform(choices);
}

int feedback_ui_t::iconsettings(int value) {
  dialog_iconvisibility(value);
  return value;
}

std::unique_ptr<feedback_i> make_feedback_ui() { return std::make_unique<feedback_ui_t>(); }

}  // namespace ffagent_window
