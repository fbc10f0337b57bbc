#include "agentcomm/InMemStorage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

// Allocation failure on demand: the program's global allocation functions fail every allocation
// from the armed one on, until disarmed (the nothrow forms give null). Tests run on one thread.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
long g_allocations_before_failure = -1;  // -1: not armed
bool g_allocation_failed = false;
}  // namespace

void* operator new(std::size_t n) {
  if (g_allocations_before_failure == 0) {
    g_allocation_failed = true;
    throw std::bad_alloc();
  }
  if (g_allocations_before_failure > 0) --g_allocations_before_failure;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
// Defined here too: a sanitizer's runtime brings forms of its own that would not fail on demand.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return ::operator new(n, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace serialization::StorageNamed::InMemStorageSpace {
namespace {

using bytes_t = std::vector<std::uint8_t>;

bytes_t save_bytes(const CInMemStorage& s) {
  CMemoryObjectEx block;
  const std::uint32_t n = s.save(block);
  EXPECT_EQ(n, block.size());
  auto b = block.bytes();
  return bytes_t(b.begin(), b.end());
}

bytes_t header() { return {0xA2, 0x49, 0x4D, 0xF3, 0xD9, 0x1E, 0x9F, 0x88, 0x01}; }

bytes_t with_header(const bytes_t& root) {
  const bytes_t h = header();
  bytes_t b(h.size() + root.size());
  std::copy(h.begin(), h.end(), b.begin());
  std::copy(root.begin(), root.end(), b.begin() + static_cast<std::ptrdiff_t>(h.size()));
  return b;
}

std::uint32_t load_bytes(CInMemStorage& s, const bytes_t& b, bool* complete = nullptr) {
  return s.load(fake_memblock_t(b.data(), static_cast<std::uint32_t>(b.size())), complete);
}

TEST(InMemStorageFormat, EmptyStorageIsElevenBytes) {
  CInMemStorage s;
  EXPECT_EQ(save_bytes(s), (bytes_t{0xA2, 0x49, 0x4D, 0xF3, 0xD9, 0x1E, 0x9F, 0x88, 0x01, 0x01, 0x00}));
}

TEST(InMemStorageFormat, IntegerValueLayout) {
  CInMemStorage s;
  ASSERT_TRUE(s.put_int("id", 5));
  EXPECT_EQ(save_bytes(s), with_header({0x01, 0x04, 0x69, 0x64, 0x00, 0x02, 0x01, 0x10, 0x05, 0x00, 0x00, 0x00}));
}

TEST(InMemStorageFormat, NamesAreWrittenInByteOrder) {
  CInMemStorage s;
  s.put_flag("b", 2);
  s.put_flag("a", 1);
  s.put_flag("B", 3);
  EXPECT_EQ(save_bytes(s), with_header({0x01, 0x0C,                            //
                                        'B', 0, 0x02, 0x01, 0x04, 3,           //
                                        'a', 0, 0x02, 0x01, 0x04, 1,           //
                                        'b', 0, 0x02, 0x01, 0x04, 2}));
}

TEST(InMemStorageFormat, StringsCarryTheirTerminator) {
  CInMemStorage s;
  s.put_str("s", "ab");
  s.put_wstr("w", u"\u00e9");
  EXPECT_EQ(save_bytes(s), with_header({0x01, 0x08,                                 //
                                        's', 0, 0x02, 0x02, 0x0C, 'a', 'b', 0,     //
                                        'w', 0, 0x02, 0x03, 0x10, 0xE9, 0, 0, 0}));
}

struct width_case {
  std::uint64_t value;  // a count or a payload length
  std::uint32_t width;  // bytes of its packed form
};

class PackedCount : public ::testing::TestWithParam<width_case> {};

TEST_P(PackedCount, WidthAndRoundTrip) {
  const auto [value, width] = GetParam();
  EXPECT_EQ(packed_width(value), width);
  std::uint8_t buf[8] = {};
  running_ptr w(buf, sizeof buf);
  ASSERT_TRUE(write_packed(w, value));
  EXPECT_EQ(sizeof buf - w.remaining(), width);
  const_running_ptr r(buf, width);
  std::uint32_t back = 0;
  ASSERT_TRUE(read_packed(r, back));
  EXPECT_EQ(back, static_cast<std::uint32_t>(value));
  EXPECT_EQ(r.remaining(), 0u);
  // One byte short: nothing is read.
  const_running_ptr shortr(buf, width - 1);
  EXPECT_FALSE(read_packed(shortr, back));
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, PackedCount,
    ::testing::Values(width_case{.value = 0, .width = 1}, width_case{.value = 63, .width = 1},
                      width_case{.value = 64, .width = 2}, width_case{.value = 16383, .width = 2},
                      width_case{.value = 16384, .width = 4}, width_case{.value = 0x3FFFFFFF, .width = 4},
                      width_case{.value = 0x40000000, .width = 8}));

class PayloadLength : public ::testing::TestWithParam<width_case> {};

// The payload length of a value takes the packed width; the whole block is sized exactly.
TEST_P(PayloadLength, ValueSizeFollowsTheWidth) {
  const auto [length, width] = GetParam();
  std::string payload(length, 'x');
  CInMemStorage s;
  ASSERT_TRUE(s.put_value("v", fake_memblock_t(payload.data(), static_cast<std::uint32_t>(length))));
  const bytes_t b = save_bytes(s);
  EXPECT_EQ(b.size(), 9 + 2 + 2 + 2 + width + length);
  CInMemStorage r;
  bool complete = false;
  EXPECT_EQ(load_bytes(r, b, &complete), b.size());
  EXPECT_TRUE(complete);
  CMemoryObjectEx back;
  ASSERT_TRUE(r.get_value("v", back));
  EXPECT_EQ(back.size(), length);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, PayloadLength,
    ::testing::Values(width_case{.value = 63, .width = 1}, width_case{.value = 64, .width = 2},
                      width_case{.value = 16383, .width = 2}, width_case{.value = 16384, .width = 4}));

struct header_case {
  const char* what;
  bytes_t block;
};

class RefusedHeader : public ::testing::TestWithParam<header_case> {};

TEST_P(RefusedHeader, LoadsNothingAndKeepsTheStorage) {
  CInMemStorage s;
  s.put_int("kept", 7);
  EXPECT_EQ(load_bytes(s, GetParam().block), 0u);
  std::int32_t v = 0;
  EXPECT_TRUE(s.get_int("kept", v));
  EXPECT_EQ(v, 7);
}

// A valid block made longer than a load accepts.
bytes_t oversized() {
  bytes_t x = with_header({0x01, 0x00});
  x.resize(std::size_t{max_block_size} + 1, 0);
  return x;
}

bytes_t changed(std::size_t at, std::uint8_t b) {
  bytes_t x = with_header({0x01, 0x00});
  x[at] = b;
  return x;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, RefusedHeader,
    ::testing::Values(header_case{"header only", header()}, header_case{"version 2", changed(8, 2)},
                      header_case{"magic 1", changed(0, 0xA3)}, header_case{"magic 2", changed(7, 0x89)},
                      header_case{"empty", {}}, header_case{"above the size limit", oversized()}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& c : n) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return n;
    });

TEST(InMemStorageLoad, VersionZeroIsAccepted) {
  CInMemStorage s;
  bytes_t b = with_header({0x01, 0x04, 'i', 'd', 0, 0x02, 0x01, 0x10, 5, 0, 0, 0});
  b[8] = 0;
  EXPECT_EQ(load_bytes(s, b), b.size());
  std::int32_t v = 0;
  EXPECT_TRUE(s.get_int("id", v));
  EXPECT_EQ(v, 5);
}

TEST(InMemStorageLoad, ValuesArrayHasOneKindAndNoElementTypes) {
  CInMemStorage s;
  const bytes_t b = with_header({0x01, 0x04, 'v', 0, 0x04, 0x02, 0x08,  // kind 2, two elements
                                 0x08, 'a', 0,                          // "a\0"
                                 0x0C, 'b', 'c', 0});                   // "bc\0"
  bool complete = false;
  EXPECT_EQ(load_bytes(s, b, &complete), b.size());
  EXPECT_TRUE(complete);
  auto* array = dynamic_cast<CSValuesArray*>(s.root().find("v"));
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array->kind, 2);
  ASSERT_EQ(array->elements().size(), 2u);
  EXPECT_EQ(array->elements()[1].size(), 3u);
  EXPECT_EQ(save_bytes(s), b);
}

