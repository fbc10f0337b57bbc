// Settings through the settings library stand-in, which keeps them under HKCU\Software\Kestrix\Settings.
#include "environment/Settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/WineTestSupport.h"
#include "tracecore/testing.h"

namespace kxsettings {
namespace {

constexpr const wchar_t* kKey = L"Software\\Kestrix\\Settings";

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

  static void put(const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }

  settings_library_t library_;
  settings_t settings_{library_};
};

TEST_F(SettingsTest, TheLibraryIsFoundAndAPresentValueIsRead) {
  ASSERT_TRUE(library_.loaded());
  put(L"dontpromptlist_filename", L"vlt::dontprompt.txt");
  std::wstring value;
  EXPECT_EQ(settings_.get(L"dontpromptlist_filename", value, true), S_OK);
  EXPECT_EQ(value, L"vlt::dontprompt.txt");
  EXPECT_EQ(settings_.get_path(L"dontpromptlist_filename"), L"vlt::dontprompt.txt");
}

TEST_F(SettingsTest, SetThenGetRoundTripsIncludingFamilyKeys) {
  EXPECT_EQ(settings_.set(L"@lavatar_position::Main window", L"10,20", true), S_OK);
  EXPECT_EQ(settings_.set_number(L"@balloon_counter::TrainingPrompt", -3, true), S_OK);
  EXPECT_EQ(settings_.get_default(L"@lavatar_position::Main window", L""), L"10,20");
  std::int32_t n = 0;
  EXPECT_EQ(settings_.get_number(L"@balloon_counter::TrainingPrompt", n, true), S_OK);
  EXPECT_EQ(n, -3);
}

TEST_F(SettingsTest, AMissingKeyIsReportedAsAnInstallationProblem) {
  tracecore::testing::capture_t trace;
  std::wstring value = L"untouched";
  EXPECT_EQ(settings_.get(L"kx_missing", value, true), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(value, L"untouched");
  EXPECT_TRUE(trace.has('E', "-2147024894 INSTALLATION: cannot get 'kx_missing'")) << trace.dump();
  trace.clear();
  EXPECT_EQ(settings_.get_default(L"kx_missing", L"fallback"), L"fallback");
  EXPECT_TRUE(trace.records().empty()) << "defaults are not reported: " << trace.dump();
}

// By default the text's leading number is 0 or missing: the read fails and each default comes back.
struct bool_case_t {
  const char* name;
  const wchar_t* text;
  HRESULT hr = E_INVALIDARG;
  bool with_default_false = false;
  bool with_default_true = true;
};

class SettingsBool : public SettingsTest, public ::testing::WithParamInterface<bool_case_t> {};

TEST_P(SettingsBool, ReadsTheLeadingNumber) {
  const auto& c = GetParam();
  put(L"show_training_prompt", c.text);
  bool value = false;
  EXPECT_EQ(settings_.get_bool(L"show_training_prompt", value, false), c.hr);
  EXPECT_EQ(settings_.get_bool_default(L"show_training_prompt", false), c.with_default_false);
  EXPECT_EQ(settings_.get_bool_default(L"show_training_prompt", true), c.with_default_true);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsBool,
    ::testing::Values(
        bool_case_t{.name = "one", .text = L"1", .hr = S_OK, .with_default_false = true},
        bool_case_t{.name = "minus_one", .text = L"-1", .hr = S_OK, .with_default_true = false},
        bool_case_t{.name = "zero", .text = L"0"},
        bool_case_t{.name = "word", .text = L"yes"},
        bool_case_t{.name = "digits_then_text", .text = L" 12abc", .hr = S_OK, .with_default_false = true},
        bool_case_t{.name = "empty", .text = L""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, NumbersReadLikeWtoi) {
  struct {
    const wchar_t* text;
    std::int32_t expected;
  } cases[] = {{L"42", 42}, {L"  -7", -7}, {L"+5x", 5}, {L"abc", 0}, {L"99999999999", 0x7FFFFFFF}, {L"-99999999999", INT32_MIN}};
  for (const auto& c : cases) {
    put(L"kx_number", c.text);
    std::int32_t n = -1;
    EXPECT_EQ(settings_.get_number(L"kx_number", n, false), S_OK);
    EXPECT_EQ(n, c.expected) << std::string(c.text, c.text + wcslen(c.text));
  }
}

TEST_F(SettingsTest, DeploymentSwitchesAreReadOncePerProcess) {
  put(L"is_personalmode", L"1");
  put(L"is_kioskinstalled", L"1");
  put(L"allow_SSO", L"1");
  EXPECT_TRUE(is_personalmode());
  EXPECT_TRUE(is_kioskinstalled());
  EXPECT_FALSE(allow_SSO()) << "not read while the kiosk is installed";
  put(L"is_personalmode", L"-1");
  EXPECT_TRUE(is_personalmode()) << "cached";
}

TEST(SettingsWithoutLibrary, EveryAccessorFallsBack) {
  tracecore::testing::capture_t trace;
  settings_library_t absent("KxoSetAbsent.dll");
  settings_t settings(absent);
  EXPECT_FALSE(absent.loaded());
  std::wstring value;
  EXPECT_EQ(settings.get(L"dontpromptlist_filename", value, true), E_NOTIMPL);
  EXPECT_TRUE(trace.has('E', "-2147467263 cannot get 'dontpromptlist_filename'")) << trace.dump();
  EXPECT_EQ(settings.get_path(L"dontpromptlist_filename"), L"");
  EXPECT_TRUE(settings.get_bool_default(L"show_training_prompt", true));
  EXPECT_EQ(settings.set(L"a", L"b", false), E_NOTIMPL);
}

// The library is loaded by full path from known folders only. A copy of it under another name, put
// where a bare name would find it (the current folder, PATH, the DLL directory), is not loaded;
// put in the suite's registered folder of sibling libraries, it is.
class SettingsLibraryLookup : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kApplications = L"SOFTWARE\\Kestrix\\Applications";

  void SetUp() override {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring bin(exe);
    bin.resize(bin.find_last_of(L'\\') + 1);
    ASSERT_TRUE(CopyFileW((bin + L"KxoSet.dll").c_str(), (dir_.path() + L"\\KxoSetPlanted.dll").c_str(), FALSE))
        << "the settings library stand-in is built beside this program";
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    cwd_ = cwd;
    wchar_t path[32768] = {};
    GetEnvironmentVariableW(L"PATH", path, 32768);
    path_ = path;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kApplications);
  }
  void TearDown() override {
    SetCurrentDirectoryW(cwd_.c_str());
    SetEnvironmentVariableW(L"PATH", path_.c_str());
    SetDllDirectoryW(nullptr);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kApplications);
  }

  kxtest::scratch_dir_t dir_{L"kxoset"};
  std::wstring cwd_, path_;
};

TEST_F(SettingsLibraryLookup, ACopyOnTheSearchPathIsNotLoaded) {
  SetCurrentDirectoryW(dir_.path().c_str());
  SetEnvironmentVariableW(L"PATH", (dir_.path() + L";" + path_).c_str());
  SetDllDirectoryW(dir_.path().c_str());
  settings_library_t planted("KxoSetPlanted.dll");
  EXPECT_FALSE(planted.loaded());
}

TEST_F(SettingsLibraryLookup, TheSuitesRegisteredFolderIsLookedIn) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApplications, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const std::wstring folder = dir_.path();
  RegSetValueExW(key, L"BinDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                 static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  settings_library_t registered("KxoSetPlanted.dll");
  EXPECT_TRUE(registered.loaded());
  std::wstring value;
  EXPECT_EQ(registered.query(L"kx_missing", value), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) << "it answers";
}

}  // namespace
}  // namespace kxsettings
