// The lookup walk over a section written by another process. The first byte gives the length of
// the key that follows it; the rest is the section.
#include <cstdint>
#include <string_view>
#include <vector>

#include "environment/LookupCache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t key_length = std::min<std::size_t>(data[0] % 32, size - 1);
  const std::string_view key(reinterpret_cast<const char*>(data + 1), key_length);
  // A copy of exactly the section's bytes, so that a read past them is caught.
  const std::vector<std::uint8_t> section(data + 1 + key_length, data + size);
  lookupcache::find_entries(section, key);
  lookupcache::find_entries(section, "");
  return 0;
}
