#include "tracecore/utf.h"

#include <cstdint>

namespace tracecore {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void append_utf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

}  // namespace

std::string to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else {
        c = kReplacement;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      c = kReplacement;
    }
    append_utf8(out, c);
  }
  return out;
}

std::u16string to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const std::uint8_t b = p[i];
    int extra = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b < 0x80) { c = b; }
    else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; min = 0x10000; }
    else { append_utf16(out, kReplacement); ++i; continue; }
    size_t j = 1;
    for (; j <= static_cast<size_t>(extra); ++j) {
      if (i + j >= n || (p[i + j] & 0xC0) != 0x80) break;
      c = (c << 6) | (p[i + j] & 0x3F);
    }
    if (j <= static_cast<size_t>(extra)) {  // truncated sequence
      append_utf16(out, kReplacement);
      i += j;
      continue;
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    append_utf16(out, c);
    i += extra + 1;
  }
  return out;
}

}  // namespace tracecore
