// Byte blocks for message payloads and flattened storages.
//
//   CMemoryObjectEx payload;                 // owns its bytes
//   payload.assign(bytes, length);           // copies
//   fake_memblock_t view(&value, 4);         // borrows the caller's bytes, copies nothing
//   storage.put_value("id", view);           // the bytes are copied once, into the payload
//
// Owning blocks carry credentials (a fill-in answer holds the user's password): they overwrite their
// bytes with zeros before they give the memory back or move it into another block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>

namespace serialization {

// Overwrites |n| bytes with zeros through volatile stores, which the compiler may not drop as dead
// stores to memory that is about to be freed. Words where the bytes are aligned for them.
inline void secure_wipe(void* bytes, std::size_t n) noexcept {
  auto* p = static_cast<volatile std::uint8_t*>(bytes);
  for (; n && (reinterpret_cast<std::uintptr_t>(p) % alignof(std::uint64_t)) != 0; --n) *p++ = 0;
  auto* w = reinterpret_cast<volatile std::uint64_t*>(p);
  for (; n >= sizeof(std::uint64_t); n -= sizeof(std::uint64_t)) *w++ = 0;
  p = reinterpret_cast<volatile std::uint8_t*>(w);
  for (; n; --n) *p++ = 0;
}

// The allocator behind owning blocks. Allocation failure gives a null pointer, never an exception,
// so that saving a storage can report it as a zero length.
struct aloocator_cpp {
  static void* allocate(std::uint32_t length) noexcept { return ::operator new(length, std::nothrow); }
  static void release(void* bytes) noexcept { ::operator delete(bytes); }
};

// What owning blocks and views have in common.
class memoryblock_i {
 public:
  virtual ~memoryblock_i() = default;
  // The bytes, and their number through |size| when asked. A view has no writable bytes.
  virtual std::uint8_t* data(std::uint32_t* size = nullptr) = 0;
  virtual const std::uint8_t* data(std::uint32_t* size = nullptr) const = 0;
  // Takes the other block's bytes (an owning block copies them, a view points at them).
  virtual bool assign(const memoryblock_i& other) = 0;
  // A null pointer or a zero length empties the block.
  virtual bool assign(const void* bytes, std::uint32_t length) = 0;
  // Drops the old bytes and makes room for |length| uninitialised ones; null when that fails.
  virtual std::uint8_t* allocate(std::uint32_t length) = 0;
  virtual void release() = 0;

  std::uint32_t size() const {
    std::uint32_t n = 0;
    data(&n);
    return n;
  }
  std::span<const std::uint8_t> bytes() const {
    std::uint32_t n = 0;
    const std::uint8_t* p = data(&n);
    return {p, p ? n : 0u};
  }

 protected:
  memoryblock_i() = default;
  memoryblock_i(const memoryblock_i&) = default;
  memoryblock_i& operator=(const memoryblock_i&) = default;
};

// An owning byte block. Blocks of up to |inline_capacity| bytes (integers, flags, rectangles, short
// texts) live inside the object and cost no allocation. Bytes are wiped before they are freed,
// reallocated or moved out (the source of a move keeps no copy).
template <class Allocator>
class memoryblock_T : public memoryblock_i {
 public:
  static constexpr std::uint32_t inline_capacity = 40;

  memoryblock_T() = default;
  memoryblock_T(const void* bytes, std::uint32_t length) { assign(bytes, length); }
  memoryblock_T(const memoryblock_T& other) : memoryblock_i() { assign(other.data_, other.size_); }
  memoryblock_T(memoryblock_T&& other) noexcept { take(other); }
  memoryblock_T& operator=(const memoryblock_T& other) {
    if (this != &other) assign(other.data_, other.size_);
    return *this;
  }
  memoryblock_T& operator=(memoryblock_T&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ~memoryblock_T() override { free_bytes(); }

  std::uint8_t* data(std::uint32_t* size = nullptr) override {
    if (size) *size = size_;
    return data_;
  }
  const std::uint8_t* data(std::uint32_t* size = nullptr) const override {
    if (size) *size = size_;
    return data_;
  }
  bool assign(const memoryblock_i& other) override {
    if (&other == this) return true;
    std::uint32_t n = 0;
    const std::uint8_t* p = other.data(&n);
    return assign(p, n);
  }
  bool assign(const void* bytes, std::uint32_t length) override {
    if (!bytes || length == 0) {
      release();
      return true;
    }
    if (length == size_) {
      std::memmove(data_, bytes, length);  // the source may lie inside this block
      return true;
    }
    const auto* from = static_cast<const std::uint8_t*>(bytes);
    if (data_ && from >= data_ && from < data_ + size_) {
      // A part of this block's own bytes: keep them until the new ones are filled.
      memoryblock_T copy(from, length);
      if (copy.size_ != length) return false;
      *this = std::move(copy);
      return true;
    }
    if (!allocate(length)) return false;
    std::memcpy(data_, from, length);
    return true;
  }
  std::uint8_t* allocate(std::uint32_t length) override {
    release();
    if (length == 0) return nullptr;
    data_ = length <= inline_capacity ? inline_ : static_cast<std::uint8_t*>(Allocator::allocate(length));
    size_ = data_ ? length : 0;
    return data_;
  }
  void release() override {
    free_bytes();
    data_ = nullptr;
    size_ = 0;
  }

 private:
  void free_bytes() {
    if (!data_) return;
    secure_wipe(data_, size_);
    if (data_ != inline_) Allocator::release(data_);
  }
  void take(memoryblock_T& other) {
    size_ = other.size_;
    if (other.data_ == other.inline_) {
      std::memcpy(inline_, other.inline_, size_);
      secure_wipe(other.inline_, size_);
      data_ = inline_;
    } else {
      data_ = other.data_;
    }
    other.data_ = nullptr;
    other.size_ = 0;
  }

  std::uint8_t* data_ = nullptr;
  std::uint32_t size_ = 0;
  alignas(8) std::uint8_t inline_[inline_capacity];
};

// A non-owning, read-only view over the caller's bytes. The bytes must outlive the view.
class fake_memblock_t final : public memoryblock_i {
 public:
  fake_memblock_t() = default;
  fake_memblock_t(const void* bytes, std::uint32_t length)
      : data_(static_cast<const std::uint8_t*>(bytes)), size_(bytes ? length : 0) {}

  std::uint8_t* data(std::uint32_t* size = nullptr) override {
    if (size) *size = 0;
    return nullptr;
  }
  const std::uint8_t* data(std::uint32_t* size = nullptr) const override {
    if (size) *size = size_;
    return data_;
  }
  bool assign(const memoryblock_i& other) override {
    std::uint32_t n = 0;
    const std::uint8_t* p = other.data(&n);
    return assign(p, n);
  }
  // Points the view at the bytes; nothing is copied.
  bool assign(const void* bytes, std::uint32_t length) override {
    data_ = (bytes && length) ? static_cast<const std::uint8_t*>(bytes) : nullptr;
    size_ = data_ ? length : 0;
    return true;
  }
  // A view cannot hold bytes of its own.
  std::uint8_t* allocate(std::uint32_t) override {
    release();
    return nullptr;
  }
  void release() override {
    data_ = nullptr;
    size_ = 0;
  }

 private:
  const std::uint8_t* data_ = nullptr;
  std::uint32_t size_ = 0;
};

// The payload of a value.
class CMemoryObjectEx : public memoryblock_T<aloocator_cpp> {
 public:
  using memoryblock_T<aloocator_cpp>::memoryblock_T;
};

}  // namespace serialization

