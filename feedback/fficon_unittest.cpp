// The feedback icon window with real windows, messages and timers: placement beside the control,
// clicks and the menu round trip with the communication window, finger activity and its balloons,
// the browser window's messages, and taking the icon down.
#include "feedback/fficon.h"

#include <gtest/gtest.h>

#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/window/Feedback.h"
#include "environment/BrandingResources.h"
#include "feedback/FeedbackTestSupport.h"
#include "feedback/FeedbackUI.h"
#include "feedback/Texts.h"
#include "feedback/WindowTracking.h"
#include "tracecore/testing.h"

namespace ffagent_window {
namespace {

using fftest::browser_t;
using fftest::comm_stub_t;
using fftest::modal_driver_t;
using fftest::pump_for;
using fftest::pump_until;

constexpr RECT kControl{20, 40, 180, 60};  // client coordinates of the content window
constexpr WPARAM kIdentity = 5;

UINT activity_message() { return ffipc::registered(ffipc::kxmsg::actionrequest_frhook); }
WPARAM activity(int state, int quality) { return static_cast<WPARAM>((state << 8) | quality); }

std::vector<LPARAM> lparams(const std::vector<comm_stub_t::entry_t>& entries) {
  std::vector<LPARAM> out;
  for (const auto& e : entries) out.push_back(e.lparam);
  return out;
}

RECT window_rect(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r;
}

class IconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPropW(browser_.frame(), property_winid(), reinterpret_cast<HANDLE>(kIdentity));
    ASSERT_TRUE(icon_.createwindow(browser_.frame(), comm_.hwnd()));
    icon_.set_attach(kControl);
    icon_.set_enabled(true);
    icon_.show(0);
    ASSERT_TRUE(IsWindowVisible(icon_.window()));
    ASSERT_TRUE(icon_.click_enabled());
  }
  void TearDown() override { RemovePropW(browser_.frame(), property_winid()); }

  void send(UINT msg, int x = 10, int y = 10, WPARAM keys = 0) {
    SendMessageW(icon_.window(), msg, keys, MAKELPARAM(x, y));
  }
  POINT content_origin() const {
    POINT p{0, 0};
    ClientToScreen(browser_.content(), &p);
    return p;
  }

  browser_t browser_;
  comm_stub_t comm_;
  fftest::setting_t complex_feedback_{L"show_complex_feedback"};
  fficon icon_;
};

TEST_F(IconTest, IsALayeredToolPopupOfItsOwnClass) {
  wchar_t cls[64] = {}, title[64] = {};
  GetClassNameW(icon_.window(), cls, 64);
  GetWindowTextW(icon_.window(), title, 64);
  EXPECT_STREQ(cls, L"KX_LocalAvatarClass");
  EXPECT_STREQ(title, L"KX_LocalAvatar");
  EXPECT_EQ(GetWindowLongW(icon_.window(), GWL_STYLE) & WS_POPUP, static_cast<LONG>(WS_POPUP));
  const LONG ex = GetWindowLongW(icon_.window(), GWL_EXSTYLE);
  EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(ex & WS_EX_LAYERED);
  EXPECT_TRUE(GetClassLongW(icon_.window(), GCL_STYLE) & CS_DBLCLKS);
  EXPECT_EQ(GetParent(icon_.window()), nullptr);
  // The content window is marked with the browser window it serves.
  EXPECT_EQ(GetPropW(browser_.content(), property_alignwindow()), browser_.frame());
}

