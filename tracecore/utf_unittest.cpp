#include "tracecore/utf.h"

#include <gtest/gtest.h>

namespace tracecore {
namespace {

TEST(UtfTest, RoundTripsAllPlanes) {
  const std::u16string text = u"Anmeldung \u00fc \u20ac \U0001F511";
  EXPECT_EQ(to_utf16(to_utf8(text)), text);
  EXPECT_EQ(to_utf8(u"\u00fc"), "\xc3\xbc");
}

TEST(UtfTest, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(to_utf8(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
  EXPECT_EQ(to_utf16("a\xff" "b"), u"a\uFFFDb");
  EXPECT_EQ(to_utf16("\xe2\x82"), u"\uFFFD");      // truncated sequence
  EXPECT_EQ(to_utf16("\xc0\xaf"), u"\uFFFD");      // overlong
}

}  // namespace
}  // namespace tracecore
