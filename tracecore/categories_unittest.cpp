#include "tracecore/categories.h"

#include <gtest/gtest.h>

#include <string>

namespace tracecore {
namespace {

int count_lines_with(const std::string& text, const std::string& part) {
  int n = 0;
  size_t pos = 0;
  while ((pos = text.find(part, pos)) != std::string::npos) { ++n; pos += part.size(); }
  return n;
}

TEST(TraceInfoTest, ListsFourteenEntriesUnderTwoBoxes) {
  const std::string text = format_traceinfo();
  EXPECT_EQ(count_lines_with(text, "]# "), 14);
  EXPECT_NE(text.find("\n  #########\n  #..all..#\n  #\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n  #############\n  #..kxffcli..#\n  #\n"), std::string::npos) << text;
  EXPECT_NE(text.find("1 #[01]# do not trace\n"), std::string::npos);
  EXPECT_NE(text.find("14 #[400]# core: control matching\n"), std::string::npos);
}

struct ParseCase {
  const char* name;
  const char* text;
  traceinfo_request_t::kind_t kind;
  std::uint32_t mask;
};

class ParseTraceInfoTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTraceInfoTest, Selects) {
  const auto r = parse_traceinfo(GetParam().text);
  EXPECT_EQ(r.kind, GetParam().kind);
  if (r.kind == traceinfo_request_t::set_mask) {
    EXPECT_EQ(r.mask, GetParam().mask);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseTraceInfoTest,
    ::testing::Values(
        ParseCase{"bits", "#..kxffcli..#\n 8 #[80]# core: label detection\n9 #[100]# x\n", traceinfo_request_t::set_mask, 0x180},
        ParseCase{"commented_out", "#..kxffcli..#\n# 8 #[80]# x\n9 #[100]# x\n", traceinfo_request_t::set_mask, 0x100},
        ParseCase{"empty_section_clears", "#..kxffcli..#\n\n", traceinfo_request_t::set_mask, 0},
        ParseCase{"clear_wins_over_all", "#..all..#\n2 #[02]# trace all\n1 #[01]# do not trace\n#..kxffcli..#\n5 #[10]# x\n", traceinfo_request_t::clear, 0},
        ParseCase{"all_over_restore", "#..all..#\n3 #[04]# r\n2 #[02]# a\n", traceinfo_request_t::set_all, 0},
        ParseCase{"restore", "#..all..#\n3 #[04]# r\n", traceinfo_request_t::restore, 0},
        ParseCase{"other_component_only", "#..kxother..#\n5 #[10]# x\n", traceinfo_request_t::none, 0},
        ParseCase{"unknown_bits_dropped", "#..kxffcli..#\n[800]\n[1]\n", traceinfo_request_t::set_mask, 1},
        ParseCase{"windows_line_ends", "#..kxffcli..#\r\n8 #[80]# x\r\n", traceinfo_request_t::set_mask, 0x80}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseTraceInfoTest, WholeListingSelectsTheFirstCommand) {
  EXPECT_EQ(parse_traceinfo(format_traceinfo()).kind, traceinfo_request_t::clear);
}

TEST(CategoryMaskTest, RestoreGoesBackToTheMaskBeforeTheLastChange) {
  category_mask_t m;
  m.load(0x80);
  EXPECT_TRUE(m.apply({traceinfo_request_t::set_mask, 0x100}));
  EXPECT_TRUE(m.apply({traceinfo_request_t::set_all, 0}));
  EXPECT_EQ(m.value(), all_category_bits());
  EXPECT_TRUE(m.apply({traceinfo_request_t::restore, 0}));
  EXPECT_EQ(m.value(), 0x100u);
  EXPECT_FALSE(m.apply({traceinfo_request_t::set_mask, 0x100}));
  EXPECT_TRUE(m.apply({traceinfo_request_t::clear, 0}));
  EXPECT_EQ(m.value(), 0u);
}

}  // namespace
}  // namespace tracecore