// A tree with every entry type survives save and load unchanged.
TEST(InMemStorageLoad, NestedTreeRoundTrip) {
  CInMemStorage s;
  CSSection* sub = s.open_section("sub", nullptr, true);
  s.put_str("name", "x", sub);
  CSSection* e = nullptr;
  CSSectionsArray* array = s.begin_write_array("items", sub, &e);
  ASSERT_NE(array, nullptr);
  s.put_int("n", 1, e);
  CInMemStorage::append_section(array, &e);
  s.put_int("n", 2, e);
  CSValuesArray* values = s.put_values_array("vals", kind_wstring);
  const char16_t w[] = u"hi";
  values->append(fake_memblock_t(w, sizeof w));
  values->append(fake_memblock_t(w, 2));
  s.put_rect("r", rect_t{1, -2, 3, 4});

  const bytes_t b = save_bytes(s);
  CInMemStorage r;
  bool complete = false;
  EXPECT_EQ(load_bytes(r, b, &complete), b.size());
  EXPECT_TRUE(complete);
  EXPECT_EQ(save_bytes(r), b);

  CSSection* first = nullptr;
  CSSectionsArray* read = r.begin_read_array("items", r.open_section("sub"), &first);
  ASSERT_NE(read, nullptr);
  std::int32_t n = 0;
  EXPECT_TRUE(r.get_int("n", n, first));
  EXPECT_EQ(n, 1);
  CSSection* second = nullptr;
  ASSERT_TRUE(CInMemStorage::next_section(read, &second));
  EXPECT_TRUE(r.get_int("n", n, second));
  EXPECT_EQ(n, 2);
  EXPECT_FALSE(CInMemStorage::next_section(read, &second));
  rect_t rect;
  EXPECT_TRUE(r.get_rect("r", rect));
  EXPECT_EQ(rect, (rect_t{1, -2, 3, 4}));
}

