// Trace files come from disk and may be cut short or damaged: decoding and formatting them must
// never read past the bytes given, and a file decodes to the same records every time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tools/kxtrace/trace_view.h"
#include "tracecore/record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto file = tracecore::decode_file(data, size);
  const std::string text = kxtrace::format_file(file);
  kxtrace::view_options_t coloured;
  coloured.colour = true;
  coloured.grep = "e";
  const std::string shown = kxtrace::format_file(file, coloured);
  if (shown.find('\r') != std::string::npos) std::abort();  // control bytes never reach the terminal
  std::size_t consumed = 0;
  for (const auto& r : file.records) {
    if (r.offset < consumed) std::abort();  // records are in file order and do not overlap
    consumed = r.offset + tracecore::kRecordHeaderSize + r.text.size();
  }
  if (consumed > size) std::abort();
  if (file.stop.empty() && !file.records.empty() && consumed != size) std::abort();
  return 0;
}
