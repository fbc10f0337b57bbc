// The suite's folders from the environment and the registry.
#include <windows.h>

#include <gtest/gtest.h>

#include "environment/Paths.h"
#include "tracecore/testing.h"

namespace kxpaths {
namespace {

class EnvironmentVariable {
 public:
  EnvironmentVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t old[32768];
    const DWORD n = GetEnvironmentVariableW(name, old, 32768);
    had_ = n > 0;
    if (had_) old_.assign(old, n);
    SetEnvironmentVariableW(name, value);
  }
  ~EnvironmentVariable() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }

 private:
  const wchar_t* name_;
  bool had_ = false;
  std::wstring old_;
};

TEST(PathsWin, UserFoldersComeFromTheEnvironment) {
  EnvironmentVariable appdata(L"APPDATA", L"C:\\Users\\Ann\\Roaming");
  EnvironmentVariable local(L"LOCALAPPDATA", L"C:\\Users\\Ann\\Local\\");
  EXPECT_EQ(user_templates_directory(), u"C:\\Users\\Ann\\Roaming\\Kestrix\\VLT\\Templates\\");
  EXPECT_EQ(user_data_directory(), u"C:\\Users\\Ann\\Roaming\\Kestrix\\VLT\\");
  EXPECT_EQ(local_user_data_directory(), u"C:\\Users\\Ann\\Local\\Kestrix\\VLT\\");
}

// Without the variable the folder comes from SHGetFolderPathW of the system's SHFOLDER.DLL.
TEST(PathsWin, WithoutLocalAppdataTheSystemFolderFunctionIsAsked) {
  EnvironmentVariable local(L"LOCALAPPDATA", nullptr);
  tracecore::testing::capture_t trace;
  const std::u16string folder = local_user_data_directory();
  EXPECT_TRUE(trace.records().empty()) << trace.dump();
  ASSERT_GT(folder.size(), 13u);
  EXPECT_EQ(folder.substr(folder.size() - 12), u"Kestrix\\VLT\\");
  EXPECT_EQ(folder[1], u':') << "a full path";
}

TEST(PathsWin, WithoutAppdataTheFoldersAreEmptyAndTraced) {
  EnvironmentVariable appdata(L"APPDATA", nullptr);
  tracecore::testing::capture_t trace;
  EXPECT_EQ(user_data_directory(), u"");
  EXPECT_TRUE(trace.has('E', "0 failed to get appdata")) << trace.dump();
}

TEST(PathsWin, BinaryDirectoryFromTheRegistryOrTheDefault) {
  constexpr const wchar_t* kKey = L"SOFTWARE\\Kestrix\\Applications";
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
  EnvironmentVariable program_files(L"ProgramFiles", L"C:\\Program Files");
  EXPECT_EQ(binary_directory(), u"C:\\Program Files\\kestrix\\bin\\") << "no key: the default";

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(binary_directory(), u"") << "the key without its value";
  const wchar_t value[] = L"D:\\Kx\\Bin";
  RegSetValueExW(key, L"BinDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  RegCloseKey(key);
  EXPECT_EQ(binary_directory(), u"D:\\Kx\\Bin\\");
  EXPECT_EQ(install_templates_directory(), u"D:\\Kx\\Bin\\templates\\");
  EXPECT_EQ(binary_directory_for_libraries(false), u"D:\\Kx\\Bin\\");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
}

}  // namespace
}  // namespace kxpaths
