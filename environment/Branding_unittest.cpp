// The branding library named in the registry, and the resources of its stand-in.
#include "environment/Branding.h"

#include <windows.h>

#include <gtest/gtest.h>

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
  for (UINT id : {40002u, 40003u, 40131u, 40132u, 40133u, 40134u, 40000u, 40006u, 40128u, 40135u, 40136u, 40137u,
                  40138u, 40139u, 40147u, 40148u, 40123u, 40124u, 40125u, 40151u, 40152u, 40153u, 40154u, 40155u,
                  40156u, 40157u, 40158u, 40159u, 40160u, 40161u, 40163u})
    EXPECT_GT(LoadStringW(module.get(), id, reinterpret_cast<LPWSTR>(&text), 0), 0) << "text " << id;
  const int n = LoadStringW(module.get(), 40003, reinterpret_cast<LPWSTR>(&text), 0);
  EXPECT_NE(std::wstring(text, n).find(L"<<%PN%>>"), std::wstring::npos);
  EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(303), MAKEINTRESOURCEW(4) /* RT_MENU */));
  EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(905), MAKEINTRESOURCEW(5) /* RT_DIALOG */));
  EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(906), MAKEINTRESOURCEW(5)));
  for (int image = 501; image <= 506; ++image)
    EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(image), MAKEINTRESOURCEW(2) /* RT_BITMAP */)) << image;
}

TEST_F(BrandingTest, MenuTemplateHoldsTheIconMenuItems) {
  set_dll_path(kxagent::executable_directory() + L"KxBranding.dll");
  tracecore::unique_hmodule module(load_branding_library(kKey, nullptr));
  ASSERT_TRUE(module);
  HMENU menu = LoadMenuW(module.get(), MAKEINTRESOURCEW(303));
  ASSERT_TRUE(menu);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_TRUE(popup);
  for (UINT id : {32783u, 32784u, 32785u, 32786u})
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
