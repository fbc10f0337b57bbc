// The text line that the console and debugger outputs show for one record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tracecore {

constexpr int kDefaultAttribute = 7;
constexpr int kErrorAttribute = 12;

// The console colour a text's marker carries ("'`I0E`'" gives 14), or nothing when the text has no
// well-formed marker with a value from 0 to 15.
std::optional<int> colour_marker(std::string_view text) noexcept;

struct window_line_t {
  bool shown = false;  // only lines and errors are shown
  int attribute = kDefaultAttribute;
  std::string text;
};

// Formats "0x%x %s %s() %s%s\n": thread, time text of the last "T" record, scope, then the text (with
// a valid marker removed) and, for errors, " ERR" and the system's message for the code.
// |error_message| is the message for the error's code (looked up by the caller).
window_line_t format_window_line(std::uint32_t thread, std::string_view time, std::string_view scope,
                                 char kind, std::string_view text, std::string_view error_message);

// The code at the start of an error record's text ("-2147467261 NSPTR(x)" gives -2147467261).
std::int32_t error_record_code(std::string_view text) noexcept;

}  // namespace tracecore