// Every prefix of a valid block loads without reading past its end; only the whole one is complete.
TEST(InMemStorageLoad, EveryTruncationStopsCleanly) {
  CInMemStorage s;
  s.put_str("a", "text");
  CSSection* e = nullptr;
  auto* array = s.begin_write_array("b", nullptr, &e);
  s.put_int("x", 3, e);
  CInMemStorage::append_section(array, &e);
  s.put_wstr("y", u"w", e);
  const char v[] = "zz";
  s.put_values_array("c", kind_string)->append(fake_memblock_t(v, 3));
  const bytes_t full = save_bytes(s);
  for (std::size_t n = 10; n < full.size(); ++n) {
    // A copy of exactly n bytes, so that ASan sees any read past it.
    std::vector<std::uint8_t> prefix(full.begin(), full.begin() + n);
    CInMemStorage r;
    bool complete = true;
    const std::uint32_t used = load_bytes(r, prefix, &complete);
    EXPECT_LE(used, n) << n;
    EXPECT_FALSE(complete) << n;
    const bytes_t again = save_bytes(r);
    CInMemStorage r2;
    EXPECT_EQ(load_bytes(r2, again), again.size()) << n;
  }
}

struct damaged_case {
  const char* what;
  bytes_t root;
  const char* kept;  // a name that must have been read before the damage
};

class DamagedBlock : public ::testing::TestWithParam<damaged_case> {};

