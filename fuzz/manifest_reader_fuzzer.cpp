// The manifest reader over arbitrary bytes: any input must load or fail cleanly. What loads is
// written again, and the writer's text must load as well whenever the manifest's texts are text
// (percent-escaped attributes can carry any byte, which XML cannot hold).
#include <cstddef>
#include <cstdint>
#include <string>

#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"

namespace {

// Well-formed UTF-8 without the control characters XML does not allow.
bool isXmlText(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

bool allText(const Manifest& m) {
  for (const auto& form : m.forms) {
    const FormDetection& d = form.detection;
    for (const std::string* s : {&d.names, &d.processname, &d.commandline})
      if (!isXmlText(*s)) return false;
    for (const auto& f : form.fields)
      if (!isXmlText(f.value.value) || !isXmlText(f.value.choosevalue)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Manifest m;
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  if (!loadM_properlyS(u"alien|fuzz.kxm", xml, m)) return 0;
  Manifest copy = m;
  copy.normalize();  // normalising again must be safe
  std::string text;
  manifest::manifestToText(m, text);
  Manifest again;
  if (!text.empty() && allText(m) && !loadM_properlyS(u"fuzz.kxm", text, again)) __builtin_trap();
  return 0;
}
