#include "environment/LookupCache.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "manifest/Matching.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace lookupcache {

namespace {

// A bounds-checked reader over the section.
class section_reader_t {
 public:
  explicit section_reader_t(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool u32(std::uint64_t at, std::uint32_t& value) const {
    if (at > bytes_.size() || bytes_.size() - at < 4) return false;
    const std::uint8_t* p = bytes_.data() + at;
    value = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
    return true;
  }
  bool u8(std::uint64_t at, std::uint8_t& value) const {
    if (at >= bytes_.size()) return false;
    value = bytes_[at];
    return true;
  }
  // The NUL-terminated text at |at| (empty for offset 0); none when it does not end inside the
  // section within max_text_bytes.
  std::optional<std::string_view> text(std::uint32_t at) const {
    if (at == 0) return std::string_view();
    if (at >= bytes_.size()) return std::nullopt;
    const auto* start = reinterpret_cast<const char*>(bytes_.data() + at);
    const void* nul = std::memchr(start, 0, std::min<std::size_t>(bytes_.size() - at, max_text_bytes + 1));
    if (!nul) return std::nullopt;
    return std::string_view(start, static_cast<const char*>(nul) - start);
  }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
};

struct record_t {
  std::uint32_t key = 0, dir = 0, file = 0, extra = 0;
  std::uint8_t alien = 0;
  std::uint32_t next = 0;
};

bool read_record(const section_reader_t& s, std::uint32_t at, record_t& r) {
  if (at > s.size() || s.size() - at < record_size) return false;
  return s.u32(at, r.key) && s.u32(at + 4, r.dir) && s.u32(at + 8, r.file) && s.u32(at + 12, r.extra) &&
         s.u8(at + 16, r.alien) && s.u32(at + 17, r.next);
}

void put_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::uint32_t bucket_of(std::string_view key) {
  std::uint32_t h = 10000;
  for (char c : key) h ^= static_cast<std::uint8_t>(c);
  return h & (bucket_count - 1);
}

std::vector<std::string> find_entries(std::span<const std::uint8_t> section, std::string_view key, bool* cut) {
  std::vector<std::string> entries;
  if (cut) *cut = false;
  const section_reader_t s(section);
  std::uint32_t at = 0;
  if (!s.u32(url_buckets_offset + 4 * bucket_of(key), at)) return entries;
  std::unordered_set<std::string> seen;
  std::size_t result_bytes = 0;
  // A chain longer than the records the section can hold has looped.
  std::size_t steps = std::min(section.size() / record_size + 1, max_chain_records);
  for (; at != 0 && steps > 0; --steps) {
    record_t r;
    if (!read_record(s, at, r)) break;
    at = r.next;
    const auto record_key = s.text(r.key);
    if (!record_key || (!key.empty() && *record_key != key)) continue;
    std::uint32_t dir_at = 0;
    const auto file = s.text(r.file);
    if (!file || !s.u32(directories_offset + std::uint64_t{4} * r.dir, dir_at)) continue;
    const auto dir = s.text(dir_at);
    if (!dir) continue;
    std::string entry;
    entry.reserve((r.alien ? alien_prefix.size() : 0) + dir->size() + file->size());
    if (r.alien) entry += alien_prefix;
    entry += *dir;
    entry += *file;
    // Whole entries are compared: a name that merely occurs inside another one is a manifest of
    // its own.
    if (seen.count(entry)) continue;
    const std::size_t joined = result_bytes + (entries.empty() ? 0 : 1) + entry.size();
    if (entries.size() == max_entries || joined > max_result_bytes) {
      if (cut) *cut = true;
      return entries;
    }
    result_bytes = joined;
    seen.insert(entry);
    entries.push_back(std::move(entry));
  }
  // The chain goes on beyond the records a lookup walks.
  if (at != 0 && steps == 0 && cut && section.size() / record_size + 1 > max_chain_records) *cut = true;
  return entries;
}

std::u16string cached_url(std::span<const std::uint8_t> section, std::u16string_view url, bool traceOn) {
  std::u16string domain;
  manifest::urlKeys(url, nullptr, nullptr, nullptr, &domain);
  const std::string key = tracecore::to_utf8(domain);
  if (traceOn) KXTRACE("find for: '%s'", key.c_str());
  std::string joined;
  bool cut = false;
  const std::vector<std::string> entries = find_entries(section, key, &cut);
  if (cut) KXTRACE("'`I04`'lookup cache: %u entries for '%s', the rest left out", static_cast<unsigned>(entries.size()), key.c_str());
  for (const std::string& entry : entries) {
    if (!joined.empty()) joined += '\n';
    joined += entry;
  }
  return tracecore::to_utf16(joined);
}

lookup_section_writer_t::lookup_section_writer_t(std::vector<std::string> directories)
    : directories_(std::move(directories)) {}

void lookup_section_writer_t::add(const lookup_record_t& record) { records_.push_back(record); }

std::vector<std::uint8_t> lookup_section_writer_t::bytes() const {
  std::vector<std::uint8_t> b(directories_offset + 4 * directories_.size(), 0);
  put_u32(b, 4, 1373);  // the value the agent puts there
  std::unordered_map<std::string, std::uint32_t> texts;
  auto text = [&](const std::string& t) -> std::uint32_t {
    auto [it, fresh] = texts.try_emplace(t, static_cast<std::uint32_t>(b.size()));
    if (fresh) b.insert(b.end(), t.c_str(), t.c_str() + t.size() + 1);
    return it->second;
  };
  for (std::size_t i = 0; i < directories_.size(); ++i) put_u32(b, directories_offset + 4 * i, text(directories_[i]));
  std::uint32_t tails[bucket_count] = {};
  for (const lookup_record_t& r : records_) {
    const std::uint32_t key = text(r.key), file = text(r.file);
    const auto at = static_cast<std::uint32_t>(b.size());
    b.resize(b.size() + record_size, 0);
    put_u32(b, at, key);
    put_u32(b, at + 4, r.dir);
    put_u32(b, at + 8, file);
    b[at + 16] = r.alien ? 1 : 0;
    const std::uint32_t bucket = bucket_of(r.key);
    if (tails[bucket])
      put_u32(b, tails[bucket] + 17, at);
    else
      put_u32(b, url_buckets_offset + 4 * bucket, at);
    tails[bucket] = at;
  }
  return b;
}

}  // namespace lookupcache
