#include "include_extension/UtilsWin.h"

#include <gtest/gtest.h>

#include "tracecore/testing.h"

namespace {

// Real windows of the browser's classes on this thread; destroyed with the fixture.
class BrowserWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const wchar_t* name : {L"MozillaWindowClass", L"MozillaContentWindowClass", L"OtherWindowClass"}) {
      WNDCLASSW wc{};
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = name;
      RegisterClassW(&wc);
    }
  }
  ~BrowserWindows() override {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
      if (IsWindow(*it)) DestroyWindow(*it);
  }
  HWND make(const wchar_t* cls, DWORD style, HWND parent = nullptr, DWORD exstyle = 0) {
    HWND h = CreateWindowExW(exstyle, cls, L"", style, 0, 0, 200, 100, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_TRUE(h) << GetLastError();
    windows_.push_back(h);
    return h;
  }
  std::vector<HWND> windows_;
};

TEST_F(BrowserWindows, TopLevelByClassIgnoringCase) {
  EXPECT_EQ(nullptr, findTopLevel());
  make(L"OtherWindowClass", WS_OVERLAPPEDWINDOW);
  HWND top = make(L"mozillawindowclass", WS_OVERLAPPEDWINDOW);
  tracecore::testing::capture_t trace;
  EXPECT_EQ(top, findTopLevel());
  EXPECT_TRUE(trace.contains('U', "Found hwnd = ")) << trace.dump();
}

TEST_F(BrowserWindows, ContentAreaMustBeVisible) {
  HWND top = make(L"MozillaWindowClass", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  make(L"OtherWindowClass", WS_CHILD | WS_VISIBLE, top);
  HWND content = make(L"MozillaContentWindowClass", WS_CHILD | WS_VISIBLE, top);
  EXPECT_EQ(content, findBrowserContent(top));
  ShowWindow(content, SW_HIDE);
  // The first content window ends the search even when a later one would be visible.
  make(L"MozillaContentWindowClass", WS_CHILD | WS_VISIBLE, top);
  EXPECT_EQ(nullptr, findBrowserContent(top));
}

TEST_F(BrowserWindows, AuthenticationDialogAndPageWindow) {
  HWND top = make(L"MozillaWindowClass", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  HWND content = make(L"MozillaContentWindowClass", WS_CHILD | WS_VISIBLE, top);
  HWND page = make(L"OtherWindowClass", WS_CHILD | WS_VISIBLE, content);
  EXPECT_EQ(nullptr, findPopupAuth(top));
  EXPECT_EQ(page, findPageWindow(top));

  HWND other = make(L"OtherWindowClass", WS_OVERLAPPEDWINDOW);
  make(L"OtherWindowClass", WS_POPUP | WS_CAPTION | DS_MODALFRAME, top);               // no modal-frame ex style
  make(L"OtherWindowClass", WS_POPUP | WS_CAPTION | DS_MODALFRAME, other, WS_EX_DLGMODALFRAME);  // another owner
  HWND dialog = make(L"OtherWindowClass", WS_POPUP | WS_CAPTION | DS_MODALFRAME, top, WS_EX_DLGMODALFRAME);
  HWND field = make(L"OtherWindowClass", WS_CHILD | WS_VISIBLE, dialog);
  tracecore::testing::capture_t trace;
  EXPECT_EQ(dialog, findPopupAuth(top));
  EXPECT_TRUE(trace.contains('U', "Found hwndTopLevel = ")) << trace.dump();
  EXPECT_EQ(field, findPageWindow(top));

  DestroyWindow(dialog);
  ShowWindow(content, SW_HIDE);
  EXPECT_EQ(nullptr, findPageWindow(top));
}

}  // namespace
