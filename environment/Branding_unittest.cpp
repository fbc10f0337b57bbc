// The branding library named in the registry, and the resources of its stand-in.
#include "environment/Branding.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "environment/BrandingResources.h"
#include "peers/agent/AgentDriver.h"
#include "tracecore/testing.h"
#include "tracecore/win_handles.h"

namespace kxbranding {
namespace {

constexpr const wchar_t* kKey = L"SOFTWARE\\Kestrix\\Branding\\Common";

class BrandingTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey); }
  void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey); }
  static void set_dll_path(const std::wstring& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
    if (!path.empty())
      RegSetValueExW(key, L"DLLPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                     static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
};

TEST_F(BrandingTest, LoadsTheLibraryTheRegistryNamesWithItsResources) {
  const std::wstring dll = kxagent::executable_directory() + L"KxBranding.dll";
  set_dll_path(dll);
  std::wstring path;
  tracecore::unique_hmodule module(load_branding_library(kKey, &path));
  ASSERT_TRUE(module);
  EXPECT_EQ(path, dll);
  const wchar_t* text = nullptr;
  for (UINT id : {IDS_KX_PROMPT_TITLE, IDS_KX_PROMPT_TEXT, IDS_KX_PROMPT_SENSOR_TITLE, IDS_KX_PROMPT_SENSOR_TEXT,
                  IDS_KX_PROMPT_PERSONAL_TITLE, IDS_KX_PROMPT_PERSONAL_TEXT, IDS_KX_MENU_PRODUCT,
                  IDS_KX_MENU_DONTPROMPTTRAING, IDS_KX_MENU_DONTPROMPTTRAINL, IDS_KX_MENU_FILLIN,
                  IDS_KX_MENU_EDITPROFILE, IDS_KX_MENU_ADDPROFILE_FOR, IDS_KX_MENU_DASHBOARD,
                  IDS_KX_MENU_ICONSETTINGS, IDS_KX_MENU_TRAINPASSWORDCHANGE, IDS_KX_MENU_ADDANOTHERPROFILE,
                  IDS_KX_RELATEDFORM_CHOICE, IDS_KX_SCAN_TOO_SHORT, IDS_KX_SCAN_TOO_FAST, IDS_KX_SCAN_TOO_SLOW,
                  IDS_KX_SCAN_TO_ONE_SIDE, IDS_KX_SCAN_NOT_CENTRED, IDS_KX_SCAN_POOR, IDS_KX_SCAN_NOT_STRAIGHT,
                  IDS_KX_SCAN_PRESS_HARDER, IDS_KX_SCAN_PRESS_LIGHTER, IDS_KX_SCAN_CLEAN_SENSOR, IDS_KX_SCAN_TOO_DRY,
                  IDS_KX_SCAN_TOO_WET, IDS_KX_SCAN_PARTIAL, IDS_KX_SCAN_STOPPED, IDS_KX_SCAN_TWISTED,
                  IDS_KX_SCAN_FAINT, IDS_KX_SCAN_NOT_RECOGNISED})
    EXPECT_GT(LoadStringW(module.get(), id, reinterpret_cast<LPWSTR>(&text), 0), 0) << "text " << id;
  const int n = LoadStringW(module.get(), IDS_KX_PROMPT_TEXT, reinterpret_cast<LPWSTR>(&text), 0);
  EXPECT_NE(std::wstring(text, n).find(L"<<%PN%>>"), std::wstring::npos);
  EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(IDR_KX_ICONMENU), MAKEINTRESOURCEW(4) /* RT_MENU */));
  EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(IDD_KX_CHOOSEMANIFEST), MAKEINTRESOURCEW(5) /* RT_DIALOG */));
  EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(IDD_KX_ICONSETTINGS), MAKEINTRESOURCEW(5)));
  for (int image : {IDB_KX_IMAGE1, IDB_KX_IMAGE2, IDB_KX_IMAGE3, IDB_KX_IMAGE4, IDB_KX_IMAGE5, IDB_KX_IMAGE6,
                    IDB_KX_IMAGE1_144, IDB_KX_IMAGE2_144, IDB_KX_IMAGE3_144, IDB_KX_IMAGE4_144, IDB_KX_IMAGE5_144,
                    IDB_KX_IMAGE6_144})
    EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(image), MAKEINTRESOURCEW(2) /* RT_BITMAP */)) << image;
}

TEST_F(BrandingTest, MenuTemplateHoldsTheIconMenuItems) {
  set_dll_path(kxagent::executable_directory() + L"KxBranding.dll");
  tracecore::unique_hmodule module(load_branding_library(kKey, nullptr));
  ASSERT_TRUE(module);
  HMENU menu = LoadMenuW(module.get(), MAKEINTRESOURCEW(IDR_KX_ICONMENU));
  ASSERT_TRUE(menu);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_TRUE(popup);
  for (UINT id : {IDM_KX_HELP, IDM_KX_STARTFLM, IDM_KX_ADDPROFILE, IDM_KX_EDITPROFILE})
    EXPECT_NE(GetMenuState(popup, id, MF_BYCOMMAND), static_cast<UINT>(-1)) << id;
  DestroyMenu(menu);
}

struct failure_case_t {
  const char* name;
  bool create_key;
  const wchar_t* dll;
  const char* trace;
};

class BrandingFailure : public BrandingTest, public ::testing::WithParamInterface<failure_case_t> {};

TEST_P(BrandingFailure, LeavesNoLibraryAndOneTrace) {
  const auto& c = GetParam();
  if (c.create_key) set_dll_path(c.dll);
  tracecore::testing::capture_t trace;
  EXPECT_EQ(load_branding_library(kKey, nullptr), nullptr);
  int errors = 0;
  for (const auto& r : trace.records())
    if (r.kind == 'E') ++errors;
  EXPECT_EQ(errors, 1) << trace.dump();
  EXPECT_TRUE(trace.contains('E', c.trace)) << trace.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrandingFailure,
    ::testing::Values(
        failure_case_t{"no_key", false, L"", "Open Branding key SOFTWARE\\Kestrix\\Branding\\Common in registry Failed"},
        failure_case_t{"no_value", true, L"", "Failed to find DllPath under Branding key in registry"},
        failure_case_t{"no_file", true, L"C:\\nowhere\\KxBranding.dll",
                       "failed to load resource dll , GetLastError returned 0x"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kxbranding
