// The fixed-layout records of the server call, as they lie in the agent's 4096-byte buffer, and the
// length-prefixed payloads of the block mappings. Both ends use these: the component writes records
// and reads incoming blocks, the agent reads records and payloads. Every read is bounded by the
// bytes actually mapped, because the other side is another process.
//
//   std::array<std::uint8_t, buffer_size> buf{};
//   write_record(buf, forward_record_t{pid, 0, target, msg, wp, lp, 0});
//   if (auto r = read_forward_record(buf)) ...
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ffipc {

inline constexpr std::uint32_t buffer_size = 4096;

enum record_kind : std::uint32_t {
  record_forward = 1,  // send a window message and return its result
  record_text = 2,     // act on a short string and the text mapping
  record_block = 3,    // take the block in the outgoing block mapping
};

// Offsets of the forwarded-message record.
inline constexpr std::uint32_t forward_result_offset = 28;
inline constexpr std::uint32_t forward_record_size = 32;
// The short string of a text record starts here and must end with its NUL inside the buffer.
inline constexpr std::uint32_t text_name_offset = 16;
inline constexpr std::uint32_t max_text_name = buffer_size - text_name_offset - 1;
inline constexpr std::uint32_t block_record_size = 20;

struct forward_record_t {
  std::uint32_t pid = 0;
  std::uint32_t reserved = 0;
  std::uint32_t target = 0;
  std::uint32_t message = 0;
  std::uint32_t wparam = 0;
  std::uint32_t lparam = 0;
  std::uint32_t result = 0;
  bool operator==(const forward_record_t&) const = default;
};

struct text_record_t {
  std::uint32_t pid = 0;
  std::uint32_t target = 0;
  std::uint32_t message = 0;
  std::string name;  // UTF-8
  bool operator==(const text_record_t&) const = default;
};

struct block_record_t {
  std::uint32_t pid = 0;
  std::uint32_t target = 0;
  std::uint32_t message = 0;
  std::uint32_t code = 0;
  bool operator==(const block_record_t&) const = default;
};

std::uint32_t get_u32(std::span<const std::uint8_t> bytes, std::uint32_t offset);  // 0 outside
void put_u32(std::span<std::uint8_t> bytes, std::uint32_t offset, std::uint32_t value);

// Each writer returns false, writing nothing, when the record does not fit |buffer|.
bool write_record(std::span<std::uint8_t> buffer, const forward_record_t& r);
bool write_record(std::span<std::uint8_t> buffer, const text_record_t& r);
bool write_record(std::span<std::uint8_t> buffer, const block_record_t& r);

// The kind at offset 0; 0 for a buffer too short to hold one.
std::uint32_t record_kind_of(std::span<const std::uint8_t> buffer);
// Each reader gives nothing when the kind differs or the record does not fit; a text record whose
// short string has no NUL inside the buffer is refused.
std::optional<forward_record_t> read_forward_record(std::span<const std::uint8_t> buffer);
std::optional<text_record_t> read_text_record(std::span<const std::uint8_t> buffer);
std::optional<block_record_t> read_block_record(std::span<const std::uint8_t> buffer);

// A block mapping: the length as 32-bit little-endian, then the bytes. Nothing when the length
// claims more bytes than the mapping holds.
std::optional<std::span<const std::uint8_t>> read_length_prefixed(std::span<const std::uint8_t> view);
// The text of the text mapping: the bytes up to the first NUL, or up to the end of the view.
std::string_view read_nul_terminated(std::span<const std::uint8_t> view);

}  // namespace ffipc
