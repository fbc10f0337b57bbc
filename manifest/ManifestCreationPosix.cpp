// Process facts for creation on systems other than Windows (tools and tests).
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "manifest/ManifestCreation.h"
#include "tracecore/utf.h"

namespace manifest {

creation_sources_t processSources() {
  creation_sources_t s;
  s.newGuid = [] {
    static std::mt19937_64 engine{std::random_device{}()};
    const std::uint64_t a = engine(), b = engine();
    guid_t g;
    g.data1 = static_cast<std::uint32_t>(a >> 32);
    g.data2 = static_cast<std::uint16_t>(a >> 16);
    g.data3 = static_cast<std::uint16_t>((a & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) g.data4[i] = static_cast<std::uint8_t>(b >> (8 * i));
    g.data4[0] = static_cast<std::uint8_t>((g.data4[0] & 0x3F) | 0x80);
    return g;
  };
  s.now = [] {
    // 100 ns units between 1601-01-01 and 1970-01-01.
    constexpr std::uint64_t kEpochDelta = 116444736000000000ull;
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return kEpochDelta + static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100);
  };
  // The arguments as one command line, quoted where they hold blanks.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string line;
  for (std::size_t start = 0; start < raw.size();) {
    std::size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    const std::string arg = raw.substr(start, end - start);
    if (!line.empty()) line += ' ';
    line += arg.find_first_of(" \t") == std::string::npos ? arg : '"' + arg + '"';
    start = end + 1;
  }
  s.commandLine = tracecore::to_utf16(line);
  s.environment = [](std::u16string_view name, std::u16string& value) {
    const char* v = std::getenv(tracecore::to_utf8(name).c_str());
    if (!v) return false;
    value = tracecore::to_utf16(v);
    return true;
  };
  return s;
}

}  // namespace manifest
