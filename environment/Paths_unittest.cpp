#include "environment/Paths.h"

#include <gtest/gtest.h>

namespace kxpaths {
namespace {

known_folders_t folders() {
  return {u"C:\\Users\\Ann\\AppData\\Roaming\\Kestrix\\VLT\\Templates\\", u"C:\\Users\\Ann\\AppData\\Roaming\\Kestrix\\VLT\\",
          u"C:\\Users\\Ann\\AppData\\Local\\Kestrix\\VLT\\", u"C:\\Program Files\\Kestrix\\Bin\\templates\\",
          u"C:\\Program Files\\Kestrix\\Bin\\"};
}

struct compact_case_t {
  const char* name;
  std::u16string path;
  std::u16string expected;
};

class CompactPath : public ::testing::TestWithParam<compact_case_t> {};

TEST_P(CompactPath, Case) { EXPECT_EQ(compact_path(GetParam().path, folders()), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, CompactPath,
    ::testing::Values(
        compact_case_t{"user_templates_before_user_data",
                       u"C:\\Users\\Ann\\AppData\\Roaming\\Kestrix\\VLT\\Templates\\Bank.kxm", u"idv::bank.kxm"},
        compact_case_t{"user_data_any_case", u"c:\\USERS\\ann\\appdata\\ROAMING\\kestrix\\vlt\\DontPrompt.TXT",
                       u"vlt::dontprompt.txt"},
        compact_case_t{"local_user_data", u"C:\\Users\\Ann\\AppData\\Local\\Kestrix\\VLT\\q\\links.txt",
                       u"usr::q\\links.txt"},
        compact_case_t{"install_templates_before_binary", u"C:\\Program Files\\Kestrix\\Bin\\Templates\\x.kxm",
                       u"dbg::x.kxm"},
        compact_case_t{"binary", u"C:\\Program Files\\Kestrix\\Bin\\KxoSet.dll", u"bin::kxoset.dll"},
        compact_case_t{"outside_lower_cased", u"D:\\Data\\My File.KXM", u"d:\\data\\my file.kxm"},
        compact_case_t{"slashes_made_uniform", u"D:\\Data/Sub\\F.txt", u"d:\\data\\sub\\f.txt"},
        compact_case_t{"forward_slash_first", u"D:/Data\\F.txt", u"d:/data/f.txt"},
        compact_case_t{"empty", u"", u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Paths, ExpandReplacesThePrefixWithItsFolder) {
  EXPECT_EQ(expand_path(u"idv::bank.kxm", folders()), u"C:\\Users\\Ann\\AppData\\Roaming\\Kestrix\\VLT\\Templates\\bank.kxm");
  EXPECT_EQ(expand_path(u"bin::x64\\a.dll", folders()), u"C:\\Program Files\\Kestrix\\Bin\\x64\\a.dll");
  EXPECT_EQ(expand_path(u"d:\\plain\\file.txt", folders()), u"d:\\plain\\file.txt");
  known_folders_t none;
  EXPECT_EQ(expand_path(u"vlt::a.txt", none), u"vlt::a.txt") << "an unknown folder leaves the path alone";
}

TEST(Paths, CompactedPathExpandsToTheSameFile) {
  const std::u16string original = u"C:\\Users\\Ann\\AppData\\Local\\Kestrix\\VLT\\links.txt";
  EXPECT_EQ(prepare_path(expand_path(compact_path(original, folders()), folders())), prepare_path(original));
}

TEST(Paths, NonAsciiLettersAreLowerCased) {
  EXPECT_EQ(prepare_path(u"C:\\\u00C4RGER\\\u0141\u00D7"), u"c:\\\u00E4rger\\\u0142\u00D7");
}

TEST(Paths, WithSeparator) {
  EXPECT_EQ(with_separator(u"C:\\a"), u"C:\\a\\");
  EXPECT_EQ(with_separator(u"C:/a/"), u"C:/a/");
  EXPECT_EQ(with_separator(u""), u"");
}

}  // namespace
}  // namespace kxpaths
