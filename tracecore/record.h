// The trace file format: a plain-text header, then binary records
//   u32 thread id | u8 kind | u16 text length n | n bytes of enciphered UTF-8 text
// little-endian, unpadded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tracecore {

enum record_kind : char {
  kind_line = 'U',
  kind_error = 'E',
  kind_enter = '>',
  kind_leave = '<',
  kind_date = 't',
  kind_time = 'T',
  kind_newrun = 'N',
};

constexpr std::size_t kRecordHeaderSize = 7;
constexpr std::size_t kMaxRecordText = 0xFFFF;
// Record buffers of this size or more come from the heap, smaller ones from the stack.
constexpr std::size_t kStackRecordLimit = 350;

bool is_record_kind(char kind) noexcept;

// Writes one record (text cut to kMaxRecordText bytes) into |out|, which must hold
// record_size(text.size()) bytes; returns the bytes written.
std::size_t record_size(std::size_t text_size) noexcept;
std::size_t encode_record(std::uint32_t thread, char kind, std::string_view text, std::uint8_t* out) noexcept;

struct decoded_record_t {
  std::size_t offset = 0;  // of the record in the file
  std::uint32_t thread = 0;
  char kind = 0;
  std::string text;  // deciphered
};

// A decoded trace file. Decoding never reads past the bytes given; where it stops early, |stop|
// says why and |stop_offset| where.
struct decoded_file_t {
  std::vector<std::string> header;  // header lines without their "\r\n", up to and with "."
  std::vector<decoded_record_t> records;
  std::string stop;  // empty when the file decoded to its end
  std::size_t stop_offset = 0;
};

decoded_file_t decode_file(const std::uint8_t* data, std::size_t size);

}  // namespace tracecore
