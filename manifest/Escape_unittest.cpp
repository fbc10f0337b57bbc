#include "manifest/Escape.h"

#include <gtest/gtest.h>

namespace manifest {
namespace {

struct escape_case_t {
  const char* input;
  const char* expected;
};

class XmlEscapeTest : public testing::TestWithParam<escape_case_t> {};
TEST_P(XmlEscapeTest, EscapesMarkupCharacters) { EXPECT_EQ(xmlEscape(GetParam().input), GetParam().expected); }
INSTANTIATE_TEST_SUITE_P(Cases, XmlEscapeTest,
                         testing::Values(escape_case_t{"a&b", "a&amp;b"}, escape_case_t{"<x>", "&lt;x&gt;"},
                                         escape_case_t{"say \"hi\" 'x'", "say &quot;hi&quot; &apos;x&apos;"},
                                         // UTF-8 unchanged; a tab as a reference, so an attribute keeps it.
                                         escape_case_t{"\xc3\xa9\t", "\xc3\xa9&#9;"},
                                         escape_case_t{"a\x02", "a\xEF\xBF\xBD"}));

TEST(PercentEscape, ControlBytesAndPercentOnly) {
  EXPECT_EQ(percentEscape("a\tb%c"), "a%09b%25c");
  EXPECT_EQ(percentEscape("\x01\x1f \x7f\xc3\xa9"), "%01%1f \x7f\xc3\xa9");
}

TEST(PercentEscape, UnescapeReversesAndKeepsBrokenSequences) {
  const std::string all = [] {
    std::string s;
    for (int c = 1; c < 256; ++c) s += static_cast<char>(c);
    return s;
  }();
  EXPECT_EQ(percentUnescape(percentEscape(all)), all);
  EXPECT_EQ(percentUnescape("%41%4a%zz%4"), "AJ%zz%4");
  EXPECT_EQ(percentUnescape("%"), "%");
}

class CaptionUnescapeTest : public testing::TestWithParam<escape_case_t> {};
TEST_P(CaptionUnescapeTest, Words) { EXPECT_EQ(captionUnescape(GetParam().input), GetParam().expected); }
INSTANTIATE_TEST_SUITE_P(Cases, CaptionUnescapeTest,
                         testing::Values(escape_case_t{"a^2dot;b^up;c", "a:b^c"},
                                         escape_case_t{"x^", "x^"},              // final caret stays
                                         escape_case_t{"a^dot;b", "adot;b"},     // unknown word: caret dropped
                                         escape_case_t{"a^2dotb", "a2dotb"},     // no ";": rest without caret
                                         escape_case_t{"^;", ";"}));

TEST(CaptionEscape, RoundTrips) {
  for (const char* text : {"Log on: here", "^up;", "a^b:c", ""})
    EXPECT_EQ(captionUnescape(captionEscape(text)), text) << text;
  EXPECT_EQ(captionEscape("a:b^"), "a^2dot;b^up;");
}

TEST(NameEscape, JoinAndSplitRoundTrip) {
  const std::vector<std::string> names = {"101", "f1.login.user", "mail@host:8080", "a^b", ""};
  const std::string joined = joinNames(names);
  EXPECT_EQ(joined, "101:f1^dot;login^dot;user:mail^at;host^2dot;8080:a^up;b:");
  EXPECT_EQ(splitNames(joined), names);
  EXPECT_TRUE(splitNames("").empty());
}

}  // namespace
}  // namespace manifest
