// The manifest reader over arbitrary bytes: any input must load or fail cleanly; what loads must
// write and read back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Manifest m;
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  if (!loadM_properlyS(u"alien|fuzz.kxm", xml, m)) return 0;
  std::string text;
  manifest::manifestToText(m, text);
  Manifest again;
  if (!text.empty() && !loadM_properlyS(u"fuzz.kxm", text, again)) __builtin_trap();
  return 0;
}
