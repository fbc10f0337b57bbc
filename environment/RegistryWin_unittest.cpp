// Text values of the registry: REG_EXPAND_SZ values expanded, limits, and the folders read through
// them.
#include "environment/RegistryWin.h"

#include <gtest/gtest.h>

#include "environment/Paths.h"
#include "tracecore/win_handles.h"

namespace kxregistry {
namespace {

constexpr const wchar_t* kTestKey = L"Software\\Kestrix\\Tests\\Registry";

// A fresh key under HKCU for the life of the object, and one environment variable set meanwhile.
class RegistryText : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(), nullptr),
              ERROR_SUCCESS);
    SetEnvironmentVariableW(L"KX_TEST_ROOT", L"D:\\Kx Root");
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"KX_TEST_ROOT", nullptr);
    key_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
  }
  // |bytes| < 0: the text with its NUL.
  void set(const wchar_t* name, DWORD type, const std::wstring& text, int bytes = -1) {
    const DWORD size = bytes < 0 ? static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)) : static_cast<DWORD>(bytes);
    ASSERT_EQ(RegSetValueExW(key_.get(), name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()), size),
              ERROR_SUCCESS);
  }

  tracecore::unique_hkey key_;
};

TEST_F(RegistryText, ExpandableTextsAreExpandedPlainTextsKeptAsWritten) {
  set(L"expand", REG_EXPAND_SZ, L"%KX_TEST_ROOT%\\bin\\");
  set(L"plain", REG_SZ, L"%KX_TEST_ROOT%\\bin\\");
  set(L"unset", REG_EXPAND_SZ, L"%KX_NOT_SET_ANYWHERE%\\bin");
  set(L"no_nul", REG_SZ, L"C:\\abc", 6 * sizeof(wchar_t));
  EXPECT_EQ(text_value(key_.get(), L"expand", MAX_PATH), L"D:\\Kx Root\\bin\\");
  EXPECT_EQ(text_value(key_.get(), L"plain", MAX_PATH), L"%KX_TEST_ROOT%\\bin\\");
  EXPECT_EQ(text_value(key_.get(), L"unset", MAX_PATH), L"%KX_NOT_SET_ANYWHERE%\\bin");
  EXPECT_EQ(text_value(key_.get(), L"no_nul", MAX_PATH), L"C:\\abc");
}

TEST_F(RegistryText, MissingOtherTypesAndTooLongGiveNone) {
  const DWORD number = 7;
  ASSERT_EQ(RegSetValueExW(key_.get(), L"number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);
  set(L"ten", REG_SZ, L"0123456789");
  set(L"grows", REG_EXPAND_SZ, L"%KX_TEST_ROOT%");  // 14 characters, 10 once expanded
  set(L"grows_long", REG_EXPAND_SZ, L"%KX_TEST_ROOT%%KX_TEST_ROOT%");  // 28, 20 once expanded
  EXPECT_EQ(text_value(key_.get(), L"missing", MAX_PATH), std::nullopt);
  EXPECT_EQ(text_value(key_.get(), L"number", MAX_PATH), std::nullopt);
  EXPECT_EQ(text_value(key_.get(), L"ten", 10), L"0123456789");
  EXPECT_EQ(text_value(key_.get(), L"ten", 9), std::nullopt);
  EXPECT_EQ(text_value(key_.get(), L"grows", 10), std::nullopt) << "the stored text is longer than the limit";
  EXPECT_EQ(text_value(key_.get(), L"grows", 14), L"D:\\Kx Root");
  EXPECT_EQ(text_value(key_.get(), L"grows_long", 28), L"D:\\Kx RootD:\\Kx Root");
  SetEnvironmentVariableW(L"KX_TEST_ROOT", L"D:\\a much longer root folder");
  EXPECT_EQ(text_value(key_.get(), L"grows", 14), std::nullopt) << "the expansion is longer than the limit";
}

// The suite's binary folder written as REG_EXPAND_SZ, as installers commonly do.
TEST(RegistryFolders, AnExpandableBinDirNamesTheRealFolder) {
  constexpr const wchar_t* kKey = L"SOFTWARE\\Kestrix\\Applications";
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
  SetEnvironmentVariableW(L"KX_TEST_ROOT", L"D:\\Kx Root");
  {
    tracecore::unique_hkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    const wchar_t value[] = L"%KX_TEST_ROOT%\\Bin";
    RegSetValueExW(key.get(), L"BinDir", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  }
  EXPECT_EQ(kxpaths::binary_directory(), u"D:\\Kx Root\\Bin\\");
  EXPECT_EQ(kxpaths::binary_directory_for_libraries(false), u"D:\\Kx Root\\Bin\\");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
  SetEnvironmentVariableW(L"KX_TEST_ROOT", nullptr);
}

}  // namespace
}  // namespace kxregistry
