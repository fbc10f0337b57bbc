// Text that holds a secret (a password, a profile value on its way into a page): its characters are
// overwritten before the memory is given back, including the string's inline buffer and what a move
// leaves behind.
#pragma once

#include <string>
#include <string_view>

#include "tracecore/utf.h"

namespace tracecore {

// Overwrites every character |s| can hold, then empties it.
inline void wipe(std::u16string& s) noexcept {
  s.resize(s.capacity());
  volatile char16_t* p = s.data();
  for (std::size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}
inline void wipe(std::string& s) noexcept {
  s.resize(s.capacity());
  volatile char* p = s.data();
  for (std::size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

class secret_u16_t {
 public:
  secret_u16_t() = default;
  secret_u16_t(std::u16string_view text) : text_(text) {}
  secret_u16_t(const char16_t* text) : text_(text) {}
  // From UTF-8 (files and tests; the agent's values arrive as UTF-16 and stay so).
  secret_u16_t(const char* utf8) : text_(to_utf16(utf8)) {}
  secret_u16_t(const std::string& utf8) : text_(to_utf16(utf8)) {}
  secret_u16_t(const secret_u16_t&) = default;
  secret_u16_t(secret_u16_t&& other) noexcept : text_(std::move(other.text_)) { wipe(other.text_); }
  secret_u16_t& operator=(const secret_u16_t& other) {
    if (this != &other) {
      wipe(text_);
      text_ = other.text_;
    }
    return *this;
  }
  secret_u16_t& operator=(secret_u16_t&& other) noexcept {
    if (this != &other) {
      wipe(text_);
      text_ = std::move(other.text_);
      wipe(other.text_);
    }
    return *this;
  }
  ~secret_u16_t() { wipe(text_); }

  std::u16string_view view() const { return text_; }
  const char16_t* c_str() const { return text_.c_str(); }
  bool empty() const { return text_.empty(); }
  bool operator==(std::u16string_view other) const { return view() == other; }

 private:
  std::u16string text_;
};

}  // namespace tracecore
