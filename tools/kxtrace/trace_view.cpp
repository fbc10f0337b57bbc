#include "tools/kxtrace/trace_view.h"

#include <cstdio>
#include <map>

namespace kxtrace {

std::string format_file(const tracecore::decoded_file_t& file, const view_options_t& options) {
  std::string out;
  for (const auto& line : file.header) {
    out += line;
    out += '\n';
  }
  std::string date = "--/--/--", time = "--:--:--.---";
  std::map<std::uint32_t, int> depth;  // per thread
  char buf[96];
  for (const auto& r : file.records) {
    if (r.kind == 't') date = r.text;
    if (r.kind == 'T') time = r.text;
    if ((r.kind == 't' || r.kind == 'T') && !options.raw) continue;
    int& d = depth[r.thread];
    if (r.kind == '<' && d > 0) --d;
    std::snprintf(buf, sizeof buf, "%08x %s %s ", r.thread, date.c_str(), time.c_str());
    out += buf;
    out.append(static_cast<size_t>(d) * 2, ' ');
    out += r.kind;
    if (!r.text.empty()) {
      out += ' ';
      out += r.text;
    }
    out += '\n';
    if (r.kind == '>') ++d;
  }
  if (!file.stop.empty()) {
    std::snprintf(buf, sizeof buf, "-- stopped at byte %zu: ", file.stop_offset);
    out += buf;
    out += file.stop;
    out += " (";
    out += std::to_string(file.records.size());
    out += " records read)\n";
  }
  return out;
}

}  // namespace kxtrace
