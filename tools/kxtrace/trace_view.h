// Readable lines of a decoded trace file.
#pragma once

#include <string>

#include "tracecore/record.h"

namespace kxtrace {

struct view_options_t {
  bool raw = false;  // also show the date and time records themselves
};

// The header, then one line per record: thread, date and time, the scope depth as indentation,
// kind and text. Ends with a line saying where decoding stopped when it stopped early.
std::string format_file(const tracecore::decoded_file_t& file, const view_options_t& options = {});

}  // namespace kxtrace
