// Readable lines of a decoded trace file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tracecore/record.h"

namespace kxtrace {

struct view_options_t {
  bool raw = false;     // keep the colour markers in the texts and show the date and time records
  bool colour = false;  // colour each line by its marker with ANSI escapes
  std::optional<std::uint32_t> thread;  // only records of this thread
  std::string grep;                     // only records whose shown text contains this
  bool errors_only = false;             // only error records
};

// The header, then one line per record that passes the filters: thread, date and time, the scope
// depth as indentation, kind and text. A text's colour marker is taken out of the text and, with
// |colour|, gives the line its colour; error records say "ERR" and are shown in the error colour.
// Control characters in texts are shown escaped, so a damaged file cannot drive the terminal.
// Ends with a line saying where decoding stopped when it stopped early.
std::string format_file(const tracecore::decoded_file_t& file, const view_options_t& options = {});

// The ANSI escape that selects a console colour (0 to 15); empty for the default colour 7.
std::string ansi_colour(int attribute);

enum class colour_mode_t { automatic, always, never };

struct show_args_t {
  view_options_t options;
  colour_mode_t colour = colour_mode_t::automatic;
  std::string path;
};

// The arguments of "kxtrace show": [--raw] [--no-color|--color] [--thread ID] [--grep TEXT] [--errors]
// FILE. The thread ID is hexadecimal, as the lines show it. Nothing on a malformed command line,
// with |error| saying what is wrong.
std::optional<show_args_t> parse_show_args(const std::vector<std::string>& args, std::string& error);

// Whether lines are coloured: on a terminal unless told otherwise or NO_COLOR is set.
bool use_colour(colour_mode_t mode, bool output_is_terminal, bool no_color_env);

}  // namespace kxtrace
