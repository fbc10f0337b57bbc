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

#if defined(_WIN32)
// The system's case mapping: letters of every script, not only the Latin ones, and the same
// mapping whatever the user's language (the capital I is always i, never the dotless one).
TEST(Paths, LettersOfEveryScriptAreLowerCasedAsTheSystemMapsThem) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"C:\\\u0391\u0398\u0397\u039D\u0391\\\u03A3.kxm", u"c:\\\u03B1\u03B8\u03B7\u03BD\u03B1\\\u03C3.kxm"},  // Greek
      {u"C:\\\u041C\u041E\u0421\u041A\u0412\u0410\\\u0401.kxm", u"c:\\\u043C\u043E\u0441\u043A\u0432\u0430\\\u0451.kxm"},  // Cyrillic
      {u"C:\\\u00C7ANKIRI\\\u015E.kxm", u"c:\\\u00E7ankiri\\\u015F.kxm"},  // Turkish: I is i whatever the language
      {u"C:\\\uFF21\u0531", u"c:\\\uFF41\u0561"},  // full-width Latin, Armenian
  };
  for (const auto& [path, lowered] : cases) EXPECT_EQ(prepare_path(path), lowered);
  // A user folder written in capitals compacts like the one the system reports.
  known_folders_t greek;
  greek.user_data = u"C:\\Users\\\u0391\u03BD\u03BD\u03B1\\AppData\\Roaming\\Kestrix\\VLT\\";
  EXPECT_EQ(compact_path(u"C:\\USERS\\\u0391\u039D\u039D\u0391\\APPDATA\\ROAMING\\KESTRIX\\VLT\\a.txt", greek),
            u"vlt::a.txt");
}
#endif

TEST(Paths, WithSeparator) {
  EXPECT_EQ(with_separator(u"C:\\a"), u"C:\\a\\");
  EXPECT_EQ(with_separator(u"C:/a/"), u"C:/a/");
  EXPECT_EQ(with_separator(u""), u"");
}

}  // namespace
}  // namespace kxpaths
