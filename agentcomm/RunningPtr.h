// Bounded cursors over a flattened storage, and the packed counts of the block format.
//
// A packed count keeps its width in the two low bits of its first byte and the value above them:
// below 0x40 one byte, below 0x4000 two, below 0x40000000 four, else eight, little-endian.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace serialization {

namespace StorageNamed::InMemStorageSpace {
class entry_arena_t;
}

static_assert(std::endian::native == std::endian::little, "packed counts are copied as little-endian bytes");

// A cursor that never moves past |capacity| bytes from its start. Readers also record whether an
// entry stopped early (a read that did not fit, an unknown entry type, too deep a nesting, a count
// out of bounds), how deep the current entry sits and how many more entries they may make.
template <class Byte>
class basic_running_ptr {
 public:
  basic_running_ptr(Byte* start, std::uint32_t capacity) : start_(start), current_(start), capacity_(start ? capacity : 0) {}

  Byte* current() const { return current_; }
  std::uint32_t remaining() const { return capacity_ - static_cast<std::uint32_t>(current_ - start_); }
  // Moves on by |n| only while that stays inside the capacity.
  bool advance(std::uint32_t n) {
    if (n > remaining()) return false;
    current_ += n;
    return true;
  }

  bool stopped() const { return stopped_; }
  void stop() { stopped_ = true; }
  std::uint32_t depth = 0;
  // Entries (section entries and array elements) that the read may still make; a load sets it to
  // its limit, and a count above what is left is refused before anything is made for it.
  std::uint32_t entries_left = 0xFFFFFFFFu;
  // Where the entries that a load makes get their memory (not owned); null: one heap block each.
  StorageNamed::InMemStorageSpace::entry_arena_t* arena = nullptr;

 private:
  Byte* start_;
  Byte* current_;
  std::uint32_t capacity_;
  bool stopped_ = false;
};

using running_ptr = basic_running_ptr<std::uint8_t>;             // writes
using const_running_ptr = basic_running_ptr<const std::uint8_t>;  // reads

// Nesting of sections deeper than this stops the read: a peer's block cannot exhaust the stack.
inline constexpr std::uint32_t max_nesting = 64;

// Bytes that the packed form of |value| takes.
constexpr std::uint32_t packed_width(std::uint64_t value) {
  return value < 0x40 ? 1 : value < 0x4000 ? 2 : value < 0x40000000 ? 4 : 8;
}

inline bool write_packed(running_ptr& cursor, std::uint64_t value) {
  const std::uint32_t width = packed_width(value);
  if (cursor.remaining() < width) return false;
  std::uint8_t* p = cursor.current();
  // The low bytes of a little-endian number; fixed sizes so that each copy is one store.
  if (width == 1) {
    p[0] = static_cast<std::uint8_t>(value << 2);
  } else if (width == 2) {
    const auto stored = static_cast<std::uint16_t>((value << 2) | 1);
    std::memcpy(p, &stored, 2);
  } else if (width == 4) {
    const auto stored = static_cast<std::uint32_t>((value << 2) | 2);
    std::memcpy(p, &stored, 4);
  } else {
    const std::uint64_t stored = (value << 2) | 3;
    std::memcpy(p, &stored, 8);
  }
  return cursor.advance(width);
}

// Reads a packed count; false, with nothing consumed, when it does not fit. Eight-byte counts keep
// their low 32 bits.
inline bool read_packed(const_running_ptr& cursor, std::uint32_t& value) {
  const std::uint32_t left = cursor.remaining();
  if (left < 1) return false;
  const std::uint8_t* p = cursor.current();
  switch (p[0] & 3) {
    case 0:
      value = p[0] >> 2;
      return cursor.advance(1);
    case 1: {
      if (left < 2) return false;
      std::uint16_t stored;
      std::memcpy(&stored, p, 2);
      value = stored >> 2;
      return cursor.advance(2);
    }
    case 2: {
      if (left < 4) return false;
      std::uint32_t stored;
      std::memcpy(&stored, p, 4);
      value = stored >> 2;
      return cursor.advance(4);
    }
    default: {
      if (left < 8) return false;
      std::uint64_t stored;
      std::memcpy(&stored, p, 8);
      value = static_cast<std::uint32_t>(stored >> 2);
      return cursor.advance(8);
    }
  }
}

}  // namespace serialization
