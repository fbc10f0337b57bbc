#include "feedback/Balloons.h"

#include <commctrl.h>

#include <cstdint>
#include <cstdlib>
#include <exception>

#include "environment/ActivationContext.h"
#include "environment/BrandingResources.h"
#include "environment/Settings.h"
#include "feedback/Texts.h"
#include "tracecore/trace.h"

namespace ffagent_window {
namespace {

constexpr DWORD kTooltipStyle = WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP;  // 0x80000043
constexpr int kMaxTipWidth = 250;
constexpr int kAutohideDistance = 4;
constexpr const wchar_t* kTrainingCounter = L"@balloon_counter::TrainingPrompt";

TTTOOLINFOW tool_of(HWND owner, const wchar_t* text) {
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_TRACK | TTF_TRANSPARENT;  // 0x120
  tool.hwnd = owner;
  tool.lpszText = const_cast<wchar_t*>(text);
  return tool;
}

void init_common_controls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

}  // namespace

bool balloon_t::ensure_window(bool close_button, int max_width) {
  if (IsWindow(tooltip_.get())) {
    SendMessageW(tooltip_.get(), TTM_SETMAXTIPWIDTH, 0, max_width);
    return true;
  }
  tooltip_.release();  // a handle the system already destroyed
  kxenv::module_activation_t active;
  init_common_controls();
  tooltip_.reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, kTooltipStyle | (close_button ? TTS_CLOSE : 0),
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr));
  if (!tooltip_) return false;
  TTTOOLINFOW tool = tool_of(owner_, L"");
  SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tooltip_.get(), TTM_SETMAXTIPWIDTH, 0, max_width);
  return true;
}

void balloon_t::set_content(std::wstring title, std::wstring text, int icon) {
  title_ = std::move(title);
  text_ = std::move(text);
  icon_ = icon;
}

void balloon_t::show(int x, int y) {
  KXSCOPE("balloon_t::show");
  TTTOOLINFOW tool = tool_of(owner_, text_.c_str());
  SendMessageW(tooltip_.get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  // A reused tooltip keeps the title and icon of its last balloon unless they are set each time: a
  // balloon without title takes the previous one away.
  if (!title_.empty())
    SendMessageW(tooltip_.get(), TTM_SETTITLEW, icon_, reinterpret_cast<LPARAM>(title_.c_str()));
  else
    SendMessageW(tooltip_.get(), TTM_SETTITLEW, TTI_NONE, reinterpret_cast<LPARAM>(L""));
  SendMessageW(tooltip_.get(), TTM_TRACKPOSITION, 0, MAKELPARAM(x, y));
  KXTRACE("TrackPosition: x=%d, y=%d", x, y);
  SendMessageW(tooltip_.get(), TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
  POINT cursor{};
  GetCursorPos(&cursor);
  set_reference(cursor);
  shown_ = true;
}

void balloon_t::move_to(int x, int y) {
  if (shown_) SendMessageW(tooltip_.get(), TTM_TRACKPOSITION, 0, MAKELPARAM(x, y));
}

void balloon_t::hide() {
  if (!shown_) return;
  TTTOOLINFOW tool = tool_of(owner_, nullptr);
  SendMessageW(tooltip_.get(), TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
  shown_ = false;
}

void balloon_t::autohide(LPARAM mouse) {
  KXSCOPE("balloon_t::autohide");
  if (!shown_) return;
  const POINT p{static_cast<short>(LOWORD(mouse)), static_cast<short>(HIWORD(mouse))};
  if (std::abs(p.x - reference_.x) <= kAutohideDistance && std::abs(p.y - reference_.y) <= kAutohideDistance) return;
  hide();
  set_reference(p);
}

void balloons::show(HWND owner, const std::wstring& title, const std::wstring& text, int icon, bool close_button) {
  KXSCOPE_IF(tracecore::cat_show_balloon, "balloons::show");
  try {
    if (!IsWindow(owner)) {
      KXERROR("empty owner");
      return;
    }
    if (text.empty()) {
      KXERROR("empty balloon text");
      return;
    }
    if (!balloon_)
      balloon_ = std::make_unique<balloon_t>(owner);
    else
      balloon_->hide();
    if (!balloon_->ensure_window(close_button, MulDiv(kMaxTipWidth, static_cast<int>(dpi_), 96))) return;
    balloon_->set_content(title, text, icon);
    RECT client{};
    GetClientRect(owner, &client);
    MapWindowPoints(owner, nullptr, reinterpret_cast<POINT*>(&client), 2);
    KXTRACE("rect x=%d, y=%d, w=%d, h=%d", static_cast<int>(client.left), static_cast<int>(client.top),
            static_cast<int>(client.right - client.left), static_cast<int>(client.bottom - client.top));
    const POINT tip = balloon_point(owner);
    balloon_->show(tip.x, tip.y);
  } catch (...) {
    KXERROR("oo");
  }
}

void balloons::show(HWND owner, UINT title_id, UINT text_id, int icon) {
  show(owner, ffui::ui_text(title_id), ffui::ui_text(text_id), icon, false);
}

void balloons::show(HWND owner, UINT text_id) {
  if (text_id == 0) {
    hide();
    return;
  }
  show(owner, std::wstring(), ffui::ui_text(text_id), 1, false);
}

void balloons::hide() {
  if (balloon_) balloon_->hide();
}

void balloons::autohide(LPARAM mouse) {
  if (balloon_) balloon_->autohide(mouse);
}

void balloons::follow(HWND owner) {
  if (!shown() || !IsWindow(owner)) return;
  const POINT tip = balloon_point(owner);
  balloon_->move_to(tip.x, tip.y);
}

POINT balloon_point(HWND owner) {
  RECT client{};
  GetClientRect(owner, &client);
  MapWindowPoints(owner, nullptr, reinterpret_cast<POINT*>(&client), 2);
  const int width = client.right - client.left, height = client.bottom - client.top;
  return {client.left + width / 2, client.bottom - height / 8};
}

bool need_show_balloon_for_training(kxsettings::settings_t& settings) {
  KXSCOPE_IF(tracecore::cat_show_balloon, "need_show_balloon_for_training");
  std::int32_t counter = -1;
  if (FAILED(settings.get_number(kTrainingCounter, counter, false))) counter = -1;
  if (counter == -1) {
    settings.set_number(kTrainingCounter, 2, true);
    return true;
  }
  if (counter > 0) {
    KXTRACE("counter=%d", counter);
    settings.set_number(kTrainingCounter, counter - 1, true);
    return true;
  }
  return false;
}

bool need_show_balloon_for_training() { return need_show_balloon_for_training(kxsettings::settings()); }

prompt_texts_t training_prompt_texts(bool personalmode, bool sensorstateactive) {
  if (!personalmode) return {IDS_KX_PROMPT_TITLE, IDS_KX_PROMPT_TEXT};
  return sensorstateactive ? prompt_texts_t{IDS_KX_PROMPT_SENSOR_TITLE, IDS_KX_PROMPT_SENSOR_TEXT}
                           : prompt_texts_t{IDS_KX_PROMPT_PERSONAL_TITLE, IDS_KX_PROMPT_PERSONAL_TEXT};
}

}  // namespace ffagent_window
