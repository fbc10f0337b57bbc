#include "agentcomm/transport/ServerRecords.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace ffipc {
namespace {

using buffer_t = std::array<std::uint8_t, buffer_size>;

TEST(ServerRecords, ForwardRecordLayoutAndResultField) {
  buffer_t buf;
  buf.fill(0xEE);
  ASSERT_TRUE(write_record(buf, forward_record_t{7, 0, 0x10020, 0xC123, 5, 0xFFFFFFFF, 0}));
  const std::uint32_t expected[] = {1, 7, 0, 0x10020, 0xC123, 5, 0xFFFFFFFF, 0};
  for (std::uint32_t i = 0; i < 8; ++i) EXPECT_EQ(get_u32(buf, 4 * i), expected[i]) << "field " << i;
  EXPECT_EQ(buf[32], 0xEE) << "nothing beyond the record is touched";
  put_u32(buf, forward_result_offset, 42);  // what the agent leaves there
  EXPECT_EQ(read_forward_record(buf)->result, 42u);
}

TEST(ServerRecords, TextRecordKeepsItsNameAndRefusesOneWithoutNul) {
  buffer_t buf{};
  ASSERT_TRUE(write_record(buf, text_record_t{3, 0x20, 0xC001, "vlt::dontprompt.txt"}));
  EXPECT_EQ(get_u32(buf, 0), 2u);
  EXPECT_EQ(get_u32(buf, 12), 0xC001u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.data() + 16)), "vlt::dontprompt.txt");
  EXPECT_EQ(read_text_record(buf), (text_record_t{3, 0x20, 0xC001, "vlt::dontprompt.txt"}));

  // A peer's record whose short string runs to the end of the buffer has no terminator.
  std::fill(buf.begin() + 16, buf.end(), 'a');
  EXPECT_FALSE(read_text_record(buf));
}

TEST(ServerRecords, TextRecordNameMustFitTheBuffer) {
  buffer_t buf{};
  EXPECT_TRUE(write_record(buf, text_record_t{1, 2, 3, std::string(max_text_name, 'x')}));
  EXPECT_EQ(buf[buffer_size - 1], 0);
  buf.fill(0);
  EXPECT_FALSE(write_record(buf, text_record_t{1, 2, 3, std::string(max_text_name + 1, 'x')}));
  EXPECT_EQ(get_u32(buf, 0), 0u) << "a refused record writes nothing";
  EXPECT_FALSE(write_record(buf, text_record_t{1, 2, 3, std::string("a\0b", 3)}));
}

TEST(ServerRecords, BlockRecordAndKindChecks) {
  buffer_t buf{};
  ASSERT_TRUE(write_record(buf, block_record_t{9, 0x30, 0xC002, 6}));
  EXPECT_EQ(read_block_record(buf), (block_record_t{9, 0x30, 0xC002, 6}));
  EXPECT_FALSE(read_forward_record(buf));
  EXPECT_FALSE(read_text_record(buf));
  EXPECT_FALSE(read_block_record(std::span<const std::uint8_t>(buf.data(), 19)));
  EXPECT_EQ(record_kind_of(std::span<const std::uint8_t>(buf.data(), 3)), 0u);
}

struct prefixed_case_t {
  const char* name;
  std::vector<std::uint8_t> view;
  bool ok = false;         // a payload is read
  std::size_t length = 0;  // its length
};

class LengthPrefixed : public ::testing::TestWithParam<prefixed_case_t> {};

TEST_P(LengthPrefixed, LengthIsBoundedByTheMapping) {
  const auto& c = GetParam();
  const auto payload = read_length_prefixed(c.view);
  ASSERT_EQ(payload.has_value(), c.ok);
  if (c.ok) {
    EXPECT_EQ(payload->size(), c.length);
    if (c.length) {
      EXPECT_EQ(payload->data(), c.view.data() + 4);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LengthPrefixed,
    ::testing::Values(
        prefixed_case_t{.name = "exact", .view = {3, 0, 0, 0, 'a', 'b', 'c'}, .ok = true, .length = 3},
        prefixed_case_t{.name = "page_padding", .view = {2, 0, 0, 0, 'a', 'b', 0, 0, 0}, .ok = true, .length = 2},
        prefixed_case_t{.name = "empty_payload", .view = {0, 0, 0, 0}, .ok = true, .length = 0},
        prefixed_case_t{.name = "one_too_many", .view = {4, 0, 0, 0, 'a', 'b', 'c'}},
        prefixed_case_t{.name = "huge_length", .view = {0xFF, 0xFF, 0xFF, 0xFF, 'a'}},
        prefixed_case_t{.name = "no_length", .view = {1, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ServerRecords, TextMappingStopsAtNulOrEnd) {
  const std::uint8_t with_nul[] = {'x', 'm', 'l', 0, 'z'};
  EXPECT_EQ(read_nul_terminated(with_nul), "xml");
  const std::uint8_t without[] = {'a', 'b'};
  EXPECT_EQ(read_nul_terminated(without), "ab");
  EXPECT_EQ(read_nul_terminated({}), "");
}

}  // namespace
}  // namespace ffipc
