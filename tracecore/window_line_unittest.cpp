#include "tracecore/window_line.h"

#include <gtest/gtest.h>

namespace tracecore {
namespace {

struct MarkerCase {
  const char* text;
  int attribute;        // of the shown line
  const char* shown;    // the text part of the line
};

class ColourMarkerTest : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(ColourMarkerTest, SetsTheColourAndDropsAValidMarker) {
  const auto& c = GetParam();
  const auto line = format_window_line(0x1f, "12:00:00.000", "Mozilla::OnActi", 'U', c.text, "");
  ASSERT_TRUE(line.shown);
  EXPECT_EQ(line.attribute, c.attribute);
  EXPECT_EQ(line.text, std::string("0x1f 12:00:00.000 Mozilla::OnActi() ") + c.shown + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ColourMarkerTest,
    ::testing::Values(MarkerCase{"'`I0E`'Loaded document", 14, "Loaded document"},
                      MarkerCase{"'`I04`'Invalid KXAgent", 4, "Invalid KXAgent"},
                      MarkerCase{"'`I00`'x", 0, "x"},
                      MarkerCase{"'`I0f`'lower case", 15, "lower case"},
                      MarkerCase{"'`IZZ`'not hex", kDefaultAttribute, "'`IZZ`'not hex"},
                      MarkerCase{"'`I10`'sixteen", kDefaultAttribute, "'`I10`'sixteen"},
                      MarkerCase{"'`I0E`'", 14, ""},
                      MarkerCase{"'`I0E`", kDefaultAttribute, "'`I0E`"},
                      MarkerCase{"plain", kDefaultAttribute, "plain"}));

TEST(WindowLineTest, ErrorsAreRedAndCarryTheSystemMessage) {
  const auto line = format_window_line(2, "t", "main", 'E', "-2147467261 NSPTR(x)", "Invalid pointer");
  EXPECT_EQ(line.attribute, kErrorAttribute);
  EXPECT_EQ(line.text, "0x2 t main() -2147467261 NSPTR(x) ERR: Invalid pointer\n");
  EXPECT_EQ(error_record_code("-2147467261 NSPTR(x)"), -2147467261);
}

TEST(WindowLineTest, ScopeAndTimeRecordsAreNotShown) {
  for (char kind : {'>', '<', 'T', 't', 'N'})
    EXPECT_FALSE(format_window_line(1, "t", "s", kind, "x", "").shown) << kind;
}

}  // namespace
}  // namespace tracecore