TEST_P(DamagedBlock, KeepsWhatWasReadAndSaysItStopped) {
  CInMemStorage s;
  bool complete = true;
  const bytes_t b = with_header(GetParam().root);
  EXPECT_GT(load_bytes(s, b, &complete), 0u);
  EXPECT_FALSE(complete);
  if (*GetParam().kept) {
    EXPECT_NE(s.root().find(GetParam().kept), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Peers, DamagedBlock,
    ::testing::Values(
        // Claims a 0x3FFFFFFF-byte payload in a few bytes: refused before any allocation.
        damaged_case{"huge_length", {0x01, 0x08, 'a', 0, 0x02, 0x01, 0x04, 1, 'b', 0, 0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 1}, "a"},
        // Claims a billion entries: refused before any entry is read or made.
        damaged_case{"huge_count", {0x01, 0xFE, 0xFF, 0xFF, 0xFF, 'a', 0, 0x02, 0x01, 0x04, 1}, ""},
        damaged_case{"unknown_type", {0x01, 0x08, 'a', 0, 0x02, 0x01, 0x04, 1, 'b', 0, 0x07, 0}, "a"},
        damaged_case{"name_without_nul", {0x01, 0x08, 'a', 0, 0x02, 0x01, 0x04, 1, 'b', 'c'}, "a"},
        damaged_case{"array_element_not_a_section", {0x01, 0x04, 'a', 0, 0x03, 0x08, 0x01, 0x00, 0x02}, "a"},
        damaged_case{"trailing_bytes", {0x01, 0x04, 'a', 0, 0x02, 0x01, 0x04, 1, 0xAA}, "a"},
        damaged_case{"values_array_huge_count", {0x01, 0x04, 'a', 0, 0x04, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x04, 1}, "a"}),
    [](const auto& info) { return std::string(info.param.what); });

// The tree as text: a section's entries in braces, a sections array's elements in brackets.
std::string shape(const CSSection& section) {
  std::string out;
  for (const auto& item : section.items()) {
    if (!out.empty()) out += ',';
    out += item.name;
    if (item.entry->type() == entry_section) out += '{' + shape(static_cast<const CSSection&>(*item.entry)) + '}';
    if (item.entry->type() == entry_sections_array) {
      out += '[';
      for (const CSSection& element : static_cast<const CSSectionsArray&>(*item.entry).elements())
        out += '{' + shape(element) + '}';
      out += ']';
    }
  }
  return out;
}

// An entry that stops early leaves the cursor inside its own bytes; whatever holds it must stop
// too, or it reads those bytes as further entries of its own.
struct stopped_child_case {
  const char* what;
  bytes_t root;
  const char* shape;
};

class StoppedChild : public ::testing::TestWithParam<stopped_child_case> {};

TEST_P(StoppedChild, EndsEverythingAboveItWithoutPhantomEntries) {
  CInMemStorage s;
  bool complete = true;
  EXPECT_GT(load_bytes(s, with_header(GetParam().root), &complete), 0u);
  EXPECT_FALSE(complete);
  EXPECT_EQ(shape(s.root()), GetParam().shape);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, StoppedChild,
    ::testing::Values(
        // "a" claims a payload the block cannot hold; "p" lies inside what it claimed.
        stopped_child_case{"value_refused",
                           {0x01, 0x08, 'a', 0, 0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 'p', 0, 0x02, 0x01, 0x04, 7},
                           "a"},
        stopped_child_case{"section_at_unknown_type",
                           {0x01, 0x08, 's', 0, 0x01, 0x08, 'x', 0, 0x07, 'p', 0, 0x02, 0x01, 0x04, 1},
                           "s{}"},
        // Two levels up: "m" stops, so "o" stops, so the root stops.
        stopped_child_case{"stop_reaches_the_root",
                           {0x01, 0x08, 'o', 0, 0x01, 0x08, 'm', 0, 0x01, 0x04, 'i', 0, 0x07,  //
                            'n', 0, 0x02, 0x01, 0x04, 1, 'q', 0, 0x02, 0x01, 0x04, 1},
                           "o{m{}}"},
        // The first element stops inside its value; the bytes after it look like a second element.
        stopped_child_case{"array_element_refused",
                           {0x01, 0x04, 'a', 0, 0x03, 0x08,                           //
                            0x01, 0x04, 'x', 0, 0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF,   //
                            0x01, 0x04, 'p', 0, 0x02, 0x01, 0x04, 1},
                           "a[{x}]"}),
    [](const auto& info) { return std::string(info.param.what); });

void put_packed(bytes_t& b, std::uint32_t value) {
  std::uint8_t buf[8];
  running_ptr w(buf, sizeof buf);
  write_packed(w, value);
  b.insert(b.end(), buf, buf + (sizeof buf - w.remaining()));
}

// The root holding one values array "a" of |count| empty elements.
bytes_t values_array_block(std::uint32_t count) {
  bytes_t b = header();
  b.insert(b.end(), {0x01, 0x04, 'a', 0, 0x04, 0x01});
  put_packed(b, count);
  b.resize(b.size() + count, 0);
  return b;
}

std::size_t entries_in(const CSSection& section) {
  std::size_t n = 0;
  for (const auto& item : section.items()) {
    ++n;
    if (item.entry->type() == entry_section) n += entries_in(static_cast<const CSSection&>(*item.entry));
    if (item.entry->type() == entry_values_array)
      n += static_cast<const CSValuesArray&>(*item.entry).elements().size();
    if (item.entry->type() == entry_sections_array)
      for (const CSSection& element : static_cast<const CSSectionsArray&>(*item.entry).elements())
        n += 1 + entries_in(element);
  }
  return n;
}

#if defined(__linux__)
std::size_t peak_resident_bytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}
#endif

// Blocks of up to the size limit whose counts are true to their bytes but ask for millions of
// entries, at some tens of bytes of memory each against one to three bytes of block.
struct flood_case {
  const char* what;
  bytes_t (*block)();
};

bytes_t flood_values_array() { return values_array_block(max_block_size - 32); }

bytes_t flood_sections_array() {
  bytes_t b = header();
  const std::uint32_t count = (max_block_size - 32) / 2;
  b.insert(b.end(), {0x01, 0x04, 'a', 0, 0x03});
  put_packed(b, count);
  for (std::uint32_t i = 0; i < count; ++i) b.insert(b.end(), {0x01, 0x00});
  return b;
}

bytes_t flood_section_entries() {
  bytes_t b = header();
  const std::uint32_t count = (max_block_size - 32) / 3;
  b.push_back(0x01);
  put_packed(b, count);
  for (std::uint32_t i = 0; i < count; ++i) b.insert(b.end(), {0x00, 0x01, 0x00});  // "" -> empty section
  return b;
}

// A hundred arrays, each under the entry limit, together far above it.
bytes_t flood_many_arrays() {
  bytes_t b = header();
  b.push_back(0x01);
  put_packed(b, 100);
  for (int i = 0; i < 100; ++i) {
    b.insert(b.end(), {static_cast<std::uint8_t>('A' + i / 10), static_cast<std::uint8_t>('0' + i % 10), 0, 0x04, 0x01});
    put_packed(b, 40000);
    b.resize(b.size() + 40000, 0);
  }
  return b;
}

class FloodBlock : public ::testing::TestWithParam<flood_case> {};

TEST_P(FloodBlock, IsRefusedBeforeItsEntriesAreMade) {
  const bytes_t b = GetParam().block();
  ASSERT_LE(b.size(), max_block_size);
#if defined(__linux__)
  const std::size_t peak_before = peak_resident_bytes();
#endif
  CInMemStorage s;
  bool complete = true;
  EXPECT_GT(load_bytes(s, b, &complete), 0u);
  EXPECT_FALSE(complete);
  EXPECT_LE(entries_in(s.root()), max_entries);
#if defined(__linux__)
  // Before the entry limit, the values array alone built about 270 MB.
  EXPECT_LT(peak_resident_bytes() - peak_before, std::size_t{32} << 20);
#endif
}

INSTANTIATE_TEST_SUITE_P(Peers, FloodBlock,
                         ::testing::Values(flood_case{"values_array", &flood_values_array},
                                           flood_case{"sections_array", &flood_sections_array},
                                           flood_case{"section_entries", &flood_section_entries},
                                           flood_case{"many_arrays", &flood_many_arrays}),
                         [](const auto& info) { return std::string(info.param.what); });

// The limit counts every entry of a load: the root's entry "a" and the elements of its array.
TEST(InMemStorageLoad, TheEntryLimitIsExact) {
  CInMemStorage under;
  bool complete = false;
  const bytes_t fits = values_array_block(max_entries - 1);
  EXPECT_EQ(load_bytes(under, fits, &complete), fits.size());
  EXPECT_TRUE(complete);
  EXPECT_EQ(entries_in(under.root()), max_entries);

  CInMemStorage over;
  EXPECT_GT(load_bytes(over, values_array_block(max_entries), &complete), 0u);
  EXPECT_FALSE(complete);
  const auto* array = dynamic_cast<const CSValuesArray*>(over.root().find("a"));
  ASSERT_NE(array, nullptr);
  EXPECT_TRUE(array->elements().empty()) << "refused whole, not read up to the limit";
}

TEST(InMemStorageLoad, DeepNestingStopsInsteadOfExhaustingTheStack) {
  bytes_t root;
  const int levels = 200000;
  for (int i = 0; i < levels; ++i) root.insert(root.end(), {0x01, 0x04, 's', 0});
  root.insert(root.end(), {0x01, 0x00});
  CInMemStorage s;
  bool complete = true;
  EXPECT_GT(load_bytes(s, with_header(root), &complete), 0u);
  EXPECT_FALSE(complete);
  std::uint32_t depth = 0;
  for (const CSSection* at = s.find_section("s"); at; at = s.find_section("s", at)) ++depth;
  EXPECT_EQ(depth, max_nesting);
}

// Entries that a load made may be kept after the storage is gone, and changed like any other.
TEST(InMemStorageLoad, LoadedEntriesOutliveTheirStorage) {
  CInMemStorage s;
  CSSection* sub = s.open_section("sub", nullptr, true);
  s.put_str("text", std::string(100, 't'), sub);
  s.put_int("n", 4, sub);
  const bytes_t b = save_bytes(s);

  entry_ptr kept;
  {
    CInMemStorage r;
    ASSERT_EQ(load_bytes(r, b), b.size());
    kept = r.root().items().front().entry;
    r.remove("sub");
    r.put_int("sub", 1);  // a heap entry where an arena one was
  }
  ASSERT_EQ(kept->type(), entry_section);
  auto* section = static_cast<CSSection*>(kept.get());
  auto* text = dynamic_cast<CSValue*>(section->find("text"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->payload.size(), 101u);
  section->erase("n");
  section->set("m", std::make_shared<CSValue>());
  EXPECT_EQ(section->items().size(), 2u);
}

TEST(InMemStorageLoad, PeerNamesOutOfOrderAreSortedAndTheLastRepeatWins) {
  CInMemStorage s;
  const bytes_t b = with_header({0x01, 0x0C,                    //
                                 'b', 0, 0x02, 0x01, 0x04, 1,   //
                                 'a', 0, 0x02, 0x01, 0x04, 2,   //
                                 'b', 0, 0x02, 0x01, 0x04, 3});
  bool complete = false;
  EXPECT_EQ(load_bytes(s, b, &complete), b.size());
  EXPECT_TRUE(complete);
  ASSERT_EQ(s.root().items().size(), 2u);
  EXPECT_EQ(s.root().items()[0].name, "a");
  std::uint8_t f = 0;
  EXPECT_TRUE(s.get_flag("b", f));
  EXPECT_EQ(f, 3);
}

TEST(InMemStorageValues, TypedReadsCopyOnlyWhatThePayloadHas) {
  CInMemStorage s;
  const std::uint8_t one = 0x7F;
  s.put_value("i", fake_memblock_t(&one, 1));
  const char text[] = {'a', 'b', 0, 'c', 0};
  s.put_value("s", fake_memblock_t(text, sizeof text), nullptr, kind_string);
  const char16_t wtext[] = {u'x', 0, u'y', 0};
  s.put_value("w", fake_memblock_t(wtext, sizeof wtext), nullptr, kind_wstring);

  std::int32_t i = 0x11223344;
  EXPECT_TRUE(s.get_int("i", i));
  EXPECT_EQ(i, 0x1122337F);
  std::string str;
  EXPECT_TRUE(s.get_str("s", str));
  EXPECT_EQ(str, "ab");
  std::u16string w;
  EXPECT_TRUE(s.get_wstr("w", w));
  EXPECT_EQ(w, u"x");
  std::int32_t missing = 9;
  EXPECT_FALSE(s.get_int("none", missing));
  EXPECT_EQ(missing, 9);
}

TEST(InMemStorageValues, PutRules) {
  CInMemStorage s;
  CSSection* sec = s.open_section("sec", nullptr, true);
  ASSERT_NE(sec, nullptr);
  EXPECT_FALSE(s.put_int("sec", 1));
  EXPECT_EQ(s.open_section("sec"), sec);
  EXPECT_FALSE(s.put_int("", 1));
  EXPECT_FALSE(s.put_value("x", fake_memblock_t()));
  EXPECT_TRUE(s.put_int("v", 1));
  EXPECT_TRUE(s.put_str("v", "second"));
  std::uint8_t kind = 0;
  CMemoryObjectEx out;
  EXPECT_TRUE(s.get_value("v", out, nullptr, &kind));
  EXPECT_EQ(kind, kind_string);
  EXPECT_EQ(out.size(), 7u);
  EXPECT_EQ(s.root().items().size(), 2u);
  EXPECT_EQ(s.open_section("v"), nullptr);       // a value is not a section
  EXPECT_EQ(s.open_section("none"), nullptr);    // missing and not asked to create
  EXPECT_EQ(s.open_section("", sec), sec);       // no name: the parent itself
  EXPECT_TRUE(s.remove("v"));
  EXPECT_FALSE(s.remove("v"));
}

TEST(InMemStorageArrays, BeginWriteRules) {
  CInMemStorage s;
  CSSection* first = nullptr;
  s.put_int("was_value", 1);
  EXPECT_NE(s.begin_write_array("was_value", nullptr, &first), nullptr);
  s.open_section("sec", nullptr, true);
  EXPECT_EQ(s.begin_write_array("sec", nullptr, &first), nullptr);
  s.put_values_array("vals", kind_bytes);
  EXPECT_EQ(s.begin_write_array("vals", nullptr, &first), nullptr);
  EXPECT_EQ(s.begin_write_array("", nullptr, &first), nullptr);
  EXPECT_EQ(s.begin_write_array("a", nullptr, nullptr), nullptr);

  // An existing array is reused and emptied down to one fresh element.
  CSSectionsArray* a = s.begin_write_array("a", nullptr, &first);
  CSSection* e = nullptr;
  CInMemStorage::append_section(a, &e);
  CInMemStorage::append_section(a, &e);
  EXPECT_EQ(a->elements().size(), 3u);
  EXPECT_EQ(s.begin_write_array("a", nullptr, &first), a);
  EXPECT_EQ(a->elements().size(), 1u);
}

TEST(InMemStorageArrays, BeginReadNeedsAnElement) {
  CInMemStorage s;
  CSSection* first = nullptr;
  s.root().set("empty", std::make_shared<CSSectionsArray>());
  EXPECT_EQ(s.begin_read_array("empty", nullptr, &first), nullptr);
  EXPECT_EQ(s.begin_read_array("missing", nullptr, &first), nullptr);
  s.put_int("v", 1);
  EXPECT_EQ(s.begin_read_array("v", nullptr, &first), nullptr);
}

// A block whose allocator counts: saving allocates once, exactly the block's length.
struct counting_allocator {
  static inline int calls = 0;
  static inline std::uint32_t last = 0;
  static void* allocate(std::uint32_t n) noexcept {
    ++calls;
    last = n;
    return aloocator_cpp::allocate(n);
  }
  static void release(void* p) noexcept { aloocator_cpp::release(p); }
};

struct failing_allocator {
  static void* allocate(std::uint32_t) noexcept { return nullptr; }
  static void release(void*) noexcept {}
};

TEST(InMemStorageSave, OneExactAllocationAndFailureGivesZero) {
  CInMemStorage s;
  s.put_str("a", std::string(100, 'h'));  // longer than a block keeps inside itself
  s.open_section("b", nullptr, true);
  memoryblock_T<counting_allocator> block;
  counting_allocator::calls = 0;
  const std::uint32_t n = s.save(block);
  EXPECT_EQ(counting_allocator::calls, 1);
  EXPECT_EQ(counting_allocator::last, n);
  EXPECT_EQ(n, block.size());

  memoryblock_T<failing_allocator> none;
  EXPECT_EQ(s.save(none), 0u);
  fake_memblock_t view;
  EXPECT_EQ(s.save(view), 0u);
}

class MemoryBlock : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  static std::string text(const memoryblock_i& b) {
    auto bytes = b.bytes();
    return std::string(bytes.begin(), bytes.end());
  }
};

// Short blocks live inside the object, longer ones on the heap; both behave the same.
TEST_P(MemoryBlock, AssignCopyMoveAndRelease) {
  const std::uint32_t n = GetParam();
  std::string a(n, 'a'), z(n, 'z');
  for (std::uint32_t i = 0; i < n; ++i) a[i] = static_cast<char>('a' + i % 26);

  CMemoryObjectEx b;
  ASSERT_TRUE(b.assign(a.data(), n));
  const std::uint8_t* at = b.data();
  ASSERT_TRUE(b.assign(z.data(), n));
  EXPECT_EQ(b.data(), at);  // the same length is copied in place
  EXPECT_EQ(text(b), z);

  ASSERT_TRUE(b.assign(a.data(), n));
  ASSERT_TRUE(b.assign(b.data() + 1, n - 1));  // from its own bytes, shorter
  EXPECT_EQ(text(b), a.substr(1));

  CMemoryObjectEx copy(b);
  CMemoryObjectEx moved(std::move(b));
  EXPECT_EQ(text(copy), a.substr(1));
  EXPECT_EQ(text(moved), a.substr(1));
  EXPECT_EQ(b.size(), 0u);
  std::vector<CMemoryObjectEx> grown;  // moves on every growth
  for (int i = 0; i < 20; ++i) grown.push_back(copy);
  EXPECT_EQ(text(grown.front()), a.substr(1));

  ASSERT_TRUE(moved.assign(nullptr, 5));
  EXPECT_EQ(moved.data(), nullptr);
  EXPECT_EQ(moved.size(), 0u);

  fake_memblock_t view(a.data(), n);
  CMemoryObjectEx fromview;
  fromview.assign(view);
  EXPECT_NE(fromview.data(), reinterpret_cast<const std::uint8_t*>(a.data()));
  EXPECT_EQ(text(fromview), a);
  view.release();
  EXPECT_EQ(view.size(), 0u);
  EXPECT_EQ(a[0], 'a');  // a view's release leaves the caller's bytes alone
}

constexpr std::uint32_t inside = CMemoryObjectEx::inline_capacity;
INSTANTIATE_TEST_SUITE_P(Lengths, MemoryBlock, ::testing::Values(3u, inside, inside + 1, 100u));

// Checks, when a block gives its bytes back, that none of them is left.
struct wipe_checking_allocator {
  static inline std::map<void*, std::uint32_t> sizes;
  static inline int released = 0;
  static inline int unwiped = 0;
  static void* allocate(std::uint32_t n) noexcept {
    void* p = aloocator_cpp::allocate(n);
    sizes[p] = n;
    return p;
  }
  static void release(void* p) noexcept {
    const auto* bytes = static_cast<const std::uint8_t*>(p);
    if (!std::all_of(bytes, bytes + sizes[p], [](std::uint8_t b) { return b == 0; })) ++unwiped;
    ++released;
    sizes.erase(p);
    aloocator_cpp::release(p);
  }
};

template <class T>
bool object_holds(const T& object, const std::string& text) {
  const auto* raw = reinterpret_cast<const char*>(&object);
  return std::search(raw, raw + sizeof object, text.begin(), text.end()) != raw + sizeof object;
}

// Payloads carry credentials: their bytes are zero before the memory is freed or left behind.
TEST(MemoryBlockWipe, BytesAreWipedBeforeTheyAreFreedOrMovedOut) {
  using block_t = memoryblock_T<wipe_checking_allocator>;
  const std::string secret = "password: correct horse battery staple, and more than sixty bytes of it";
  ASSERT_GT(secret.size(), 60u);
  {
    block_t b(secret.data(), static_cast<std::uint32_t>(secret.size()));
    b.assign(secret.data(), 50);  // another length: the old bytes are freed
    b.allocate(60);               // likewise
    b.assign(secret.data(), 60);
  }  // the destructor
  block_t released(secret.data(), static_cast<std::uint32_t>(secret.size()));
  released.release();
  EXPECT_EQ(wipe_checking_allocator::released, 4);
  EXPECT_EQ(wipe_checking_allocator::unwiped, 0);

  // Short payloads live inside the object.
  const std::string pin = "pin 4711";
  block_t small(pin.data(), static_cast<std::uint32_t>(pin.size()));
  ASSERT_TRUE(object_holds(small, pin));
  block_t moved(std::move(small));
  EXPECT_FALSE(object_holds(small, pin)) << "the source of a move keeps no copy";
  moved.release();
  EXPECT_FALSE(object_holds(moved, pin));
}

// Arms the allocation failure for its lifetime: the first |allowed| allocations succeed, every later
// one fails.
class failing_allocations_t {
 public:
  explicit failing_allocations_t(long allowed) {
    g_allocation_failed = false;
    g_allocations_before_failure = allowed;
  }
  failing_allocations_t(const failing_allocations_t&) = delete;
  failing_allocations_t& operator=(const failing_allocations_t&) = delete;
  ~failing_allocations_t() { g_allocations_before_failure = -1; }
  static bool failed() { return g_allocation_failed; }
};

// Runs |op| with every allocation from the allowed number on failing, for every number until one
// that lets |op| run without a failure. The test code itself allocates nothing while armed.
void for_each_failure_point(const std::function<void(long allowed, bool failed)>& run_one,
                            const std::function<void()>& op, bool& threw) {
  for (long allowed = 0;; ++allowed) {
    threw = false;
    bool failed = false;
    {
      failing_allocations_t failing(allowed);
      try {
        op();
      } catch (...) {
        threw = true;
      }
      failed = failing_allocations_t::failed();
    }
    run_one(allowed, failed);
    if (!failed) return;
    ASSERT_LT(allowed, 10000) << "never ran without a failed allocation";
  }
}

// A load that runs out of memory at any point gives 0 and keeps what the storage held; one that
// does not loads the whole block.
TEST(InMemStorageOutOfMemory, LoadGivesZeroAndKeepsTheStorage) {
  CInMemStorage src;
  CSSection* sub = src.open_section("a section name longer than a short string", nullptr, true);
  src.put_str("text", std::string(200, 't'), sub);
  CSSection* e = nullptr;
  auto* array = src.begin_write_array("array", nullptr, &e);
  src.put_wstr("w", std::u16string(60, u'w'), e);
  CInMemStorage::append_section(array, &e);
  src.put_int("i", 4, e);
  const std::string v(100, 'v');
  src.put_values_array("values", kind_string)->append(fake_memblock_t(v.data(), 100));
  const bytes_t block = save_bytes(src);

  CInMemStorage target;
  target.put_int("before", 1);
  const fake_memblock_t view(block.data(), static_cast<std::uint32_t>(block.size()));
  std::uint32_t used = 0;
  bool complete = false;
  bool threw = false;
  for_each_failure_point(
      [&](long allowed, bool failed) {
        EXPECT_FALSE(threw) << allowed;
        if (failed) {
          EXPECT_EQ(used, 0u) << allowed;
          EXPECT_EQ(shape(target.root()), "before") << allowed;
        } else {
          EXPECT_EQ(used, block.size());
          EXPECT_TRUE(complete);
          EXPECT_EQ(save_bytes(target), block);
        }
      },
      [&] { used = target.load(view, &complete); }, threw);
}

// Every operation that makes something reports a failed allocation by its result and leaves no
// half-made entry behind.
struct out_of_memory_case {
  const char* what;
  void (*prepare)(CInMemStorage&);
  bool (*op)(CInMemStorage&);
};

const std::string long_text(100, 'x');
const char long_name[] = "a name longer than a short string keeps";

class OutOfMemory : public ::testing::TestWithParam<out_of_memory_case> {};

TEST_P(OutOfMemory, ReportsFailureAndLeavesNoHalfMadeEntry) {
  CInMemStorage s;
  s.put_int("before", 1);
  if (GetParam().prepare) GetParam().prepare(s);
  const std::string prepared = shape(s.root());
  bool ok = false;
  bool threw = false;
  for_each_failure_point(
      [&](long allowed, bool failed) {
        EXPECT_FALSE(threw) << allowed;
        if (failed) {
          EXPECT_FALSE(ok) << allowed;
          EXPECT_EQ(shape(s.root()), prepared) << allowed;
        } else {
          EXPECT_TRUE(ok);
        }
      },
      [&] { ok = GetParam().op(s); }, threw);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, OutOfMemory,
    ::testing::Values(
        out_of_memory_case{"put_long_value", nullptr,
                           [](CInMemStorage& s) { return s.put_str("v", long_text); }},
        out_of_memory_case{"put_under_a_long_name", nullptr,
                           [](CInMemStorage& s) { return s.put_int(long_name, 1); }},
        out_of_memory_case{"open_new_section", nullptr,
                           [](CInMemStorage& s) { return s.open_section(long_name, nullptr, true) != nullptr; }},
        // A new array does not replace the value under its name until it is made.
        out_of_memory_case{"array_over_a_value", [](CInMemStorage& s) { s.put_int("a", 2); },
                           [](CInMemStorage& s) {
                             CSSection* first = nullptr;
                             return s.begin_write_array("a", nullptr, &first) != nullptr;
                           }},
        out_of_memory_case{"append_section",
                           [](CInMemStorage& s) {
                             CSSection* first = nullptr;
                             s.begin_write_array("a", nullptr, &first);
                           },
                           [](CInMemStorage& s) {
                             CSSection* first = nullptr;
                             auto* array = static_cast<CSSectionsArray*>(s.root().find("a"));
                             return CInMemStorage::append_section(array, &first);
                           }},
        out_of_memory_case{"put_values_array", nullptr,
                           [](CInMemStorage& s) { return s.put_values_array(long_name, kind_bytes) != nullptr; }},
        out_of_memory_case{"append_to_values_array", [](CInMemStorage& s) { s.put_values_array("a", kind_string); },
                           [](CInMemStorage& s) {
                             auto* array = static_cast<CSValuesArray*>(s.root().find("a"));
                             return array->append(fake_memblock_t(long_text.data(), 100));
                           }},
        out_of_memory_case{"get_long_string", [](CInMemStorage& s) { s.put_str("v", long_text); },
                           [](CInMemStorage& s) {
                             std::string out;
                             return s.get_str("v", out) && out == long_text;
                           }},
        out_of_memory_case{"get_long_wide_string", [](CInMemStorage& s) { s.put_wstr("v", std::u16string(60, u'w')); },
                           [](CInMemStorage& s) {
                             std::u16string out;
                             return s.get_wstr("v", out) && out.size() == 60;
                           }}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace serialization::StorageNamed::InMemStorageSpace
