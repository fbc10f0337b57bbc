#include "agentcomm/transport/ServerRecords.h"

#include <cstring>

namespace ffipc {

std::uint32_t get_u32(std::span<const std::uint8_t> b, std::uint32_t offset) {
  if (offset > b.size() || b.size() - offset < 4) return 0;
  return std::uint32_t{b[offset]} | std::uint32_t{b[offset + 1]} << 8 | std::uint32_t{b[offset + 2]} << 16 |
         std::uint32_t{b[offset + 3]} << 24;
}

void put_u32(std::span<std::uint8_t> b, std::uint32_t offset, std::uint32_t v) {
  if (offset > b.size() || b.size() - offset < 4) return;
  for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool write_record(std::span<std::uint8_t> b, const forward_record_t& r) {
  if (b.size() < forward_record_size) return false;
  const std::uint32_t fields[] = {record_forward, r.pid, r.reserved, r.target, r.message, r.wparam, r.lparam, r.result};
  for (std::uint32_t i = 0; i < 8; ++i) put_u32(b, 4 * i, fields[i]);
  return true;
}

bool write_record(std::span<std::uint8_t> b, const text_record_t& r) {
  if (r.name.find('\0') != std::string::npos) return false;
  if (b.size() < text_name_offset + 1 || r.name.size() > b.size() - text_name_offset - 1) return false;
  const std::uint32_t fields[] = {record_text, r.pid, r.target, r.message};
  for (std::uint32_t i = 0; i < 4; ++i) put_u32(b, 4 * i, fields[i]);
  std::memcpy(b.data() + text_name_offset, r.name.data(), r.name.size());
  b[text_name_offset + r.name.size()] = 0;
  return true;
}

bool write_record(std::span<std::uint8_t> b, const block_record_t& r) {
  if (b.size() < block_record_size) return false;
  const std::uint32_t fields[] = {record_block, r.pid, r.target, r.message, r.code};
  for (std::uint32_t i = 0; i < 5; ++i) put_u32(b, 4 * i, fields[i]);
  return true;
}

std::uint32_t record_kind_of(std::span<const std::uint8_t> b) { return get_u32(b, 0); }

std::optional<forward_record_t> read_forward_record(std::span<const std::uint8_t> b) {
  if (b.size() < forward_record_size || record_kind_of(b) != record_forward) return std::nullopt;
  return forward_record_t{get_u32(b, 4),  get_u32(b, 8),  get_u32(b, 12), get_u32(b, 16),
                          get_u32(b, 20), get_u32(b, 24), get_u32(b, 28)};
}

std::optional<text_record_t> read_text_record(std::span<const std::uint8_t> b) {
  if (b.size() <= text_name_offset || record_kind_of(b) != record_text) return std::nullopt;
  const auto* start = b.data() + text_name_offset;
  const auto* nul = static_cast<const std::uint8_t*>(std::memchr(start, 0, b.size() - text_name_offset));
  if (!nul) return std::nullopt;
  return text_record_t{get_u32(b, 4), get_u32(b, 8), get_u32(b, 12),
                       std::string(reinterpret_cast<const char*>(start), static_cast<std::size_t>(nul - start))};
}

std::optional<block_record_t> read_block_record(std::span<const std::uint8_t> b) {
  if (b.size() < block_record_size || record_kind_of(b) != record_block) return std::nullopt;
  return block_record_t{get_u32(b, 4), get_u32(b, 8), get_u32(b, 12), get_u32(b, 16)};
}

std::optional<std::span<const std::uint8_t>> read_length_prefixed(std::span<const std::uint8_t> view) {
  if (view.size() < 4) return std::nullopt;
  const std::uint32_t length = get_u32(view, 0);
  if (length > view.size() - 4) return std::nullopt;
  return view.subspan(4, length);
}

std::string_view read_nul_terminated(std::span<const std::uint8_t> view) {
  if (view.empty()) return {};
  const auto* p = reinterpret_cast<const char*>(view.data());
  const void* nul = std::memchr(p, 0, view.size());
  return std::string_view(p, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - p) : view.size());
}

}  // namespace ffipc
