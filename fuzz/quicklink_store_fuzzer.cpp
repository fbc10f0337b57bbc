// The quick-link store reader and the URI transformations over any text: every record, merged or
// not, every quick-link number, and the profile link taken apart and put together again.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "include_extension/QuickLinks.h"
#include "tracecore/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace ql = kxext::quicklinks;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ql::store_env_t env;
  env.expand = [](std::u16string_view t) { return std::u16string(t); };
  // Every other file exists, so that both the kept and the dropped records are exercised.
  env.file_exists = [](std::u16string_view path) { return path.size() % 2 == 0; };
  for (ql::read_mode mode : {ql::read_mode::plain, ql::read_mode::merge}) {
    const ql::store_t store = ql::read_store(text, env, mode);
    for (std::int32_t number = 0; number < static_cast<std::int32_t>(store.records.size()) + 3; ++number) {
      try {
        const ql::quicklink_info_t info = ql::lookup(store, number, env);
        const ql::opened_link_t opened = ql::strip_profile_link(ql::profile_link(info.url, info.profile));
        if (!opened.found) __builtin_trap();
      } catch (const std::out_of_range&) {
      }
    }
  }
  const std::u16string uri = tracecore::to_utf16(text);
  ql::quicklink_number(uri);
  ql::strip_profile_link(uri);
  return 0;
}
