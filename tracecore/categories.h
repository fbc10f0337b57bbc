// The category bits of "kxffcli", the "all" commands, and the text form that the exported
// gettraceinfo/settraceinfo exchange with trace tools.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tracecore {

inline constexpr const char* kComponentName = "kxffcli";
inline constexpr const char* kAllSection = "all";

struct category_entry_t {
  std::uint32_t code;
  const char* name;
};

std::span<const category_entry_t> all_commands() noexcept;    // 1, 2, 4
std::span<const category_entry_t> category_bits() noexcept;   // 0x1 .. 0x400
std::uint32_t all_category_bits() noexcept;

// The text gettraceinfo hands out: a box per section ("all", then "kxffcli") and one line per
// entry, "N #[cc]# name". Fed back to settraceinfo unchanged it selects every entry; a line
// commented out with a leading "#" selects nothing.
std::string format_traceinfo();

// What a settraceinfo text asks for: the new mask, or nothing when it holds no "kxffcli" section
// and no "all" command.
struct traceinfo_request_t {
  enum kind_t { none, set_mask, clear, set_all, restore } kind = none;
  std::uint32_t mask = 0;  // for set_mask
};
traceinfo_request_t parse_traceinfo(std::string_view text);

// The component's mask with the one before its last change, for "restore".
class category_mask_t {
 public:
  // Applies a request; returns true when the mask changed.
  bool apply(const traceinfo_request_t& request);
  void load(std::uint32_t mask);  // from the configuration: no change of "previous"
  std::uint32_t value() const noexcept { return mask_; }
  std::uint32_t previous() const noexcept { return previous_; }

 private:
  std::uint32_t mask_ = 0;
  std::uint32_t previous_ = 0;
};

}  // namespace tracecore
