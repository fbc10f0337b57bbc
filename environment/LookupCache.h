// The agent's lookup cache: which manifest files may describe a web domain.
//
// The agent keeps the cache in the shared section "KX_VLT_LOOKUP_CACHE". This component only reads
// it: the domain key of the page URL picks one of 128 buckets, whose chain of records names the
// manifest files. The layout (byte offsets from the start of the section, little-endian; every
// offset field is such a byte offset, 0 meaning none; texts are NUL-terminated 8-bit strings):
//
//   552   128 x 4   URL buckets: offset of each bucket's first record
//   1372  4 each    directory table: offset of each directory text
//   record (21 bytes, packed): key text, directory index, file name text, a further text (unused
//   here), alien flag (1 byte), next record of the bucket
//
// The section comes from another process and is read without a lock, so every offset, index and
// text is checked against the section's real size: a record outside it ends the walk, an entry whose
// texts cannot be read is left out, and a chain that loops ends. The section is opened read-only:
// this component never writes into the agent's index. What one lookup takes is capped (below), so
// a damaged or hostile section cannot make the browser's thread build a huge result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lookupcache {

inline constexpr std::uint32_t url_buckets_offset = 552;
inline constexpr std::uint32_t caption_buckets_offset = 40;
inline constexpr std::uint32_t bucket_count = 128;
inline constexpr std::uint32_t directories_offset = 1372;
inline constexpr std::uint32_t record_size = 21;
inline constexpr std::string_view alien_prefix = "alien|";

// Caps of one lookup. A key, directory or file name text longer than max_text_bytes (without its
// NUL) is not read: its record is left out. At most max_chain_records records of a chain are
// walked, at most max_entries entries are taken, and an entry that would make the joined result
// longer than max_result_bytes is left out with every later one; a cut result is traced.
inline constexpr std::size_t max_text_bytes = 2048;
inline constexpr std::size_t max_chain_records = 65536;
inline constexpr std::size_t max_entries = 512;
inline constexpr std::size_t max_result_bytes = 256 * 1024;

// Start with 10000, XOR in every byte of the key, keep the low 7 bits.
std::uint32_t bucket_of(std::string_view key);

// The entry texts ("alien|" when flagged, then directory and file name) of the records of |key| in
// chain order, each once, within the caps above (counting a line feed between entries towards
// max_result_bytes). An empty key takes every record of its bucket. |cut| (when given) tells
// whether a cap left records out.
std::vector<std::string> find_entries(std::span<const std::uint8_t> section, std::string_view key,
                                      bool* cut = nullptr);

// The manifest file names for |url|'s domain key, joined by line feeds; empty when there are none.
// With |traceOn| the domain is traced ("find for: '%s'").
std::u16string cached_url(std::span<const std::uint8_t> section, std::u16string_view url, bool traceOn);

#if defined(_WIN32)
// The same over the agent's section, opened for this one lookup; empty when it does not exist.
std::u16string cached_url(std::u16string_view url, bool traceOn);
#endif

// One record as the agent stand-in and tests write it.
struct lookup_record_t {
  std::string key;
  std::uint32_t dir = 0;
  std::string file;
  bool alien = false;
};

// Writes a section in the agent's layout: header with both bucket tables, the directory table,
// then texts and records. Records of one bucket are chained in the order they were added.
class lookup_section_writer_t {
 public:
  explicit lookup_section_writer_t(std::vector<std::string> directories);
  void add(const lookup_record_t& record);
  std::vector<std::uint8_t> bytes() const;

 private:
  std::vector<std::string> directories_;
  std::vector<lookup_record_t> records_;
};

}  // namespace lookupcache
