#include "tracecore/record.h"

#include <cstring>

#include "tracecore/cipher.h"

namespace tracecore {

bool is_record_kind(char kind) noexcept {
  switch (kind) {
    case kind_line: case kind_error: case kind_enter: case kind_leave:
    case kind_date: case kind_time: case kind_newrun: case 'D':
      return true;
    default:
      return false;
  }
}

std::size_t record_size(std::size_t text_size) noexcept {
  return kRecordHeaderSize + (text_size > kMaxRecordText ? kMaxRecordText : text_size);
}

std::size_t encode_record(std::uint32_t thread, char kind, std::string_view text, std::uint8_t* out) noexcept {
  const std::size_t n = text.size() > kMaxRecordText ? kMaxRecordText : text.size();
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(thread >> (8 * i));
  out[4] = static_cast<std::uint8_t>(kind);
  out[5] = static_cast<std::uint8_t>(n);
  out[6] = static_cast<std::uint8_t>(n >> 8);
  if (n) std::memcpy(out + kRecordHeaderSize, text.data(), n);
  cfb_encipher(out + kRecordHeaderSize, n);
  return kRecordHeaderSize + n;
}

decoded_file_t decode_file(const std::uint8_t* data, std::size_t size) {
  decoded_file_t file;
  std::size_t pos = 0;
  static constexpr std::string_view kMagic = "trace3\r\n";
  if (size < kMagic.size() || std::memcmp(data, kMagic.data(), kMagic.size()) != 0) {
    file.stop = "not a trace file: it does not start with \"trace3\"";
    return file;
  }
  // Header lines run up to and with the line ".".
  bool header_done = false;
  while (pos < size) {
    const void* nl = std::memchr(data + pos, '\n', size - pos);
    if (!nl) break;
    const std::size_t end = static_cast<const std::uint8_t*>(nl) - data;
    std::size_t len = end - pos;
    if (len && data[pos + len - 1] == '\r') --len;
    file.header.emplace_back(reinterpret_cast<const char*>(data + pos), len);
    pos = end + 1;
    if (file.header.back() == ".") { header_done = true; break; }
  }
  if (!header_done) {
    file.stop = "header ends before its closing \".\" line";
    file.stop_offset = pos;
    return file;
  }
  while (pos < size) {
    if (size - pos < kRecordHeaderSize) {
      file.stop = "truncated record header";
      file.stop_offset = pos;
      return file;
    }
    decoded_record_t rec;
    rec.offset = pos;
    rec.thread = data[pos] | (data[pos + 1] << 8) | (data[pos + 2] << 16) |
                 (static_cast<std::uint32_t>(data[pos + 3]) << 24);
    rec.kind = static_cast<char>(data[pos + 4]);
    const std::size_t n = data[pos + 5] | (data[pos + 6] << 8);
    if (!is_record_kind(rec.kind)) {
      file.stop = "unknown record kind";
      file.stop_offset = pos;
      return file;
    }
    if (size - pos - kRecordHeaderSize < n) {
      file.stop = "truncated record text";
      file.stop_offset = pos;
      return file;
    }
    rec.text.assign(reinterpret_cast<const char*>(data + pos + kRecordHeaderSize), n);
    cfb_decipher(reinterpret_cast<std::uint8_t*>(rec.text.data()), n);
    pos += kRecordHeaderSize + n;
    file.records.push_back(std::move(rec));
  }
  return file;
}

}  // namespace tracecore