TEST_F(IconTest, SitsBesideTheControlAndFollowsIt) {
  const POINT origin = content_origin();
  const RECT r = window_rect(icon_.window());
  EXPECT_EQ(r.left, origin.x + kControl.right + 4);
  EXPECT_EQ(r.top, origin.y + (kControl.top + kControl.bottom) / 2 - 16);
  EXPECT_EQ(r.right - r.left, 32);
  EXPECT_EQ(r.bottom - r.top, 32);
  EXPECT_EQ(icon_.drawing().image, 6);  // resting, clickable

  icon_.set_attach({10, 100, 60, 120});
  EXPECT_EQ(window_rect(icon_.window()).left, origin.x + 60 + 4);
  EXPECT_EQ(window_rect(icon_.window()).top, origin.y + 110 - 16);

  // The browser moves: the icon comes along on the next placement.
  SetWindowPos(browser_.frame(), nullptr, 150, 130, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  WINDOWPOS pos{browser_.frame(), nullptr, 150, 130, 600, 400, SWP_NOSIZE | SWP_NOZORDER};
  icon_.target_message(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  EXPECT_EQ(window_rect(icon_.window()).left, content_origin().x + 64);
  EXPECT_TRUE(IsWindowVisible(icon_.window()));
}

TEST_F(IconTest, CursorOverTheIconShowsTheHoverImage) {
  send(WM_MOUSEMOVE, 10, 10);
  EXPECT_EQ(icon_.drawing().image, 5);
  send(WM_MOUSELEAVE);
  EXPECT_EQ(icon_.drawing().image, 6);
}

TEST_F(IconTest, SingleClickOpensTheMenuOnlyAfterTheDoubleClickTime) {
  modal_driver_t driver(L"#32768", [](HWND menu) { fftest::choose_menu_item(menu, IDM_KX_DASHBOARD); });
  send(WM_LBUTTONDOWN);
  send(WM_LBUTTONUP);
  const DWORD clicked = GetTickCount();
  ASSERT_TRUE(pump_until([&] { return !comm_.commands.empty(); }, 5000));
  ASSERT_EQ(lparams(comm_.requests), std::vector<LPARAM>{3});
  EXPECT_EQ(comm_.requests[0].wparam, kIdentity);
  EXPECT_GE(comm_.requests[0].tick - clicked + 20, GetDoubleClickTime());
  ASSERT_EQ(lparams(comm_.commands), std::vector<LPARAM>{iconcmd_spawndashboard});  // the dashboard entry
  EXPECT_EQ(comm_.commands[0].wparam, kIdentity);
}

TEST_F(IconTest, DoubleClickPostsTheDefaultCommandAndOpensNoMenu) {
  modal_driver_t driver(L"#32768", [](HWND menu) { fftest::choose_menu_item(menu, 0); }, 2000);
  send(WM_LBUTTONDOWN);
  send(WM_LBUTTONUP);
  send(WM_LBUTTONDBLCLK);
  send(WM_LBUTTONUP);
  pump_for(GetDoubleClickTime() * 2);
  EXPECT_TRUE(comm_.requests.empty());
  EXPECT_FALSE(driver.acted());
  ASSERT_EQ(lparams(comm_.commands), std::vector<LPARAM>{iconcmd_mousestate_dblclk});
  EXPECT_EQ(comm_.commands[0].wparam, kIdentity);
}

TEST_F(IconTest, RightClickOpensTheMenuAtOnce) {
  comm_.state_word = 0x32;  // untrained, with the flag
  modal_driver_t driver(L"#32768", [](HWND menu) { fftest::choose_menu_item(menu, IDM_KX_ICONSETTINGS); });
  send(WM_RBUTTONDOWN);  // returns once the menu is closed
  EXPECT_TRUE(driver.acted());
  EXPECT_EQ(lparams(comm_.requests), std::vector<LPARAM>{3});
  send(WM_RBUTTONUP);
  ASSERT_TRUE(pump_until([&] { return !comm_.commands.empty(); }, 2000));
  EXPECT_EQ(lparams(comm_.commands), std::vector<LPARAM>{iconcmd_showiconsettings});  // icon settings
}

TEST_F(IconTest, ClosedMenuPostsNothing) {
  modal_driver_t driver(L"#32768", [](HWND menu) { fftest::choose_menu_item(menu, 0); });
  send(WM_RBUTTONDOWN);
  send(WM_RBUTTONUP);
  pump_for(100);
  EXPECT_TRUE(driver.acted());
  EXPECT_TRUE(comm_.commands.empty());
}

TEST_F(IconTest, ClickOutsideTheIconOpensNoMenu) {
  send(WM_RBUTTONDOWN, 40, 40);
  send(WM_RBUTTONUP, 40, 40);
  send(WM_LBUTTONDBLCLK, -3, 5);
  pump_for(50);
  EXPECT_TRUE(comm_.requests.empty());
  EXPECT_TRUE(comm_.commands.empty());
}

TEST_F(IconTest, DragMovesTheIconWithoutOpeningTheMenu) {
  const RECT before = window_rect(icon_.window());
  send(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
  send(WM_MOUSEMOVE, 30, 25, MK_LBUTTON);
  send(WM_LBUTTONUP, 10, 10);
  const RECT after = window_rect(icon_.window());
  EXPECT_EQ(after.left - before.left, 20);
  EXPECT_EQ(after.top - before.top, 15);
  pump_for(GetDoubleClickTime() + 200);
  EXPECT_TRUE(comm_.requests.empty());
  // Asked to reposition, the icon goes back beside its control.
  SendMessageW(icon_.window(), ffipc::registered(ffipc::kxmsg::fbiconmenu_request), 0, 2);
  EXPECT_EQ(window_rect(icon_.window()).left, before.left);
}

TEST_F(IconTest, MenuWithoutCommunicationWindowDoesNothing) {
  fficon lone;
  ASSERT_TRUE(lone.createwindow(browser_.frame(), nullptr));
  lone.set_attach(kControl);
  lone.set_enabled(true);
  lone.show(0);
  ASSERT_TRUE(lone.click_enabled());
  tracecore::testing::capture_t trace;
  SendMessageW(lone.window(), WM_RBUTTONDOWN, 0, MAKELPARAM(10, 10));
  SendMessageW(lone.window(), WM_LBUTTONDBLCLK, 0, MAKELPARAM(10, 10));
  EXPECT_TRUE(trace.contains('E', "NOCOMWINFORMENU")) << trace.dump();
  EXPECT_TRUE(comm_.requests.empty());
}

TEST_F(IconTest, NotClickEnabledAClickOnlyBringsTheBrowserForward) {
  browser_t other({300, 300, 700, 600});
  icon_.show(0);
  ASSERT_FALSE(icon_.click_enabled());
  send(WM_LBUTTONDOWN);
  send(WM_LBUTTONUP);
  pump_for(GetDoubleClickTime() + 200);
  EXPECT_EQ(GetForegroundWindow(), browser_.frame());
  EXPECT_TRUE(comm_.requests.empty());
  EXPECT_TRUE(comm_.commands.empty());

  // A disabled browser window is left where it is.
  SetForegroundWindow(other.frame());
  icon_.show(0);
  EnableWindow(browser_.frame(), FALSE);
  send(WM_RBUTTONDOWN);
  EXPECT_EQ(GetForegroundWindow(), other.frame());
  EnableWindow(browser_.frame(), TRUE);
  EXPECT_TRUE(comm_.requests.empty());
}

struct quality_case_t {
  int quality;
  bool complex_feedback;
  UINT text;  // 0: no balloon
};

class BadQuality : public IconTest, public ::testing::WithParamInterface<quality_case_t> {};

TEST_P(BadQuality, HintBalloonByScanQuality) {
  const auto& c = GetParam();
  if (c.complex_feedback) complex_feedback_.set(L"1");
  tracecore::testing::capture_t trace;
  icon_.target_message(activity_message(), activity(sensor_badQuality, c.quality), 6);
  char line[96];
  std::snprintf(line, sizeof line, "'`I03`'finger animation: sensorstate: badQuality, scanquality = %d", c.quality);
  EXPECT_TRUE(trace.has('U', line)) << trace.dump();
  EXPECT_EQ(icon_.balloon().shown(), c.text != 0);
  if (c.text) {
    EXPECT_EQ(icon_.balloon().balloon()->text(), ffui::ui_text(c.text));
  }
  EXPECT_EQ(icon_.drawing().image, 3);  // a bad result, clickable
  // Any other state takes the hint away.
  icon_.target_message(activity_message(), activity(sensor_waitingForFinger, 0), 6);
  EXPECT_FALSE(icon_.balloon().shown());
}

INSTANTIATE_TEST_SUITE_P(Qualities, BadQuality,
                         ::testing::Values(quality_case_t{0, true, 0}, quality_case_t{1, true, 0},
                                           quality_case_t{2, true, IDS_KX_SCAN_POOR},
                                           quality_case_t{3, true, IDS_KX_SCAN_TOO_SHORT},
                                           quality_case_t{18, true, IDS_KX_SCAN_CLEAN_SENSOR},
                                           quality_case_t{25, true, IDS_KX_SCAN_POOR},
                                           quality_case_t{25, false, 0}));

TEST_F(IconTest, HintBalloonGoesAfterEightSeconds) {
  complex_feedback_.set(L"1");
  const DWORD start = GetTickCount();
  icon_.target_message(activity_message(), activity(sensor_badQuality, 8), 6);
  ASSERT_TRUE(icon_.balloon().shown());
  ASSERT_TRUE(pump_until([&] { return !icon_.balloon().shown(); }, 10000));
  EXPECT_GE(GetTickCount() - start + 50, 8000u);
}

TEST(ScanQuality, TableOfHints) {
  const UINT expected[] = {0,
                           0,
                           IDS_KX_SCAN_POOR,
                           IDS_KX_SCAN_TOO_SHORT,
                           IDS_KX_SCAN_TOO_FAST,
                           IDS_KX_SCAN_TOO_SLOW,
                           IDS_KX_SCAN_TO_ONE_SIDE,
                           IDS_KX_SCAN_NOT_RECOGNISED,
                           IDS_KX_SCAN_PRESS_HARDER,
                           IDS_KX_SCAN_PRESS_LIGHTER,
                           IDS_KX_SCAN_TOO_WET,
                           IDS_KX_SCAN_TWISTED,
                           IDS_KX_SCAN_STOPPED,
                           IDS_KX_SCAN_FAINT,
                           IDS_KX_SCAN_TOO_DRY,
                           IDS_KX_SCAN_PARTIAL,
                           IDS_KX_SCAN_NOT_STRAIGHT,
                           IDS_KX_SCAN_NOT_CENTRED,
                           IDS_KX_SCAN_CLEAN_SENSOR,
                           IDS_KX_SCAN_POOR};  // 19: beyond the table
  for (int q = 0; q < 20; ++q) EXPECT_EQ(scan_quality_message(q), expected[q]) << q;
  EXPECT_EQ(scan_quality_message(255), static_cast<UINT>(IDS_KX_SCAN_POOR));
}

TEST(IconImages, ChosenByStateAndFlags) {
  const struct {
    int state;
    bool clickable = false;
    bool inside = false;  // the cursor is over the icon
    int image;
  } cases[] = {
      {.state = 2, .clickable = true, .image = 5},
      {.state = 2, .image = 5},
      {.state = 3, .clickable = true, .image = 4},
      {.state = 3, .image = 2},
      {.state = 4, .clickable = true, .image = 3},
      {.state = 5, .image = 1},
      {.state = 6, .clickable = true, .inside = true, .image = 3},
      {.state = 9, .image = 1},
      {.state = 10, .clickable = true, .image = 6},
      {.state = 10, .clickable = true, .inside = true, .image = 5},
      {.state = 10, .inside = true, .image = 0},
      {.state = 0, .image = 6},
      {.state = 1, .clickable = true, .image = 6},
  };
  for (const auto& c : cases)
    EXPECT_EQ(image_for_state(c.state, c.clickable, c.inside), c.image) << c.state << c.clickable << c.inside;
}

TEST_F(IconTest, FingerAnimationReturnsToRestAfterTwoSeconds) {
  const DWORD start = GetTickCount();
  icon_.target_message(activity_message(), activity(sensor_processing, 0), 6);
  EXPECT_EQ(icon_.drawing().image, 5);
  EXPECT_EQ(icon_.drawing().frame, 1);
  ASSERT_TRUE(pump_until([&] { return icon_.drawing().image == 6; }, 4000));
  EXPECT_GE(GetTickCount() - start + 50, 2000u);
  EXPECT_EQ(icon_.drawing().state, kRestingState);
}

// A result image stays up for half a second, without holding the browser's thread.
TEST_F(IconTest, ResultImageStaysUpWithoutBlockingTheThread) {
  const DWORD start = GetTickCount();
  icon_.target_message(activity_message(), activity(sensor_goodResult, 0), 6);
  EXPECT_LT(GetTickCount() - start, 250u);
  EXPECT_EQ(icon_.drawing().image, 4);
  // The next event and a hide come at once; the result stays visible meanwhile.
  icon_.target_message(activity_message(), activity(sensor_processing, 0), 6);
  EXPECT_EQ(icon_.drawing().image, 4);
  icon_.hide();
  EXPECT_LT(GetTickCount() - start, 250u);
  EXPECT_TRUE(IsWindowVisible(icon_.window()));
  ASSERT_TRUE(pump_until([&] { return !IsWindowVisible(icon_.window()); }, 2000));
  EXPECT_GE(GetTickCount() - start + 30, kResultHoldMs);
}

TEST_F(IconTest, ResultImageGivesWayToTheNextStateAfterItsTime) {
  icon_.target_message(activity_message(), activity(sensor_badResult, 0), 6);
  EXPECT_EQ(icon_.drawing().image, 3);
  icon_.target_message(activity_message(), activity(sensor_processing, 0), 6);
  EXPECT_EQ(icon_.drawing().image, 3);
  ASSERT_TRUE(pump_until([&] { return icon_.drawing().image == 5; }, 1500));
  EXPECT_TRUE(IsWindowVisible(icon_.window()));
}

TEST_F(IconTest, MinimisedBrowserHidesTheIconRestoredShowsItAgain) {
  ShowWindow(browser_.frame(), SW_MINIMIZE);
  icon_.target_message(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0);
  EXPECT_FALSE(IsWindowVisible(icon_.window()));
  EXPECT_FALSE(icon_.click_enabled());

  ShowWindow(browser_.frame(), SW_RESTORE);
  SetForegroundWindow(browser_.frame());
  pump_for(20);
  icon_.target_message(WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
  EXPECT_TRUE(IsWindowVisible(icon_.window()));
  EXPECT_TRUE(icon_.click_enabled());
  EXPECT_EQ(icon_.drawing().image, 6);
}

TEST_F(IconTest, DeactivationToAnotherWindowEndsClicks) {
  browser_t other({300, 300, 700, 600});
  icon_.target_message(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(other.frame()));
  EXPECT_FALSE(icon_.click_enabled());
  EXPECT_EQ(icon_.drawing().image, 0);  // resting without clicks: nothing to see
}

struct move_case_t {
  const char* name;
  int x = 0;
  int y = 0;
  bool drop_content = false;  // the content window goes away
  bool visible = false;       // the icon afterwards
};

class BrowserMoved : public IconTest, public ::testing::WithParamInterface<move_case_t> {};

TEST_P(BrowserMoved, IconShowsOnlyWithContentAndOnAMonitor) {
  const auto& c = GetParam();
  if (c.drop_content) browser_.drop_content();
  WINDOWPOS pos{browser_.frame(), nullptr, c.x, c.y, 600, 400, SWP_NOSIZE | SWP_NOZORDER};
  icon_.target_message(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  EXPECT_EQ(IsWindowVisible(icon_.window()) != FALSE, c.visible);
}

INSTANTIATE_TEST_SUITE_P(Positions, BrowserMoved,
                         ::testing::Values(move_case_t{.name = "on_screen", .x = 10, .y = 10, .visible = true},
                                           move_case_t{.name = "origin", .x = 0, .y = 0, .visible = true},
                                           move_case_t{.name = "minimised_position", .x = -32000, .y = -32000},
                                           move_case_t{.name = "partly_left_of_the_monitor", .x = -1, .y = 5, .visible = true},
                                           move_case_t{.name = "partly_above_the_monitor", .x = 5, .y = -1, .visible = true},
                                           move_case_t{.name = "far_beyond_every_monitor", .x = 30000, .y = 30000},
                                           move_case_t{.name = "content_gone", .x = 10, .y = 10, .drop_content = true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(IconTest, HiddenByWindowPosShowsAgainOnAGoodOne) {
  WINDOWPOS away{browser_.frame(), nullptr, -32000, -32000, 0, 0, SWP_NOSIZE | SWP_NOZORDER};
  icon_.target_message(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&away));
  ASSERT_FALSE(IsWindowVisible(icon_.window()));
  WINDOWPOS back{browser_.frame(), nullptr, 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER};
  icon_.target_message(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&back));
  EXPECT_TRUE(IsWindowVisible(icon_.window()));
  EXPECT_TRUE(icon_.click_enabled());
}

TEST_F(IconTest, ShowAndHideOfTheBrowserAreTraced) {
  tracecore::testing::capture_t trace;
  icon_.target_message(WM_SHOWWINDOW, FALSE, 0);
  icon_.target_message(WM_SHOWWINDOW, TRUE, 0);
  EXPECT_TRUE(trace.has('U', "HIDE")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "SHOW")) << trace.dump();
}

TEST_F(IconTest, EmptyControlHidesTheIcon) {
  tracecore::testing::capture_t trace;
  icon_.set_attach({});
  EXPECT_FALSE(IsWindowVisible(icon_.window()));
  EXPECT_TRUE(trace.has('U', "'`I05`'empty attach rect on upd:")) << trace.dump();
  icon_.redraw(kRestingState, 0);
  EXPECT_TRUE(trace.has('U', "'`I05`'no able to get location should be hidden")) << trace.dump();
}

TEST_F(IconTest, HighlightSetsItsBit) {
  icon_.show(2);
  EXPECT_TRUE(icon_.highlighted());
  icon_.hide();
  EXPECT_FALSE(icon_.highlighted());
  EXPECT_FALSE(icon_.click_enabled());
}

TEST_F(IconTest, DestroyTwiceOnlyTracesTheSecondTime) {
  const HWND hwnd = icon_.window();
  icon_.destroy_window();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(icon_.window(), nullptr);
  tracecore::testing::capture_t trace;
  icon_.destroy_window();
  const auto records = trace.records();
  ASSERT_EQ(records.size(), 1u) << trace.dump();
  EXPECT_TRUE(trace.has('U', "destroyed"));
  // Without a window every operation does nothing.
  icon_.show(0);
  icon_.hide();
  icon_.target_message(activity_message(), activity(sensor_goodResult, 0), 6);
  EXPECT_EQ(icon_.window(), nullptr);
}

TEST_F(IconTest, WindowDestroyedByOthersIsForgotten) {
  DestroyWindow(icon_.window());
  EXPECT_EQ(icon_.window(), nullptr);
  tracecore::testing::capture_t trace;
  icon_.destroy_window();
  EXPECT_EQ(trace.records().size(), 1u) << trace.dump();
  EXPECT_TRUE(trace.has('U', "destroyed"));
}

class TrainingPrompt : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(icon_.createwindow(browser_.frame(), comm_.hwnd()));
    icon_.set_attach(kControl);
    icon_.set_enabled(true);
  }
  browser_t browser_;
  comm_stub_t comm_;
  fftest::setting_t counter_{L"@balloon_counter::TrainingPrompt"};
  fficon icon_;
};

TEST_F(TrainingPrompt, RecognisedPageWithThePromptShowsTheBalloon) {
  icon_.set_prompt(true);
  icon_.show(1);
  ASSERT_TRUE(IsWindowVisible(icon_.window()));
  ASSERT_TRUE(icon_.balloon().shown());
  EXPECT_EQ(icon_.balloon().balloon()->title(), ffui::ui_text(IDS_KX_PROMPT_TITLE));
  EXPECT_EQ(icon_.balloon().balloon()->text(), ffui::ui_text(IDS_KX_PROMPT_TEXT));
  EXPECT_EQ(counter_.value().value_or(L""), L"2");
  // The hide timer takes it away.
  SendMessageW(icon_.window(), WM_TIMER, fficon::timer_hideballoon, 0);
  EXPECT_FALSE(icon_.balloon().shown());
}

TEST_F(TrainingPrompt, SpentCounterShowsTheIconWithoutBalloon) {
  counter_.set(L"0");
  icon_.set_prompt(true);
  icon_.show(1);
  EXPECT_TRUE(IsWindowVisible(icon_.window()));
  EXPECT_FALSE(icon_.balloon().shown());
}

TEST_F(TrainingPrompt, RecognisedPageWithoutThePromptLeavesTheIconOff) {
  icon_.set_prompt(false);
  icon_.show(1);
  EXPECT_FALSE(icon_.enabled());
  EXPECT_FALSE(IsWindowVisible(icon_.window()));
  EXPECT_FALSE(counter_.value().has_value());
}

TEST_F(TrainingPrompt, MouseMovingAwayHidesTheBalloon) {
  icon_.set_prompt(true);
  icon_.show(1);
  ASSERT_TRUE(icon_.balloon().shown());
  const POINT ref = icon_.balloon().balloon()->reference();
  POINT client{ref.x + 10, ref.y};
  ScreenToClient(icon_.window(), &client);
  SendMessageW(icon_.window(), WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
  EXPECT_FALSE(icon_.balloon().shown());
}

// The component's view: the feedback UI behind the communication window's interface.
TEST(FeedbackUI, ModesHideAndMenuFlag) {
  browser_t browser;
  comm_stub_t comm;
  fftest::setting_t counter(L"@balloon_counter::TrainingPrompt");
  counter.set(L"0");
  auto ui = make_feedback_ui();
  ASSERT_TRUE(ui->attach(comm.hwnd(), browser.frame()));
  auto& icon = static_cast<feedback_ui_t&>(*ui).icon();
  ui->set_attach(kControl);
  ui->show(L"www.example.com", icon_trained);
  EXPECT_TRUE(IsWindowVisible(icon.window()));
  // The flag is the page's as the component tells it, not the icon's clickability.
  EXPECT_FALSE(ui->menu_flag());
  ui->set_menu_flag(true);
  EXPECT_TRUE(ui->menu_flag());
  ui->hide();
  EXPECT_FALSE(IsWindowVisible(icon.window()));
  EXPECT_TRUE(ui->menu_flag());
  // Hidden by the component, the icon stays hidden when the browser is activated again.
  ui->handle_message(WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_FALSE(IsWindowVisible(icon.window()));
  ui->show(L"www.example.com", icon_trainingprompt);
  EXPECT_TRUE(IsWindowVisible(icon.window()));
  // The training entry names the page's domain.
  comm.state_word = 0x32;
  std::wstring entry;
  modal_driver_t driver(L"#32768", [&](HWND menu) {
    HMENU m = reinterpret_cast<HMENU>(SendMessageW(menu, 0x01E1 /* MN_GETHMENU */, 0, 0));
    entry = fftest::menu_text(m, IDM_KX_ADDPROFILE);
    fftest::choose_menu_item(menu, IDM_KX_ADDPROFILE);
  });
  SendMessageW(icon.window(), WM_RBUTTONDOWN, 0, MAKELPARAM(10, 10));
  SendMessageW(icon.window(), WM_RBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(entry, L"Add a logon for www.example.com");
  ASSERT_TRUE(pump_until([&] { return !comm.commands.empty(); }, 2000));
  EXPECT_EQ(comm.commands[0].lparam, iconcmd_addprofile);
  ui->detach();
  EXPECT_EQ(icon.window(), nullptr);
}

}  // namespace
}  // namespace ffagent_window
