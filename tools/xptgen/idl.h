// The interface description language of the extension package, as far as the package uses it:
// interfaces derived from nsISupports (or an interface defined before them in the same file)
// with the attributes "scriptable" and "uuid(...)", whose members are methods returning nothing but
// their result code, with in, out and inout parameters of the basic, string and interface types.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xptgen {

struct iid_t {
  std::uint32_t m0 = 0;
  std::uint16_t m1 = 0, m2 = 0;
  std::array<std::uint8_t, 8> m3{};
  auto operator<=>(const iid_t&) const = default;
};

// "6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19" (either case); nothing when malformed.
std::optional<iid_t> parse_iid(std::string_view text);
std::string format_iid(const iid_t& iid);  // lower case, the form above

// The types a parameter may have, named as the description language names them.
enum class base_type_t {
  int8, int16, int32, int64, uint8, uint16, uint32, uint64, float32, float64, boolean, character,
  wide_character, string, wide_string, dom_string, a_string, c_string, utf8_string, interface,
};

struct param_t {
  bool in = true, out = false;
  base_type_t type = base_type_t::int32;
  std::string interface_name;  // for base_type_t::interface
  std::string name;
};

struct method_t {
  std::string name;
  std::vector<param_t> params;
};

struct interface_t {
  std::string name;
  std::string parent;  // empty for nsISupports itself
  iid_t iid;
  bool scriptable = false;
  std::vector<method_t> methods;
};

struct idl_file_t {
  std::vector<interface_t> interfaces;
};

// Parses a description; nothing with |error| set to "line N: what" when the text is outside the
// language above.
std::optional<idl_file_t> parse_idl(std::string_view text, std::string& error);

}  // namespace xptgen
