// The choose-manifest and icon settings dialogs from the branding stand-in's templates, driven from
// inside their modal loops the way a user would: select a row, click buttons.
#include "feedback/Dialogs.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>
#include <string>

#include "environment/BrandingResources.h"
#include "feedback/FeedbackTestSupport.h"

namespace ffagent_window {
namespace {

using fftest::modal_driver_t;

void click(HWND dialog, int control) { SendMessageW(GetDlgItem(dialog, control), BM_CLICK, 0, 0); }

// Rows of the list in the order shown.
std::vector<std::wstring> rows(HWND list) {
  std::vector<std::wstring> texts;
  for (int i = 0; i < ListView_GetItemCount(list); ++i) {
    wchar_t text[261] = {};
    ListView_GetItemText(list, i, 0, text, 260);
    texts.emplace_back(text);
  }
  return texts;
}

void select_row(HWND list, int row) {
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  if (row >= 0) ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

struct choice_case_t {
  const char* name;
  std::vector<std::wstring> choices;
  int row;       // the row to select before OK; -1: press Cancel
  int expected;  // the index selectoneform answers
};

class ChooseManifest : public ::testing::TestWithParam<choice_case_t> {};

TEST_P(ChooseManifest, AnswersTheIndexOfTheFirstEqualText) {
  const auto& c = GetParam();
  modal_driver_t driver(L"#32770", [&](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_KX_CHOICELIST);
    if (c.row < 0) {
      click(dialog, IDCANCEL);
      return;
    }
    select_row(list, c.row);
    click(dialog, IDOK);
  });
  EXPECT_EQ(selectoneform(c.choices), c.expected);
  EXPECT_TRUE(driver.acted());
}

// The rows show the choices in their order, best first.
INSTANTIATE_TEST_SUITE_P(
    Choices, ChooseManifest,
    ::testing::Values(choice_case_t{"first_row_is_the_best_choice", {L"Bank logon", L"Bank password change"}, 0, 0},
                      choice_case_t{"second_row_is_the_second_choice", {L"Bank logon", L"Bank password change"}, 1, 1},
                      choice_case_t{"equal_texts_resolve_to_the_first", {L"Other", L"Same", L"same"}, 2, 1},
                      choice_case_t{"equal_texts_either_row", {L"Other", L"Same", L"Same"}, 2, 1},
                      choice_case_t{"texts_of_260_characters_and_more",
                                    {std::wstring(300, L'x') + L"1", std::wstring(300, L'x') + L"2"}, 1, 1},
                      choice_case_t{"cancel_gives_none", {L"One", L"Two"}, -1, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChooseManifestDialog, ListsEveryChoiceWithTheFirstRowSelectedAndOkOnlyWithASelection) {
  std::vector<std::wstring> shown;
  bool ok_at_start = false, ok_without = true, ok_again = false;
  int selected_at_start = -1;
  modal_driver_t driver(L"#32770", [&](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_KX_CHOICELIST);
    shown = rows(list);
    selected_at_start = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    ok_at_start = IsWindowEnabled(GetDlgItem(dialog, IDOK));
    select_row(list, -1);
    ok_without = IsWindowEnabled(GetDlgItem(dialog, IDOK));
    // OK without a selection chooses nothing.
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  EXPECT_EQ(selectoneform({L"A", L"B", L"C"}), -1);
  EXPECT_EQ(shown, (std::vector<std::wstring>{L"A", L"B", L"C"}));
  EXPECT_EQ(selected_at_start, 0);
  EXPECT_TRUE(ok_at_start);
  EXPECT_FALSE(ok_without);

  modal_driver_t again(L"#32770", [&](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_KX_CHOICELIST);
    select_row(list, -1);
    select_row(list, 2);
    ok_again = IsWindowEnabled(GetDlgItem(dialog, IDOK));
    click(dialog, IDOK);
  });
  EXPECT_EQ(selectoneform({L"A", L"B", L"C"}), 2);
  EXPECT_TRUE(ok_again);
}

TEST(ChooseManifestDialog, FewerThanTwoChoicesNeedNoDialog) {
  modal_driver_t driver(L"#32770", [](HWND dialog) { EndDialog(dialog, IDCANCEL); }, 300);
  EXPECT_EQ(selectoneform({}), -1);
  EXPECT_EQ(selectoneform({L"Only"}), 0);
  fftest::pump_for(100);
  EXPECT_FALSE(driver.acted());
}

struct iconsetting_case_t {
  const char* name;
  int preset;
  std::vector<int> clicks;  // controls clicked before the last button
  int button;               // IDOK or IDCANCEL
  int expected;
};

class IconSettings : public ::testing::TestWithParam<iconsetting_case_t> {};

TEST_P(IconSettings, ClicksSetTheValueOkStoresItCancelKeepsTheGivenOne) {
  const auto& c = GetParam();
  modal_driver_t driver(L"#32770", [&](HWND dialog) {
    for (int control : c.clicks) click(dialog, control);
    click(dialog, c.button);
  });
  int value = c.preset;
  dialog_iconvisibility(value);
  EXPECT_TRUE(driver.acted());
  EXPECT_EQ(value, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, IconSettings,
    ::testing::Values(iconsetting_case_t{"never_ok_unchanged", 2, {}, IDOK, 2},
                      iconsetting_case_t{"show_ok_unchanged", 0, {}, IDOK, 0},
                      iconsetting_case_t{"never_to_show", 2, {IDC_KX_SHOWICON}, IDOK, 0},
                      iconsetting_case_t{"show_to_never", 0, {IDC_KX_NEVERPROMPT}, IDOK, 2},
                      iconsetting_case_t{"not_this_page_to_show_keeps_the_check", 1, {IDC_KX_SHOWICON}, IDOK, 1},
                      iconsetting_case_t{"check_box_sets_one", 0, {IDC_KX_NOTTHISPAGE}, IDOK, 1},
                      iconsetting_case_t{"cancel_keeps_the_given_value", 2, {IDC_KX_SHOWICON}, IDCANCEL, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IconSettingsDialog, InitialStateFollowsTheValue) {
  const struct {
    int value;
    bool c907 = false;  // checked: show the icon
    bool c908 = false;  // checked: not on this page
    bool c909 = false;  // checked: never prompt
    bool enabled908 = true;
  } cases[] = {{.value = 0, .c907 = true},
               {.value = 1, .c907 = true, .c908 = true},
               {.value = 2, .c909 = true, .enabled908 = false},
               {.value = 7, .c907 = true}};
  for (const auto& c : cases) {
    wchar_t title[64] = {};
    bool c907 = false, c908 = false, c909 = false, enabled908 = false, visible908 = true;
    modal_driver_t driver(L"#32770", [&](HWND dialog) {
      GetWindowTextW(dialog, title, 64);
      c907 = IsDlgButtonChecked(dialog, IDC_KX_SHOWICON) == BST_CHECKED;
      c908 = IsDlgButtonChecked(dialog, IDC_KX_NOTTHISPAGE) == BST_CHECKED;
      c909 = IsDlgButtonChecked(dialog, IDC_KX_NEVERPROMPT) == BST_CHECKED;
      enabled908 = IsWindowEnabled(GetDlgItem(dialog, IDC_KX_NOTTHISPAGE));
      visible908 = (GetWindowLongW(GetDlgItem(dialog, IDC_KX_NOTTHISPAGE), GWL_STYLE) & WS_VISIBLE) != 0;
      click(dialog, IDCANCEL);
    });
    int value = c.value;
    dialog_iconvisibility(value);
    ASSERT_TRUE(driver.acted()) << c.value;
    EXPECT_EQ(value, c.value);
    EXPECT_STREQ(title, L"Icon settings");
    EXPECT_EQ(c907, c.c907) << c.value;
    EXPECT_EQ(c908, c.c908) << c.value;
    EXPECT_EQ(c909, c.c909) << c.value;
    EXPECT_EQ(enabled908, c.enabled908) << c.value;
    EXPECT_FALSE(visible908) << c.value;
  }
}

// The dialogs open over the browser window they belong to: centred on it, and kept inside the work
// area of its monitor where the window reaches past it.
TEST(DialogPlacement, CentredOnTheBrowserWindowInsideTheWorkArea) {
  RECT work{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  const LONG w = work.right - work.left, h = work.bottom - work.top;
  enum edge_t { low = -1, centred = 0, high = 1 };  // where the dialog ends up on each axis
  const struct {
    const char* name;
    RECT frame;  // from the work area's top left corner
    edge_t x, y;
  } cases[] = {{"inside", {100, 80, 700, 480}, centred, centred},
               {"past_the_bottom_right", {w - 150, h - 100, w + 450, h + 300}, high, high},
               {"past_the_top_left", {-450, -300, 150, 100}, low, low},
               {"past_the_right_only", {w - 200, 80, w + 400, 480}, high, centred}};
  const struct {
    const char* name;
    std::function<void(HWND)> open;
  } dialogs[] = {{"choose-manifest", [](HWND browser) { selectoneform({L"One", L"Two"}, browser); }},
                 {"icon settings", [](HWND browser) {
                    int value = 0;
                    dialog_iconvisibility(value, browser);
                  }}};
  for (const auto& c : cases)
    for (const auto& d : dialogs) {
      SCOPED_TRACE(std::string(c.name) + ", " + d.name);
      const RECT frame{work.left + c.frame.left, work.top + c.frame.top, work.left + c.frame.right,
                       work.top + c.frame.bottom};
      fftest::browser_t browser(frame);
      RECT box{};
      HWND owner = nullptr;
      modal_driver_t driver(L"#32770", [&](HWND dialog) {
        GetWindowRect(dialog, &box);
        owner = GetWindow(dialog, GW_OWNER);
        click(dialog, IDCANCEL);
      });
      d.open(browser.frame());
      ASSERT_TRUE(driver.acted());
      EXPECT_EQ(owner, browser.frame());
      const auto check = [](edge_t edge, LONG from, LONG to, LONG frame_from, LONG frame_to, LONG area_from,
                            LONG area_to) {
        switch (edge) {
          case low:
            EXPECT_EQ(from, area_from);
            break;
          case high:
            EXPECT_EQ(to, area_to);
            break;
          case centred:
            EXPECT_NEAR(from + to, frame_from + frame_to, 1);
            break;
        }
        EXPECT_GE(from, area_from);
        EXPECT_LE(to, area_to);
      };
      check(c.x, box.left, box.right, frame.left, frame.right, work.left, work.right);
      check(c.y, box.top, box.bottom, frame.top, frame.bottom, work.top, work.bottom);
    }
}

}  // namespace
}  // namespace ffagent_window
