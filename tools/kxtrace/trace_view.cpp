#include "tools/kxtrace/trace_view.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>

#include "tracecore/window_line.h"

namespace kxtrace {
namespace {

constexpr std::size_t kMarkerSize = 7;  // '`Ihh`'
constexpr int kStopAttribute = 14;

// Bytes below 0x20 (but the tab) and DEL come out as \xNN: a damaged or hostile file must not be
// able to move the cursor, clear the screen or end a line early.
void append_shown(std::string& out, std::string_view text) {
  static const char digits[] = "0123456789abcdef";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u == 0x7f) {
      out += "\\x";
      out += digits[u >> 4];
      out += digits[u & 15];
    } else {
      out += c;
    }
  }
}

// What a record shows as its text, and in which colour.
struct shown_text_t {
  std::string_view head;  // an error's code with its space
  std::string_view body;
  int attribute = tracecore::kDefaultAttribute;
};

shown_text_t shown_text(const tracecore::decoded_record_t& r, bool raw) {
  shown_text_t s;
  s.body = r.text;
  if (r.kind == tracecore::kind_error) {
    s.attribute = tracecore::kErrorAttribute;
    // "%d text": the marker, if any, follows the code.
    const auto space = s.body.find(' ');
    if (space != std::string_view::npos) {
      s.head = s.body.substr(0, space + 1);
      s.body.remove_prefix(space + 1);
    }
    if (!raw && tracecore::colour_marker(s.body)) s.body.remove_prefix(kMarkerSize);
    return s;
  }
  if (const auto colour = tracecore::colour_marker(s.body)) {
    s.attribute = *colour;
    if (!raw) s.body.remove_prefix(kMarkerSize);
  }
  return s;
}

bool passes(const tracecore::decoded_record_t& r, const shown_text_t& s, const view_options_t& o) {
  if (o.thread && r.thread != *o.thread) return false;
  if (o.errors_only && r.kind != tracecore::kind_error) return false;
  if (!o.grep.empty()) {
    std::string text(s.head);
    text += s.body;
    if (text.find(o.grep) == std::string::npos) return false;
  }
  return true;
}

void append_line(std::string& out, const std::string& line, int attribute, bool colour) {
  const std::string escape = colour ? ansi_colour(attribute) : std::string();
  out += escape;
  out += line;
  if (!escape.empty()) out += "\033[0m";
  out += '\n';
}

std::optional<std::uint32_t> parse_thread(const std::string& text) {
  std::string_view digits(text);
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : digits) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(v);
  }
  return value;
}

}  // namespace

std::string ansi_colour(int attribute) {
  if (attribute == tracecore::kDefaultAttribute || attribute < 0 || attribute > 15) return {};
  // Console attributes are blue = 1, green = 2, red = 4, intensity = 8; ANSI numbers red = 1,
  // green = 2, blue = 4, with the bright colours from 90.
  const int base = ((attribute & 1) ? 4 : 0) | (attribute & 2) | ((attribute & 4) ? 1 : 0);
  return "\033[" + std::to_string(((attribute & 8) ? 90 : 30) + base) + "m";
}

std::string format_file(const tracecore::decoded_file_t& file, const view_options_t& options) {
  std::string out;
  for (const auto& line : file.header) {
    append_shown(out, line);
    out += '\n';
  }
  std::string date = "--/--/--", time = "--:--:--.---";
  std::map<std::uint32_t, int> depth;  // per thread, counted over every record, shown or not
  char buf[96];
  std::string line;
  for (const auto& r : file.records) {
    if (r.kind == tracecore::kind_date) date = r.text;
    if (r.kind == tracecore::kind_time) time = r.text;
    int& d = depth[r.thread];
    if (r.kind == tracecore::kind_leave && d > 0) --d;
    const int shown_depth = d;
    if (r.kind == tracecore::kind_enter) ++d;
    if ((r.kind == tracecore::kind_date || r.kind == tracecore::kind_time) && !options.raw) continue;

    const auto s = shown_text(r, options.raw);
    if (!passes(r, s, options)) continue;
    line.clear();
    std::snprintf(buf, sizeof buf, "%08x ", r.thread);
    line += buf;
    append_shown(line, date);
    line += ' ';
    append_shown(line, time);
    line += ' ';
    line.append(static_cast<std::size_t>(shown_depth) * 2, ' ');
    append_shown(line, std::string_view(&r.kind, 1));
    if (r.kind == tracecore::kind_error) line += " ERR";
    if (!s.head.empty() || !s.body.empty()) {
      line += ' ';
      append_shown(line, s.head);
      append_shown(line, s.body);
    }
    append_line(out, line, s.attribute, options.colour);
  }
  if (!file.stop.empty()) {
    std::snprintf(buf, sizeof buf, "-- stopped at byte %zu: ", file.stop_offset);
    line = buf;
    line += file.stop;
    line += " (";
    line += std::to_string(file.records.size());
    line += " records read)";
    append_line(out, line, kStopAttribute, options.colour);
  }
  return out;
}

std::optional<show_args_t> parse_show_args(const std::vector<std::string>& args, std::string& error) {
  const auto fail = [&error](std::string why) {
    error = std::move(why);
    return std::optional<show_args_t>();
  };
  show_args_t a;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--raw") {
      a.options.raw = true;
    } else if (arg == "--no-color") {
      a.colour = colour_mode_t::never;
    } else if (arg == "--color") {
      a.colour = colour_mode_t::always;
    } else if (arg == "--errors") {
      a.options.errors_only = true;
    } else if (arg == "--thread") {
      if (!has_value) return fail("--thread needs a thread id");
      a.options.thread = parse_thread(args[++i]);
      if (!a.options.thread) return fail("--thread wants a hexadecimal thread id, not '" + args[i] + "'");
    } else if (arg == "--grep") {
      if (!has_value) return fail("--grep needs a text");
      a.options.grep = args[++i];
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return fail("unknown option " + arg);
    } else if (a.path.empty()) {
      a.path = arg;
    } else {
      return fail("one trace file at a time");
    }
  }
  if (a.path.empty()) return fail("no trace file given");
  return a;
}

bool use_colour(colour_mode_t mode, bool output_is_terminal, bool no_color_env) {
  if (mode == colour_mode_t::always) return true;
  if (mode == colour_mode_t::never) return false;
  return output_is_terminal && !no_color_env;
}

}  // namespace kxtrace
