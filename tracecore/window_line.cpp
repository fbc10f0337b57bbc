#include "tracecore/window_line.h"

#include <cstdio>
#include <cstdlib>

namespace tracecore {
namespace {

int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<int> colour_marker(std::string_view t) noexcept {
  if (t.size() <= 6 || t.size() < 7) return std::nullopt;
  if (t[0] != '\'' || t[1] != '`' || t[2] != 'I' || t[5] != '`' || t[6] != '\'') return std::nullopt;
  const int hi = hex_value(t[3]), lo = hex_value(t[4]);
  if (hi < 0 || lo < 0) return std::nullopt;
  const int value = hi * 16 + lo;
  if (value > 15) return std::nullopt;
  return value;
}

std::int32_t error_record_code(std::string_view text) noexcept {
  const std::string head(text.substr(0, text.find(' ')));
  return static_cast<std::int32_t>(std::strtol(head.c_str(), nullptr, 10));
}

window_line_t format_window_line(std::uint32_t thread, std::string_view time, std::string_view scope,
                                 char kind, std::string_view text, std::string_view error_message) {
  window_line_t line;
  if (kind != 'U' && kind != 'E' && kind != 'D') return line;
  line.shown = true;
  std::string body;
  std::string tail;
  if (kind == 'E') {
    line.attribute = kErrorAttribute;
    body = std::string(text);
    tail = " ERR";
    if (!error_message.empty()) {
      tail += ": ";
      tail += error_message;
    }
  } else {
    if (auto colour = colour_marker(text)) {
      line.attribute = *colour;
      text.remove_prefix(7);
    }
    body = std::string(text);
  }
  char head[64];
  std::snprintf(head, sizeof head, "0x%x ", thread);
  line.text.reserve(body.size() + scope.size() + time.size() + 32);
  line.text += head;
  line.text += time;
  line.text += ' ';
  line.text += scope;
  line.text += "() ";
  line.text += body;
  line.text += tail;
  line.text += '\n';
  return line;
}

}  // namespace tracecore
