// The icon menu built from the branding stand-in's template for each kind of page, and the table
// from menu entries to commands.
#include "feedback/IconMenu.h"

#include <gtest/gtest.h>

#include "agentcomm/window/Feedback.h"
#include "environment/Branding.h"
#include "environment/BrandingResources.h"
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
        menu_case_t{"trained",
                    0x33,
                    {IDM_KX_FILLIN, IDM_KX_EDITPROFILE, IDM_KX_ADDPROFILE, IDM_KX_DASHBOARD, IDM_KX_HELP,
                     IDM_KX_EDITPROFILE},
                    IDM_KX_FILLIN},
        menu_case_t{"trained_noflag",
                    0x31,
                    {IDM_KX_FILLIN, IDM_KX_EDITPROFILE, IDM_KX_ADDPROFILE, IDM_KX_DASHBOARD, IDM_KX_HELP,
                     IDM_KX_EDITPROFILE},
                    IDM_KX_FILLIN},
        menu_case_t{"passwordchange",
                    0x72,
                    {IDM_KX_TRAINPASSWORDCHANGE, IDM_KX_DASHBOARD, IDM_KX_HELP, IDM_KX_EDITPROFILE},
                    IDM_KX_TRAINPASSWORDCHANGE},
        menu_case_t{"passwordchange_noflag",
                    0x70,
                    {IDM_KX_PRODUCT, IDM_KX_DASHBOARD, IDM_KX_HELP, IDM_KX_EDITPROFILE},
                    IDM_KX_PRODUCT},
        menu_case_t{"untrained",
                    0x32,
                    {IDM_KX_ADDPROFILE, IDM_KX_DASHBOARD, IDM_KX_ICONSETTINGS, IDM_KX_HELP, IDM_KX_DONTPROMPTTRAINL,
                     IDM_KX_DONTPROMPTTRAING},
                    IDM_KX_ADDPROFILE},
        menu_case_t{"untrained_noinsert",
                    0x22,
                    {IDM_KX_DASHBOARD, IDM_KX_ICONSETTINGS, IDM_KX_HELP, IDM_KX_DONTPROMPTTRAINL,
                     IDM_KX_DONTPROMPTTRAING},
                    static_cast<UINT>(-1)},
        menu_case_t{"untrained_noflag", 0x30, {IDM_KX_DONTPROMPTTRAINL, IDM_KX_DONTPROMPTTRAING},
                    static_cast<UINT>(-1)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IconMenu, TextsComeFromTheBrandingLibraryWithTheInsert) {
  const auto untrained = build_icon_menu(kxbranding::branding_library(), 0x32, {}, L"www.example.com");
  HMENU popup = icon_popup(untrained);
  EXPECT_EQ(menu_text(popup, IDM_KX_ADDPROFILE), L"Add a logon for www.example.com");
  EXPECT_EQ(menu_text(popup, IDM_KX_DASHBOARD), ffui::ui_text(IDS_KX_MENU_DASHBOARD));
  EXPECT_EQ(menu_text(popup, IDM_KX_ICONSETTINGS), ffui::ui_text(IDS_KX_MENU_ICONSETTINGS));
  EXPECT_EQ(menu_text(popup, IDM_KX_DONTPROMPTTRAING), ffui::ui_text(IDS_KX_MENU_DONTPROMPTTRAING));
  EXPECT_EQ(menu_text(popup, IDM_KX_DONTPROMPTTRAINL), ffui::ui_text(IDS_KX_MENU_DONTPROMPTTRAINL));
  EXPECT_EQ(ffui::ui_text(IDS_KX_MENU_DASHBOARD).find(L"<<%PN%>>"), std::wstring::npos);

  const auto trained = build_icon_menu(kxbranding::branding_library(), 0x33, {}, L"");
  popup = icon_popup(trained);
  EXPECT_EQ(menu_text(popup, IDM_KX_FILLIN), ffui::ui_text(IDS_KX_MENU_FILLIN));
  EXPECT_EQ(menu_text(popup, IDM_KX_EDITPROFILE), ffui::ui_text(IDS_KX_MENU_EDITPROFILE));
  EXPECT_EQ(menu_text(popup, IDM_KX_ADDPROFILE), ffui::ui_text(IDS_KX_MENU_ADDANOTHERPROFILE));
}

TEST(IconMenu, TrainedPageOffersItsProfilesInSubmenus) {
  const std::vector<menu_profile_t> profiles{{100, L"alice"}, {101, L"bob"}};
  const auto menu = build_icon_menu(kxbranding::branding_library(), 0x33, profiles, L"");
  HMENU popup = icon_popup(menu);
  ASSERT_TRUE(popup);
  EXPECT_EQ(default_id(popup), static_cast<UINT>(IDM_KX_FILLIN));
  HMENU fill = GetSubMenu(popup, 0);  // IDM_KX_FILLIN
  HMENU edit = GetSubMenu(popup, 1);  // IDM_KX_EDITPROFILE
  ASSERT_TRUE(fill);
  ASSERT_TRUE(edit);
  EXPECT_EQ(menu_ids(fill), (ids_t{iconcmd_requestfillin + 100, iconcmd_requestfillin + 101}));
  EXPECT_EQ(menu_ids(edit), (ids_t{iconcmd_editprofile + 100, iconcmd_editprofile + 101}));
  EXPECT_EQ(menu_text(fill, iconcmd_requestfillin + 101), L"bob");
  EXPECT_EQ(menu_command(iconcmd_requestfillin + 100), iconcmd_requestfillin + 100);
}

TEST(IconMenu, MissingTemplateGivesNoMenu) {
  // This program has no icon menu template.
  EXPECT_FALSE(build_icon_menu(GetModuleHandleW(nullptr), 0x33, {}, L""));
  EXPECT_FALSE(build_icon_menu(nullptr, 0x33, {}, L""));
}

TEST(IconMenu, EntriesTurnIntoCommands) {
  const struct {
    int id, command;
  } cases[] = {{IDM_KX_HELP, iconcmd_help},
               {IDM_KX_STARTFLM, iconcmd_startFLM},
               {IDM_KX_ADDPROFILE, iconcmd_addprofile},
               {IDM_KX_EDITPROFILE, iconcmd_editprofile},
               {IDM_KX_TRAINPASSWORDCHANGE, iconcmd_starttrainingpsw},
               {IDM_KX_PRODUCT, iconcmd_product},
               {IDM_KX_DONTPROMPTTRAING, iconcmd_dontprompttrainG},
               {IDM_KX_DONTPROMPTTRAINL, iconcmd_dontprompttrainL},
               {IDM_KX_DASHBOARD, iconcmd_spawndashboard},
               {IDM_KX_ICONSETTINGS, iconcmd_showiconsettings},
               {IDM_KX_FILLIN, iconcmd_requestfillin},
               // Entries without a command of their own: passed through from 29014 up to the first
               // text number; a text number (the first one, say) and anything else stand for nothing.
               {29013, 0},
               {29014, 29014},
               {35006, 35006},
               {39999, 39999},
               {IDS_KX_FIRST_TEXT, 0},
               {IDS_KX_MENU_ICONSETTINGS, 0},
               {58523, 0},
               {0, 0},
               {-1, 0}};
  for (const auto& c : cases) EXPECT_EQ(menu_command(c.id), c.command) << c.id;
}

}  // namespace
}  // namespace ffagent_window
