#include "environment/LookupCache.h"

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tracecore/testing.h"

namespace lookupcache {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(LookupBucket, KeysPickTheirBucket) {
  EXPECT_EQ(bucket_of(""), 16u);
  EXPECT_EQ(bucket_of("P@"), 0u);  // 'P' ^ '@' == 16
  EXPECT_EQ(bucket_of("example.com"), bucket_of("moc.elpmaxe"));
  EXPECT_LT(bucket_of("\xff\xfe"), bucket_count);
}

class LookupCache : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> section(std::vector<lookup_record_t> records,
                                    std::vector<std::string> dirs = {"C:\\m\\", ""}) {
    lookup_section_writer_t w(std::move(dirs));
    for (const auto& r : records) w.add(r);
    return w.bytes();
  }
  static std::u16string query(const std::vector<std::uint8_t>& s, std::u16string_view url, bool trace = false) {
    return cached_url(s, url, trace);
  }
};

TEST_F(LookupCache, NamesOfTheDomainInChainOrder) {
  const auto s = section({{"example.com", 0, "a.kxm", false},
                          {"other.org", 0, "o.kxm", false},
                          {"example.com", 1, "b.kxm", true}});
  EXPECT_EQ(query(s, u"https://www.example.com/login?next=/home"), u"C:\\m\\a.kxm\nalien|b.kxm");
  EXPECT_EQ(query(s, u"http://other.org/"), u"C:\\m\\o.kxm");
  EXPECT_EQ(query(s, u"http://nothing.net/"), u"");
}

TEST_F(LookupCache, SameBucketOtherKeyIsSkipped) {
  const auto s = section({{"moc.elpmaxe", 0, "wrong.kxm", false}, {"example.com", 0, "right.kxm", false}});
  EXPECT_THAT(find_entries(s, "example.com"), ElementsAre("C:\\m\\right.kxm"));
}

TEST_F(LookupCache, RepeatedEntryGivesOneLine) {
  const auto s = section({{"example.com", 0, "a.kxm", false},
                          {"example.com", 0, "a.kxm", false},
                          {"example.com", 0, "a.kxm", true}});
  EXPECT_THAT(find_entries(s, "example.com"), ElementsAre("C:\\m\\a.kxm", "alien|C:\\m\\a.kxm"));
}

// A name that only occurs inside an earlier line is still a manifest of its own.
TEST_F(LookupCache, NameInsideAnotherNameIsKept) {
  const auto s = section({{"example.com", 1, "mysite.kxm", false}, {"example.com", 1, "site.kxm", false}});
  EXPECT_THAT(find_entries(s, "example.com"), ElementsAre("mysite.kxm", "site.kxm"));
}

TEST_F(LookupCache, EmptyKeyTakesTheWholeBucket) {
  const auto s = section({{"", 1, "none.kxm", false}, {"aa", 1, "aa.kxm", false}, {"b", 1, "b.kxm", false}});
  ASSERT_EQ(bucket_of("aa"), 16u);
  EXPECT_THAT(find_entries(s, ""), ElementsAre("none.kxm", "aa.kxm"));
}

TEST_F(LookupCache, TracesTheDomainWhenAsked) {
  const auto s = section({});
  tracecore::testing::capture_t trace;
  query(s, u"https://login.example.com/a", true);
  EXPECT_TRUE(trace.has('U', "find for: 'example.com'")) << trace.dump();
  trace.clear();
  query(s, u"https://login.example.com/a", false);
  EXPECT_FALSE(trace.contains('U', "find for")) << trace.dump();
}

void put_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get_u32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

// A section in which the agent's offsets are damaged: every read stays inside it.
struct damage_case {
  const char* name;
  void (*damage)(std::vector<std::uint8_t>& s, std::uint32_t first, std::uint32_t second);
  std::vector<std::string> expected;
};

class DamagedSection : public LookupCache, public ::testing::WithParamInterface<damage_case> {};

TEST_P(DamagedSection, ReadsOnlyWhatIsThere) {
  auto s = section({{"example.com", 0, "a.kxm", false}, {"example.com", 0, "b.kxm", false}});
  const std::uint32_t first = get_u32(s, url_buckets_offset + 4 * bucket_of("example.com"));
  const std::uint32_t second = get_u32(s, first + 17);
  GetParam().damage(s, first, second);
  s.shrink_to_fit();
  EXPECT_EQ(find_entries(s, "example.com"), GetParam().expected);
}

const std::vector<std::string> both = {"C:\\m\\a.kxm", "C:\\m\\b.kxm"};
const std::vector<std::string> first_only = {"C:\\m\\a.kxm"};
const std::vector<std::string> second_only = {"C:\\m\\b.kxm"};

