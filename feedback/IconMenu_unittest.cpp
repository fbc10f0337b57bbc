// The icon menu built from the branding stand-in's template for each kind of page, and the table
// from menu entries to commands.
#include "feedback/IconMenu.h"

#include <gtest/gtest.h>

#include "environment/Branding.h"
#include "feedback/FeedbackTestSupport.h"
#include "feedback/Texts.h"

namespace ffagent_window {
namespace {

using fftest::menu_ids;
using fftest::menu_text;
using ids_t = std::vector<UINT>;

UINT default_id(HMENU menu) { return GetMenuDefaultItem(menu, FALSE, 0); }

struct menu_case_t {
  const char* name;
  std::uint32_t state;
  ids_t ids;
  UINT default_item;  // (UINT)-1: none
};

class IconMenuByState : public ::testing::TestWithParam<menu_case_t> {};

TEST_P(IconMenuByState, EntriesAndDefault) {
  const auto& c = GetParam();
  const auto menu = build_icon_menu(kxbranding::branding_library(), c.state, {}, L"www.example.com");
  HMENU popup = icon_popup(menu);
  ASSERT_TRUE(popup);
  EXPECT_EQ(menu_ids(popup), c.ids);
  EXPECT_EQ(default_id(popup), c.default_item);
  // No separator leads, trails or doubles.
  const int n = GetMenuItemCount(popup);
  ASSERT_GT(n, 0);
  EXPECT_FALSE(GetMenuState(popup, 0, MF_BYPOSITION) & MF_SEPARATOR);
  EXPECT_FALSE(GetMenuState(popup, n - 1, MF_BYPOSITION) & MF_SEPARATOR);
  for (int i = 1; i < n; ++i)
    EXPECT_FALSE((GetMenuState(popup, i, MF_BYPOSITION) & MF_SEPARATOR) &&
                 (GetMenuState(popup, i - 1, MF_BYPOSITION) & MF_SEPARATOR));
}

// The state words as the communication window computes them: bits 4 and 5 always set.
INSTANTIATE_TEST_SUITE_P(
    Pages, IconMenuByState,
    ::testing::Values(
        menu_case_t{"trained", 0x33, {35005, 32786, 32785, 35003, 32783, 32786}, 35005},
        menu_case_t{"trained_noflag", 0x31, {35005, 32786, 32785, 35003, 32783, 32786}, 35005},
        menu_case_t{"passwordchange", 0x72, {32787, 35003, 32783, 32786}, 32787},
        menu_case_t{"passwordchange_noflag", 0x70, {35000, 35003, 32783, 32786}, 35000},
        menu_case_t{"untrained", 0x32, {32785, 35003, 35004, 32783, 35002, 35001}, 32785},
        menu_case_t{"untrained_noinsert", 0x22, {35003, 35004, 32783, 35002, 35001}, static_cast<UINT>(-1)},
        menu_case_t{"untrained_noflag", 0x30, {35002, 35001}, static_cast<UINT>(-1)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IconMenu, TextsComeFromTheBrandingLibraryWithTheInsert) {
  const auto untrained = build_icon_menu(kxbranding::branding_library(), 0x32, {}, L"www.example.com");
  HMENU popup = icon_popup(untrained);
  EXPECT_EQ(menu_text(popup, 32785), L"Add a logon for www.example.com");
  EXPECT_EQ(menu_text(popup, 35003), ffui::ui_text(40138));
  EXPECT_EQ(menu_text(popup, 35004), ffui::ui_text(40139));
  EXPECT_EQ(menu_text(popup, 35001), ffui::ui_text(40006));
  EXPECT_EQ(menu_text(popup, 35002), ffui::ui_text(40128));
  EXPECT_EQ(ffui::ui_text(40138).find(L"<<%PN%>>"), std::wstring::npos);

  const auto trained = build_icon_menu(kxbranding::branding_library(), 0x33, {}, L"");
  popup = icon_popup(trained);
  EXPECT_EQ(menu_text(popup, 35005), ffui::ui_text(40135));
  EXPECT_EQ(menu_text(popup, 32786), ffui::ui_text(40136));
  EXPECT_EQ(menu_text(popup, 32785), ffui::ui_text(40148));
}

TEST(IconMenu, TrainedPageOffersItsProfilesInSubmenus) {
  const std::vector<menu_profile_t> profiles{{100, L"alice"}, {101, L"bob"}};
  const auto menu = build_icon_menu(kxbranding::branding_library(), 0x33, profiles, L"");
  HMENU popup = icon_popup(menu);
  ASSERT_TRUE(popup);
  EXPECT_EQ(default_id(popup), 35005u);
  HMENU fill = GetSubMenu(popup, 0);  // 35005
  HMENU edit = GetSubMenu(popup, 1);  // 32786
  ASSERT_TRUE(fill);
  ASSERT_TRUE(edit);
  EXPECT_EQ(menu_ids(fill), (ids_t{29110, 29111}));
  EXPECT_EQ(menu_ids(edit), (ids_t{29102, 29103}));
  EXPECT_EQ(menu_text(fill, 29111), L"bob");
  EXPECT_EQ(menu_command(29110), 29110);
}

TEST(IconMenu, MissingTemplateGivesNoMenu) {
  // This program has no menu 303.
  EXPECT_FALSE(build_icon_menu(GetModuleHandleW(nullptr), 0x33, {}, L""));
  EXPECT_FALSE(build_icon_menu(nullptr, 0x33, {}, L""));
}

TEST(IconMenu, EntriesTurnIntoCommands) {
  const struct {
    int id, command;
  } cases[] = {{32783, 29007}, {32784, 29003}, {32785, 29001}, {32786, 29002}, {32787, 29012}, {35000, 29004},
               {35001, 29005}, {35002, 29006}, {35003, 29008}, {35004, 29009}, {35005, 29010}, {29013, 0},
               {29014, 29014}, {35006, 35006}, {39999, 39999}, {40000, 0},     {40139, 0},     {58523, 0},
               {0, 0},         {-1, 0}};
  for (const auto& c : cases) EXPECT_EQ(menu_command(c.id), c.command) << c.id;
}

}  // namespace
}  // namespace ffagent_window
