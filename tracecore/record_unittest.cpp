#include "tracecore/record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tracecore {
namespace {

std::vector<std::uint8_t> file_with(const std::vector<std::pair<char, std::string>>& records) {
  const std::string header = "trace3\r\nCompiled: x\r\n.\r\n";
  std::vector<std::uint8_t> out(header.begin(), header.end());
  for (const auto& [kind, text] : records) {
    std::vector<std::uint8_t> buf(record_size(text.size()));
    buf.resize(encode_record(0x1234, kind, text, buf.data()));
    out.insert(out.end(), buf.begin(), buf.end());
  }
  return out;
}

TEST(RecordTest, LayoutIsThreadKindLengthText) {
  std::uint8_t buf[16];
  ASSERT_EQ(encode_record(0x01020304, 'U', "abc", buf), 10u);
  EXPECT_EQ(buf[0], 4);
  EXPECT_EQ(buf[3], 1);
  EXPECT_EQ(buf[4], 'U');
  EXPECT_EQ(buf[5], 3);
  EXPECT_EQ(buf[6], 0);
  EXPECT_NE(std::string(reinterpret_cast<char*>(buf + 7), 3), "abc") << "the text is enciphered";
}

TEST(RecordTest, DecodesWhatWasEncoded) {
  const auto bytes = file_with({{'>', "Mozilla::Initialize"}, {'U', "'`I09`'done"}, {'E', "0 null document"}, {'<', ""}});
  const auto file = decode_file(bytes.data(), bytes.size());
  EXPECT_EQ(file.stop, "");
  ASSERT_EQ(file.header.size(), 3u);
  EXPECT_EQ(file.header[1], "Compiled: x");
  ASSERT_EQ(file.records.size(), 4u);
  EXPECT_EQ(file.records[0].text, "Mozilla::Initialize");
  EXPECT_EQ(file.records[1].text, "'`I09`'done");
  EXPECT_EQ(file.records[2].kind, 'E');
  EXPECT_EQ(file.records[3].text, "");
  EXPECT_EQ(file.records[1].thread, 0x1234u);
}

TEST(RecordTest, LongTextIsCutToTheLengthField) {
  const std::string big(70000, 'x');
  std::vector<std::uint8_t> buf(record_size(big.size()));
  EXPECT_EQ(encode_record(1, 'U', big, buf.data()), kRecordHeaderSize + 0xFFFF);
}

struct BrokenCase {
  const char* name;
  size_t cut = 0;         // bytes removed from the end
  int poke_offset = -1;   // from the first record; -1 for none
  std::uint8_t poke = 0;  // the byte written there
  const char* stop = "";  // why decoding stopped; "" for the whole file
  size_t records;         // records decoded
};

class BrokenFileTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenFileTest, StopsAndSaysWhere) {
  const auto& c = GetParam();
  auto bytes = file_with({{'U', "first"}, {'U', "second record"}});
  const size_t first = bytes.size() - record_size(5) - record_size(13);
  if (c.poke_offset >= 0) bytes[first + c.poke_offset] = c.poke;
  bytes.resize(bytes.size() - c.cut);
  const auto file = decode_file(bytes.data(), bytes.size());
  EXPECT_EQ(file.stop, c.stop);
  EXPECT_EQ(file.records.size(), c.records);
  if (*c.stop) {
    EXPECT_GE(file.stop_offset, first);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenFileTest,
    ::testing::Values(
        BrokenCase{.name = "whole", .records = 2},
        BrokenCase{.name = "text_cut", .cut = 3, .stop = "truncated record text", .records = 1},
        BrokenCase{.name = "header_cut", .cut = 18, .stop = "truncated record header", .records = 1},
        BrokenCase{.name = "bad_kind", .poke_offset = 4, .poke = 'Z', .stop = "unknown record kind", .records = 0},
        BrokenCase{.name = "length_too_big", .poke_offset = 6, .poke = 0xFF, .stop = "truncated record text",
                   .records = 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordTest, RefusesAFileWithoutTheMagic) {
  const std::string junk = "hello\r\n.\r\n";
  const auto file = decode_file(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size());
  EXPECT_NE(file.stop, "");
  EXPECT_TRUE(file.records.empty());
}

TEST(RecordTest, HeaderWithoutItsClosingLine) {
  const std::string text = "trace3\r\nOS: x\r\n";
  const auto file = decode_file(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  EXPECT_EQ(file.stop, "header ends before its closing \".\" line");
}

}  // namespace
}  // namespace tracecore
