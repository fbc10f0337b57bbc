// The browser's binary interface description ("typelib", .xpt), format version 1.2: a header with
// the magic "XPCOM\nTypeLib\r\n\032", an interface directory sorted by IID, and a data pool with
// the interface descriptors and names. Multi-byte numbers are big-endian; offsets into the data
// pool count from 1, the directory's offset is a file offset counting from 1, the pool's a file
// offset counting from 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/xptgen/idl.h"

namespace xptgen {

constexpr std::uint8_t kTypelibMajor = 1;
constexpr std::uint8_t kTypelibMinor = 2;

// Type descriptor tags and flags, parameter and interface flags of the format.
namespace xpt {
constexpr std::uint8_t tag_int8 = 0, tag_int16 = 1, tag_int32 = 2, tag_int64 = 3, tag_uint8 = 4, tag_uint16 = 5,
                       tag_uint32 = 6, tag_uint64 = 7, tag_float = 8, tag_double = 9, tag_bool = 10, tag_char = 11,
                       tag_wchar = 12, tag_void = 13, tag_domstring = 15, tag_pstring = 16, tag_pwstring = 17,
                       tag_interface = 18, tag_utf8string = 23, tag_cstring = 24, tag_astring = 25;
constexpr std::uint8_t type_pointer = 0x80, type_reference = 0x20;
constexpr std::uint8_t param_in = 0x80, param_out = 0x40, param_dipper = 0x08;
constexpr std::uint8_t interface_scriptable = 0x80;
constexpr std::uint8_t annotation_last = 0x80;
}  // namespace xpt

// The interfaces of |file| and, as an entry without a descriptor, nsISupports, whose description
// the browser has. Nothing, with |error| set, when the file defines nsISupports itself or the
// directory would hold more interfaces than the format counts.
std::optional<std::vector<std::uint8_t>> write_typelib(const idl_file_t& file, std::string& error);

}  // namespace xptgen
