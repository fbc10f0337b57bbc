#include "feedback/FeedbackUI.h"

#include "feedback/Dialogs.h"

namespace ffagent_window {

bool feedback_ui_t::attach(HWND comm, HWND browser) { return icon_.createwindow(browser, comm); }

void feedback_ui_t::detach() {
  icon_.set_attach_source(nullptr);
  icon_.destroy_window();
}

void feedback_ui_t::show(const std::wstring& domain, std::int32_t mode) {
  icon_.set_insert_text(domain);
  icon_.set_prompt(mode == icon_trainingprompt);
  icon_.set_enabled(true);
  icon_.show(mode == icon_trainingprompt ? 1 : 0);
}

void feedback_ui_t::hide() {
  icon_.set_enabled(false);
  icon_.set_attach_source(nullptr);  // the page's element goes with the page
  icon_.hide();
}

void feedback_ui_t::set_attach(const RECT& control) { icon_.set_attach(control); }

void feedback_ui_t::set_attach_source(std::function<RECT()> source) { icon_.set_attach_source(std::move(source)); }

// What the page gives: the menu's train entries only for a page with something to train. The icon
// being clickable says nothing here (the menu only ever opens on a clickable icon).
bool feedback_ui_t::menu_flag() const { return menu_flag_; }

LRESULT feedback_ui_t::handle_message(UINT msg, WPARAM wparam, LPARAM lparam) {
  return icon_.target_message(msg, wparam, lparam);
}

int feedback_ui_t::selectoneform(const std::vector<std::wstring>& choices) {
  return ffagent_window::selectoneform(choices, icon_.target());
}

int feedback_ui_t::iconsettings(int value) {
  dialog_iconvisibility(value, icon_.target());
  return value;
}

std::unique_ptr<feedback_i> make_feedback_ui() { return std::make_unique<feedback_ui_t>(); }

}  // namespace ffagent_window
