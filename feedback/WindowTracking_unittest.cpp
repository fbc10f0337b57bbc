// Browser frames, align windows, whether the icon may show, and the icon's z-order and topmost
// style against real windows.
#include "feedback/WindowTracking.h"

#include <gtest/gtest.h>

#include "feedback/FeedbackTestSupport.h"

namespace ffagent_window {
namespace {

using fftest::browser_t;
using fftest::plain_window_t;

struct frame_case_t {
  const wchar_t* cls;
  bool child;
  bool frame;
};

class FirefoxFrame : public ::testing::TestWithParam<frame_case_t> {};

TEST_P(FirefoxFrame, IsRecognisedByClassAndTopLevel) {
  const auto& c = GetParam();
  plain_window_t parent(L"KxTestParent", WS_POPUP);
  // Registered by plain_window_t as well; the class name is what counts.
  plain_window_t probe(c.cls, c.child ? WS_CHILD : WS_POPUP, {0, 0, 10, 10}, 0, c.child ? parent.hwnd() : nullptr);
  EXPECT_EQ(is_firefox_frame(probe.hwnd()), c.frame);
}

INSTANTIATE_TEST_SUITE_P(Classes, FirefoxFrame,
                         ::testing::Values(frame_case_t{L"MozillaWindowClass", false, true},
                                           frame_case_t{L"MozillaWindowClass", true, false},
                                           frame_case_t{L"MozillaUIWindowClass", false, true},
                                           frame_case_t{L"mozillauiwindowclass", true, true},
                                           frame_case_t{L"MozillaContentWindowClass", false, false},
                                           frame_case_t{L"IEFrame", false, false}));

TEST(AlignWindow, TopLevelMozillaWindowIsItsOwn) {
  plain_window_t top(L"MozillaWindowClass", WS_POPUP | WS_VISIBLE);
  EXPECT_EQ(align_window(top.hwnd()), top.hwnd());
}

TEST(AlignWindow, FirstVisibleContentChildIsMarkedWithItsTarget) {
  browser_t browser;
  // A hidden content window before the visible one is passed over.
  HWND hidden = CreateWindowExW(0, L"MozillaContentWindowClass", L"", WS_CHILD, 0, 0, 10, 10, browser.frame(), nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  SetWindowPos(hidden, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  HWND align = nullptr;
  track_align_window(browser.frame(), align);
  EXPECT_EQ(align, browser.content());
  EXPECT_EQ(GetPropW(browser.content(), property_alignwindow()), browser.frame());
  EXPECT_EQ(GetPropW(hidden, property_alignwindow()), nullptr);
}

TEST(AlignWindow, FrameWithoutVisibleContentIsItsOwnAndUnmarked) {
  browser_t browser;
  ShowWindow(browser.content(), SW_HIDE);
  HWND align = nullptr;
  track_align_window(browser.frame(), align);
  EXPECT_EQ(align, browser.frame());
  EXPECT_EQ(GetPropW(browser.frame(), property_alignwindow()), nullptr);
}

TEST(MayShow, ForegroundVisibleBrowserMayShow) {
  browser_t browser;
  ASSERT_EQ(GetForegroundWindow(), browser.frame());
  const auto r = may_show(browser.frame());
  EXPECT_EQ(r.root, browser.frame());
  EXPECT_TRUE(r.flag);
  // The content window's root is the frame.
  EXPECT_TRUE(may_show(browser.content()).flag);
}

TEST(MayShow, MinimisedBrowserNeverShows) {
  browser_t browser;
  ShowWindow(browser.frame(), SW_MINIMIZE);
  SetForegroundWindow(browser.frame());
  fftest::pump_for(20);
  EXPECT_FALSE(may_show(browser.frame()).flag);
}

TEST(MayShow, BrowserBehindAnotherWindowNeverShows) {
  browser_t browser;
  browser_t other({150, 150, 500, 400});
  ASSERT_EQ(GetForegroundWindow(), other.frame());
  EXPECT_TRUE(IsWindowVisible(browser.frame()));
  EXPECT_FALSE(may_show(browser.frame()).flag);
}

TEST(MayShow, Identity274OnlyForTheUppermostSibling) {
  browser_t browser;
  HWND second = CreateWindowExW(0, L"MozillaContentWindowClass", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                                browser.frame(), nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowPos(second, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ASSERT_EQ(GetWindow(browser.frame(), GW_CHILD), browser.content());
  SetPropW(second, property_winid(), reinterpret_cast<HANDLE>(274));
  EXPECT_FALSE(may_show(second).flag);
  SetPropW(browser.content(), property_winid(), reinterpret_cast<HANDLE>(274));
  EXPECT_TRUE(may_show(browser.content()).flag);
  // Another identity does not ask for the order.
  SetPropW(second, property_winid(), reinterpret_cast<HANDLE>(275));
  EXPECT_TRUE(may_show(second).flag);
  RemovePropW(second, property_winid());
  RemovePropW(browser.content(), property_winid());
}

TEST(ZOrder, IconAlreadyAboveItsAlignWindowIsNotMoved) {
  plain_window_t align(L"KxTestAlign");
  plain_window_t icon(L"KxTestIcon", WS_POPUP | WS_VISIBLE, {20, 20, 52, 52}, WS_EX_TOOLWINDOW);
  SetWindowPos(icon.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  plain_window_t between(L"KxTestPlain");  // now above both
  SetWindowPos(align.hwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  icon.reset_counts();
  syncronize_zorder(align.hwnd(), icon.hwnd());
  EXPECT_EQ(icon.zorder_changes(), 0);
}

TEST(ZOrder, IconBelowItsAlignWindowGoesJustAboveIt) {
  plain_window_t icon(L"KxTestIcon", WS_POPUP | WS_VISIBLE, {20, 20, 52, 52}, WS_EX_TOOLWINDOW);
  plain_window_t other(L"KxTestPlain");
  plain_window_t align(L"KxTestAlign");
  SetWindowPos(other.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowPos(icon.hwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  syncronize_zorder(align.hwnd(), icon.hwnd());
  EXPECT_EQ(GetWindow(align.hwnd(), GW_HWNDPREV), icon.hwnd());
}

TEST(ZOrder, TopmostStyleFollowsTheAlignWindow) {
  plain_window_t align(L"KxTestAlign");
  plain_window_t icon(L"KxTestIcon", WS_POPUP | WS_VISIBLE, {20, 20, 52, 52}, WS_EX_TOOLWINDOW);
  const auto topmost = [](HWND h) { return (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
  SetWindowPos(align.hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ASSERT_TRUE(topmost(align.hwnd()));
  syncronize_zorder(align.hwnd(), icon.hwnd());
  EXPECT_TRUE(topmost(icon.hwnd()));
  SetWindowPos(align.hwnd(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  syncronize_topstyle(align.hwnd(), icon.hwnd());
  EXPECT_FALSE(topmost(icon.hwnd()));
}

TEST(ZOrder, ChildIconIsLeftAlone) {
  plain_window_t align(L"KxTestAlign");
  plain_window_t parent(L"KxTestParent", WS_POPUP | WS_VISIBLE);
  plain_window_t icon(L"KxTestIcon", WS_CHILD | WS_VISIBLE, {0, 0, 32, 32}, 0, parent.hwnd());
  SetWindowPos(align.hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  icon.reset_counts();
  syncronize_zorder(align.hwnd(), icon.hwnd());
  EXPECT_EQ(icon.zorder_changes(), 0);
}

TEST(Describe, NullDeadAndLiveWindows) {
  EXPECT_EQ(describe(nullptr), "hwnd=0");
  plain_window_t gone(L"KxTestPlain");
  HWND dead = gone.hwnd();
  DestroyWindow(dead);
  EXPECT_EQ(describe(dead), "INVALID_HWND");
  EXPECT_EQ(describe(dead, "gone"), "gone");
  browser_t browser;
  const std::string text = describe(browser.frame());
  EXPECT_NE(text.find("'MozillaUIWindowClass' \"Log on - Test Browser\""), std::string::npos) << text;
}

}  // namespace
}  // namespace ffagent_window