INSTANTIATE_TEST_SUITE_P(
    Offsets, DamagedSection,
    ::testing::Values(
        damage_case{"intact", [](auto&, auto, auto) {}, both},
        damage_case{"next_beyond_the_end", [](auto& s, auto first, auto) { put_u32(s, first + 17, 0xFFFFFFF0); }, first_only},
        damage_case{"record_across_the_end", [](auto& s, auto, auto second) { s.resize(second + 20); }, first_only},
        damage_case{"chain_loops_to_itself", [](auto& s, auto, auto second) { put_u32(s, second + 17, second); }, both},
        damage_case{"chain_loops_back", [](auto& s, auto first, auto second) { put_u32(s, second + 17, first); }, both},
        damage_case{"file_text_outside", [](auto& s, auto first, auto) { put_u32(s, first + 8, 0x7FFFFFFF); }, second_only},
        damage_case{"key_text_outside", [](auto& s, auto first, auto) { put_u32(s, first, static_cast<std::uint32_t>(s.size())); }, second_only},
        damage_case{"directory_index_huge", [](auto& s, auto first, auto) { put_u32(s, first + 4, 0xFFFFFFFF); }, second_only},
        damage_case{"directory_text_outside", [](auto& s, auto, auto) { put_u32(s, directories_offset, 0xFFFFFFFF); }, {}},
        damage_case{"text_without_end",
                    [](auto& s, auto first, auto second) {
                      // The file name of the second record runs to the section's end.
                      const std::uint32_t text = static_cast<std::uint32_t>(s.size());
                      s.push_back('x');
                      put_u32(s, second + 8, text);
                    },
                    first_only},
        damage_case{"bucket_table_cut", [](auto& s, auto, auto) { s.resize(url_buckets_offset + 10); }, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// What one lookup takes is capped: long texts, many entries, a long result.
TEST_F(LookupCache, TextsAtTheirCapAreReadLongerOnesLeftOut) {
  const std::string at_cap(max_text_bytes, 'f'), over(max_text_bytes + 1, 'g');
  const auto s = section({{"example.com", 1, at_cap, false}, {"example.com", 1, over, false},
                          {"example.com", 1, "after.kxm", false}});
  EXPECT_THAT(find_entries(s, "example.com"), ElementsAre(at_cap, "after.kxm"));
}

TEST_F(LookupCache, EntriesBeyondTheCapAreLeftOutAndTraced) {
  std::vector<lookup_record_t> records;
  for (std::size_t i = 0; i < max_entries + 5; ++i) records.push_back({"example.com", 1, std::to_string(i) + ".kxm", false});
  const auto s = section(records);
  bool cut = false;
  const auto entries = find_entries(s, "example.com", &cut);
  ASSERT_EQ(entries.size(), max_entries);
  EXPECT_TRUE(cut);
  EXPECT_EQ(entries.back(), std::to_string(max_entries - 1) + ".kxm");
  tracecore::testing::capture_t trace;
  const std::u16string joined = query(s, u"https://example.com/");
  EXPECT_EQ(static_cast<std::size_t>(std::count(joined.begin(), joined.end(), u'\n')), max_entries - 1);
  EXPECT_TRUE(trace.contains('U', "lookup cache: 512 entries for 'example.com'")) << trace.dump();
  records.resize(max_entries);
  EXPECT_EQ(find_entries(section(records), "example.com", &cut).size(), max_entries);
  EXPECT_FALSE(cut) << "exactly the cap is not a cut";
}

TEST_F(LookupCache, ResultStopsBeforeItsByteCap) {
  // Entries of max_text_bytes each: the result can hold only so many of them with their line feeds.
  std::vector<lookup_record_t> records;
  for (char c = 'a'; c <= 'z'; ++c) records.push_back({"example.com", 1, std::string(max_text_bytes - 1, c) + "|", false});
  for (int i = 0; i < 200; ++i) {
    std::string name = std::to_string(i);
    records.push_back({"example.com", 1, name + std::string(max_text_bytes - name.size(), 'z'), false});
  }
  bool cut = false;
  const auto entries = find_entries(section(records), "example.com", &cut);
  EXPECT_TRUE(cut);
  std::size_t joined = 0;
  for (const auto& e : entries) joined += e.size() + 1;
  EXPECT_LE(joined - 1, max_result_bytes);
  EXPECT_GT(joined + max_text_bytes, max_result_bytes) << "no room was left for one more entry";
}

TEST(LookupCacheEmpty, NoSectionNoNames) {
  EXPECT_THAT(find_entries({}, "example.com"), IsEmpty());
  EXPECT_EQ(cached_url({}, u"https://example.com/", false), u"");
}

}  // namespace
}  // namespace lookupcache
