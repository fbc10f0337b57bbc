#include "tools/kxtrace/trace_view.h"

#include <gtest/gtest.h>

#include <vector>

namespace kxtrace {
namespace {

std::vector<std::uint8_t> make_file(const std::vector<std::pair<char, std::string>>& records, std::uint32_t thread = 7) {
  const std::string header = "trace3\r\nTrace Ver: 3.0.2\r\n.\r\n";
  std::vector<std::uint8_t> out(header.begin(), header.end());
  for (const auto& [kind, text] : records) {
    std::vector<std::uint8_t> buf(tracecore::record_size(text.size()));
    tracecore::encode_record(thread, kind, text, buf.data());
    out.insert(out.end(), buf.begin(), buf.end());
  }
  return out;
}

TEST(TraceViewTest, IndentsByScopeDepthAndCarriesTheTime) {
  const auto bytes = make_file({{'t', "12/09/26"}, {'T', "23:42:01.123"}, {'>', "Mozilla::OnActi"}, {'U', "inside"},
                                {'<', ""}, {'E', "0 null document"}});
  const auto text = format_file(tracecore::decode_file(bytes.data(), bytes.size()));
  EXPECT_EQ(text,
            "trace3\nTrace Ver: 3.0.2\n.\n"
            "00000007 12/09/26 23:42:01.123 > Mozilla::OnActi\n"
            "00000007 12/09/26 23:42:01.123   U inside\n"
            "00000007 12/09/26 23:42:01.123 <\n"
            "00000007 12/09/26 23:42:01.123 E 0 null document\n");
}

TEST(TraceViewTest, SaysWhereATruncatedFileStops) {
  auto bytes = make_file({{'U', "kept"}, {'U', "cut off"}});
  bytes.resize(bytes.size() - 2);
  const auto text = format_file(tracecore::decode_file(bytes.data(), bytes.size()));
  EXPECT_NE(text.find("U kept\n"), std::string::npos);
  EXPECT_NE(text.find("-- stopped at byte 40: truncated record text (1 records read)\n"), std::string::npos) << text;
}

TEST(TraceViewTest, SurvivesEveryTruncation) {
  const auto full = make_file({{'>', "a"}, {'U', "text of some length"}, {'<', ""}});
  for (size_t n = 0; n <= full.size(); ++n) {
    const auto file = tracecore::decode_file(full.data(), n);
    EXPECT_FALSE(format_file(file).empty() && n > 8) << n;
  }
}

}  // namespace
}  // namespace kxtrace
