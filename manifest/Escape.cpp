#include "manifest/Escape.h"

#include <cstdint>

namespace manifest {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Shared by the caption and name unescapes: |word| maps a word between "^" and ";" to its text,
// or returns false for an unknown word.
template <class WordFn>
std::string caretUnescape(std::string_view text, WordFn word) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != '^') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 == text.size()) {  // a final caret stays
      out += '^';
      break;
    }
    const std::size_t end = text.find(';', i + 1);
    if (end == std::string_view::npos) {  // no word end: the rest without the caret
      out.append(text.substr(i + 1));
      break;
    }
    const std::string_view w = text.substr(i + 1, end - i - 1);
    if (!word(w, out)) {
      out.append(w);
      out += ';';
    }
    i = end + 1;
  }
  return out;
}

}  // namespace

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the UTF-8 sequence at |text|[i] (0 when the bytes there are broken: a stray or
// missing continuation byte, an overlong or too large form); |allowed| says whether XML allows the
// character (not a surrogate, U+FFFE or U+FFFF).
std::size_t utf8Sequence(std::string_view text, std::size_t i, bool& allowed) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = b(0);
  const std::size_t n = c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  std::uint32_t cp = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(k) & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  allowed = !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE && cp != 0xFFFF;
  return n;
}

}  // namespace

// Besides the five markup characters: tab, line feed and carriage return become character
// references, so that an attribute value reads back with them instead of spaces; the characters XML
// 1.0 forbids (NUL and the other C0 controls, U+FFFE, U+FFFF, surrogates and broken UTF-8, which
// page texts can carry) are replaced by U+FFFD, so that the text stays readable XML.
void appendXmlEscaped(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      bool allowed = false;
      const std::size_t n = utf8Sequence(text, i, allowed);
      if (n == 0) {
        out += kReplacement;  // one for every broken byte
        ++i;
      } else {
        if (allowed) out.append(text.substr(i, n));
        else out += kReplacement;
        i += n;
      }
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (u < 0x20) out += kReplacement;
        else out += c;
    }
    ++i;
  }
}

std::string xmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendXmlEscaped(out, text);
  return out;
}

std::string percentEscape(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 0x01 && b <= 0x1F) || c == '%') {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::string percentUnescape(std::string_view text) {
  // Most texts carry no escape at all: copy them in one go.
  std::size_t first = text.find('%');
  if (first == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  out.append(text.substr(0, first));
  for (std::size_t i = first; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string captionEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == ':') out += "^2dot;";
    else if (c == '^') out += "^up;";
    else out += c;
  }
  return out;
}

std::string captionUnescape(std::string_view text) {
  return caretUnescape(text, [](std::string_view w, std::string& out) {
    if (w == "up") out += '^';
    else if (w == "2dot") out += ':';
    else return false;
    return true;
  });
}

std::string nameEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '.': out += "^dot;"; break;
      case ':': out += "^2dot;"; break;
      case '@': out += "^at;"; break;
      case '^': out += "^up;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string nameUnescape(std::string_view text) {
  return caretUnescape(text, [](std::string_view w, std::string& out) {
    if (w == "up") out += '^';
    else if (w == "at") out += '@';
    else if (w == "dot") out += '.';
    else if (w == "2dot") out += ':';
    else return false;
    return true;
  });
}

std::string joinNames(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) out += ':';
    out += nameEscape(names[i]);
  }
  return out;
}

std::vector<std::string> splitNames(std::string_view text) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  std::size_t start = 0;
  while (true) {
    const std::size_t colon = text.find(':', start);
    out.push_back(nameUnescape(text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start)));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  return out;
}

}  // namespace manifest
