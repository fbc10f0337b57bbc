// What a real user does to the icon, one sequence per row, over real windows: a menu that swallows
// the button release, leaving while the browser is inactive, a capture lost during a press, a hand's
// tremble during a click; browsers maximised past the monitor's edge or beyond the primary monitor;
// a control scrolled out of the page; a prompt with nowhere to point; balloons that reuse their
// tooltip; the choose-manifest dialog's preselection; the icon at 144 dpi.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "agentcomm/transport/RegisteredMessages.h"
#include "environment/ActivationContext.h"
#include "environment/BrandingResources.h"
#include "feedback/Dialogs.h"
#include "feedback/FeedbackTestSupport.h"
#include "feedback/Texts.h"
#include "feedback/WindowTracking.h"
#include "feedback/fficon.h"

namespace ffagent_window {
namespace {

using fftest::modal_driver_t;
using fftest::pump_for;
using fftest::pump_until;

constexpr RECT kControl{20, 40, 180, 60};  // client coordinates of the content window

RECT window_rect(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r;
}

RECT content_on_screen(HWND content) {
  RECT r{};
  GetClientRect(content, &r);
  MapWindowPoints(content, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The text a tooltip window holds, as the control itself gives it back.
std::wstring tooltip_text(HWND tooltip, HWND owner) {
  wchar_t text[512] = {};
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = owner;
  tool.lpszText = text;
  SendMessageW(tooltip, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
  return text;
}

// A browser in front with the icon shown, clickable, beside kControl.
class Sequence {
 public:
  Sequence() {
    SetPropW(browser.frame(), property_winid(), reinterpret_cast<HANDLE>(5));
    icon.createwindow(browser.frame(), comm.hwnd());
    icon.set_attach(kControl);
    icon.set_enabled(true);
    icon.show(0);
  }
  ~Sequence() { RemovePropW(browser.frame(), property_winid()); }

  void send(UINT msg, int x = 10, int y = 10, WPARAM keys = 0) {
    SendMessageW(icon.window(), msg, keys, MAKELPARAM(x, y));
  }
  void window_pos(int x, int y, int cx, int cy) {
    WINDOWPOS pos{browser.frame(), nullptr, x, y, cx, cy, SWP_NOZORDER};
    icon.target_message(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  }
  bool visible() const { return IsWindowVisible(icon.window()) != FALSE; }
  unsigned held() const { return icon.mouse_flags() & (fficon::mouse_left | fficon::mouse_right); }
  bool tracking() const { return (icon.mouse_flags() & fficon::mouse_tracking) != 0; }

  fftest::browser_t browser;
  fftest::comm_stub_t comm;
  fftest::setting_t counter{L"@balloon_counter::TrainingPrompt"};
  fftest::setting_t complex_feedback{L"show_complex_feedback"};
  fficon icon;
};

struct sequence_case_t {
  const char* name;
  std::function<void(Sequence&)> run;
};

class UserSequence : public ::testing::TestWithParam<sequence_case_t> {};

TEST_P(UserSequence, Runs) {
  Sequence s;
  ASSERT_TRUE(s.visible());
  ASSERT_TRUE(s.icon.click_enabled());
  GetParam().run(s);
}

const sequence_case_t kSequences[] = {
    {"menu_by_right_click_without_release_then_leave_and_move",
     [](Sequence& s) {
       s.send(WM_MOUSEMOVE);
       ASSERT_EQ(s.icon.drawing().image, 5);  // hover
       modal_driver_t driver(L"#32768", [](HWND menu) { fftest::choose_menu_item(menu, 0); });
       s.send(WM_RBUTTONDOWN);  // the menu's loop takes the release
       ASSERT_TRUE(driver.acted());
       EXPECT_EQ(s.held(), 0u);
       s.send(WM_MOUSELEAVE);
       EXPECT_EQ(s.icon.drawing().image, 6) << "the hover image stuck";
       s.send(WM_MOUSEMOVE);
       EXPECT_TRUE(s.tracking()) << "leave tracking was not armed again";
       EXPECT_EQ(s.icon.drawing().image, 5);
     }},
    {"hover_deactivate_leave_activate",
     [](Sequence& s) {
       s.send(WM_MOUSEMOVE);
       ASSERT_EQ(s.icon.drawing().image, 5);
       s.icon.target_message(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(s.comm.hwnd()));
       ASSERT_FALSE(s.icon.click_enabled());
       s.send(WM_MOUSELEAVE);
       s.icon.target_message(WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
       ASSERT_TRUE(s.icon.click_enabled());
       EXPECT_EQ(s.icon.drawing().image, 6) << "the hover image came back without the cursor";
       s.send(WM_MOUSEMOVE);
       EXPECT_TRUE(s.tracking());
       EXPECT_EQ(s.icon.drawing().image, 5);
     }},
    {"button_down_capture_lost_move",
     [](Sequence& s) {
       const RECT before = window_rect(s.icon.window());
       s.send(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
       ASSERT_EQ(GetCapture(), s.icon.window());
       ReleaseCapture();  // Alt+Tab: the capture goes
       EXPECT_EQ(s.held(), 0u);
       s.send(WM_MOUSEMOVE, 30, 25);
       EXPECT_EQ(window_rect(s.icon.window()).left, before.left) << "the icon drags on plain moves";
       EXPECT_EQ(window_rect(s.icon.window()).top, before.top);
       s.send(WM_LBUTTONUP, 30, 25);
       pump_for(GetDoubleClickTime() + 150);
       EXPECT_TRUE(s.comm.requests.empty()) << "a release without its press opened the menu";
     }},
    {"one_pixel_move_during_a_click",
     [](Sequence& s) {
       const RECT before = window_rect(s.icon.window());
       modal_driver_t driver(L"#32768", [](HWND menu) { fftest::choose_menu_item(menu, 0); });
       s.send(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
       s.send(WM_MOUSEMOVE, 11, 10, MK_LBUTTON);
       s.send(WM_LBUTTONUP, 11, 10);
       EXPECT_EQ(window_rect(s.icon.window()).left, before.left);
       ASSERT_TRUE(pump_until([&] { return driver.acted(); }, GetDoubleClickTime() + 3000)) << "the jitter ate the menu";
       EXPECT_EQ(s.comm.requests.size(), 1u);
     }},
    {"maximised_browser_frame_at_minus_8",
     [](Sequence& s) {
       const int w = GetSystemMetrics(SM_CXSCREEN) + 16, h = GetSystemMetrics(SM_CYSCREEN) + 16;
       SetWindowPos(s.browser.frame(), nullptr, -8, -8, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
       s.window_pos(-8, -8, w, h);
       EXPECT_TRUE(s.visible());
       EXPECT_TRUE(s.icon.click_enabled());
       const RECT content = content_on_screen(s.browser.content());
       EXPECT_EQ(window_rect(s.icon.window()).left, content.left + kControl.right + 4);
     }},
    {"browser_on_a_monitor_left_of_the_primary",
     [](Sequence& s) {
       SetWindowPos(s.browser.frame(), nullptr, -300, 120, 600, 400, SWP_NOZORDER | SWP_NOACTIVATE);
       s.window_pos(-300, 120, 600, 400);
       EXPECT_TRUE(s.visible());
       // Parked far away (no monitor there): hidden.
       s.window_pos(-32000, -32000, 600, 400);
       EXPECT_FALSE(s.visible());
     }},
    {"control_scrolled_out_of_the_content",
     [](Sequence& s) {
       RECT field = kControl;
       s.icon.set_attach_source([&field] { return field; });
       const RECT content = content_on_screen(s.browser.content());
       // Scrolled half under the top edge: the icon is clipped to the content area.
       field = {20, -10, 180, 10};
       ASSERT_TRUE(pump_until([&] { return s.icon.drawing().position.y < content.top; }, 2000));
       EXPECT_TRUE(s.visible());
       const RECT shown = window_rect(s.icon.window());
       EXPECT_EQ(shown.top, content.top) << "the icon lies over the toolbar";
       EXPECT_LT(shown.bottom - shown.top, s.icon.drawing().size.cy);
       // Scrolled out: hidden; back in: shown again where the control now is.
       field = {20, -200, 180, -180};
       EXPECT_TRUE(pump_until([&] { return !s.visible(); }, 2000));
       field = {20, 200, 180, 220};
       ASSERT_TRUE(pump_until([&] { return s.visible(); }, 2000));
       EXPECT_EQ(window_rect(s.icon.window()).top, content.top + 210 - 16);
     }},
    {"zero_size_control_with_the_training_prompt",
     [](Sequence& s) {
       s.icon.set_attach({});
       s.icon.set_prompt(true);
       s.icon.show(1);
       EXPECT_FALSE(s.visible());
       EXPECT_FALSE(s.icon.balloon().shown()) << "a prompt over nothing";
       EXPECT_FALSE(s.counter.value().has_value()) << "a showing spent on a prompt nobody saw";
       // A hint has nothing to point at either.
       s.complex_feedback.set(L"1");
       s.icon.target_message(ffipc::registered(ffipc::kxmsg::actionrequest_frhook), (sensor_badQuality << 8) | 8, 6);
       EXPECT_FALSE(s.icon.balloon().shown());
     }},
    {"two_balloons_with_and_without_a_title",
     [](Sequence& s) {
       // The hint's balloon as a tooltip that never had a title draws it: its height.
       s.complex_feedback.set(L"1");
       const UINT hint = scan_quality_message(8);
       balloons fresh;
       fresh.show(s.icon.window(), hint);
       ASSERT_TRUE(fresh.shown());
       const RECT alone = window_rect(fresh.balloon()->window());
       fresh.release();
       // The prompt with its title, then the hint in the same tooltip window.
       s.icon.set_prompt(true);
       s.icon.show(1);
       ASSERT_TRUE(s.icon.balloon().shown());
       const HWND tooltip = s.icon.balloon().balloon()->window();
       const RECT titled = window_rect(tooltip);
       s.icon.target_message(ffipc::registered(ffipc::kxmsg::actionrequest_frhook), (sensor_badQuality << 8) | 8, 6);
       ASSERT_TRUE(s.icon.balloon().shown());
       ASSERT_EQ(s.icon.balloon().balloon()->window(), tooltip);
       EXPECT_EQ(tooltip_text(tooltip, s.icon.window()), ffui::ui_text(hint));
       const RECT reused = window_rect(tooltip);
       EXPECT_EQ(reused.bottom - reused.top, alone.bottom - alone.top) << "the hint kept the prompt's title";
       EXPECT_NE(titled.bottom - titled.top, reused.bottom - reused.top);
     }},
    {"balloon_follows_the_icon_and_goes_when_the_browser_is_left",
     [](Sequence& s) {
       s.icon.set_prompt(true);
       s.icon.show(1);
       ASSERT_TRUE(s.icon.balloon().shown());
       const HWND tooltip = s.icon.balloon().balloon()->window();
       const RECT before = window_rect(tooltip);
       SetWindowPos(s.browser.frame(), nullptr, 160, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
       s.window_pos(160, 150, 600, 400);
       pump_for(50);
       const RECT after = window_rect(tooltip);
       EXPECT_EQ(after.left - before.left, 60);
       EXPECT_EQ(after.top - before.top, 50);
       s.icon.target_message(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(s.comm.hwnd()));
       EXPECT_FALSE(s.icon.balloon().shown());
       EXPECT_FALSE(IsWindowVisible(tooltip));
     }},
    {"choose_manifest_preselects_the_best_of_three",
     [](Sequence& s) {
       std::wstring selected;
       HWND owner = nullptr;
       modal_driver_t driver(L"#32770", [&](HWND dialog) {
         HWND list = GetDlgItem(dialog, IDC_KX_CHOICELIST);
         wchar_t text[64] = {};
         ListView_GetItemText(list, ListView_GetNextItem(list, -1, LVNI_SELECTED), 0, text, 64);
         selected = text;
         owner = GetWindow(dialog, GW_OWNER);
         SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
       });
       EXPECT_EQ(selectoneform({L"Best", L"Second", L"Third"}, s.browser.content()), 0);
       EXPECT_EQ(selected, L"Best");
       EXPECT_EQ(owner, s.browser.frame());
     }},
    {"icon_at_144_dpi",
     [](Sequence& s) {
       s.icon.set_dpi(144);
       s.icon.set_attach(kControl);
       const RECT r = window_rect(s.icon.window());
       EXPECT_EQ(r.right - r.left, 48);
       EXPECT_EQ(r.left, content_on_screen(s.browser.content()).left + kControl.right + 6);
       s.icon.set_prompt(true);
       s.icon.show(1);
       ASSERT_TRUE(s.icon.balloon().shown());
       EXPECT_EQ(SendMessageW(s.icon.balloon().balloon()->window(), TTM_GETMAXTIPWIDTH, 0, 0), 375);
     }},
};

INSTANTIATE_TEST_SUITE_P(Feedback, UserSequence, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BrowserKind, TextsOfTheFramesAndTheDefault) {
  fftest::browser_t firefox;
  fftest::plain_window_t ie(L"IEFrame");
  fftest::plain_window_t tabbed(L"IEFrame");
  fftest::plain_window_t tab(L"TabWindowClass", WS_CHILD | WS_VISIBLE, {0, 0, 10, 10}, 0, tabbed.hwnd());
  fftest::plain_window_t other;
  const struct {
    HWND window;
    const wchar_t* given;
    const wchar_t* kind;
  } cases[] = {{firefox.frame(), L"", L"FFFrame"},   {firefox.frame(), L"X", L"FFFrame"},
               {ie.hwnd(), L"", L"IEFrame"},         {tabbed.hwnd(), L"", L"TabWindowClass"},
               {tab.hwnd(), L"", L"TabWindowClass"}, {other.hwnd(), L"Given", L"Given"},
               {other.hwnd(), L"", L"OtherFrame"},   {firefox.content(), L"", L"OtherFrame"}};
  for (const auto& c : cases) EXPECT_EQ(browser_kind(c.window, c.given), c.kind) << describe(c.window);
}

// The component carries the version-6 manifest that its activation-context scopes use.
TEST(CommonControls6, TheComponentCarriesTheManifestAndItsScopeIsActive) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dll(path);
  dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"MozillaKXAgentClient.dll";
  HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, found))),
                             SizeofResource(module, found));
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  FreeLibrary(module);
  // This program carries the same resource: the scope activates it.
  kxenv::module_activation_t active;
  EXPECT_TRUE(active.active());
}

}  // namespace
}  // namespace ffagent_window
