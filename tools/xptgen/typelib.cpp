#include "tools/xptgen/typelib.h"

#include <algorithm>
#include <map>

namespace xptgen {
namespace {

constexpr char kMagic[] = "XPCOM\nTypeLib\r\n\032";  // 16 bytes without the terminator
constexpr std::size_t kHeaderSize = 16 + 1 + 1 + 2 + 4 + 4 + 4 + 1;  // with one empty annotation
constexpr std::size_t kDirectoryEntrySize = 16 + 4 + 4 + 4;

const iid_t& supports_iid() {
  static const iid_t iid = *parse_iid("00000000-0000-0000-c000-000000000046");
  return iid;
}

class bytes_t {
 public:
  void u8(std::uint8_t v) { b_.push_back(v); }
  void u16(std::uint16_t v) {
    u8(static_cast<std::uint8_t>(v >> 8));
    u8(static_cast<std::uint8_t>(v));
  }
  void u32(std::uint32_t v) {
    u16(static_cast<std::uint16_t>(v >> 16));
    u16(static_cast<std::uint16_t>(v));
  }
  void iid(const iid_t& id) {
    u32(id.m0);
    u16(id.m1);
    u16(id.m2);
    for (const auto b : id.m3) u8(b);
  }
  void append(const bytes_t& other) { b_.insert(b_.end(), other.b_.begin(), other.b_.end()); }
  std::size_t size() const { return b_.size(); }
  std::vector<std::uint8_t>& data() { return b_; }

 private:
  std::vector<std::uint8_t> b_;
};

bool is_dipper(base_type_t t) {
  return t == base_type_t::dom_string || t == base_type_t::a_string || t == base_type_t::c_string ||
         t == base_type_t::utf8_string;
}

std::uint8_t simple_tag(base_type_t t) {
  switch (t) {
    case base_type_t::int8: return xpt::tag_int8;
    case base_type_t::int16: return xpt::tag_int16;
    case base_type_t::int32: return xpt::tag_int32;
    case base_type_t::int64: return xpt::tag_int64;
    case base_type_t::uint8: return xpt::tag_uint8;
    case base_type_t::uint16: return xpt::tag_uint16;
    case base_type_t::uint32: return xpt::tag_uint32;
    case base_type_t::uint64: return xpt::tag_uint64;
    case base_type_t::float32: return xpt::tag_float;
    case base_type_t::float64: return xpt::tag_double;
    case base_type_t::boolean: return xpt::tag_bool;
    case base_type_t::character: return xpt::tag_char;
    case base_type_t::wide_character: return xpt::tag_wchar;
    case base_type_t::string: return xpt::type_pointer | xpt::tag_pstring;
    case base_type_t::wide_string: return xpt::type_pointer | xpt::tag_pwstring;
    case base_type_t::dom_string: return xpt::type_pointer | xpt::type_reference | xpt::tag_domstring;
    case base_type_t::a_string: return xpt::type_pointer | xpt::type_reference | xpt::tag_astring;
    case base_type_t::c_string: return xpt::type_pointer | xpt::type_reference | xpt::tag_cstring;
    case base_type_t::utf8_string: return xpt::type_pointer | xpt::type_reference | xpt::tag_utf8string;
    case base_type_t::interface: break;
  }
  return xpt::tag_void;
}

struct entry_t {
  iid_t iid;
  std::string name;
  const interface_t* itf = nullptr;  // none for nsISupports
};

}  // namespace

std::optional<std::vector<std::uint8_t>> write_typelib(const idl_file_t& file, std::string& error) {
  std::vector<entry_t> entries{{supports_iid(), "nsISupports", nullptr}};
  for (const auto& itf : file.interfaces) {
    if (itf.name == "nsISupports" || itf.iid == supports_iid()) {
      error = "nsISupports is the browser's own; it cannot be described here";
      return std::nullopt;
    }
    entries.push_back({itf.iid, itf.name, &itf});
  }
  std::sort(entries.begin(), entries.end(), [](const entry_t& a, const entry_t& b) { return a.iid < b.iid; });
  for (std::size_t i = 1; i < entries.size(); ++i) {
    if (entries[i].iid == entries[i - 1].iid) {
      error = entries[i - 1].name + " and " + entries[i].name + " have the same IID";
      return std::nullopt;
    }
  }
  if (entries.size() > 0xFFFF) {
    error = "too many interfaces";
    return std::nullopt;
  }
  std::map<std::string, std::uint16_t> index;  // directory positions count from 1
  for (std::size_t i = 0; i < entries.size(); ++i) index[entries[i].name] = static_cast<std::uint16_t>(i + 1);

  // The pool: every name first, then the descriptors that point at them.
  bytes_t pool;
  std::map<std::string, std::uint32_t> strings;
  auto string_at = [&](const std::string& s) {
    auto [it, added] = strings.try_emplace(s, static_cast<std::uint32_t>(pool.size() + 1));
    if (added) {
      for (const char c : s) pool.u8(static_cast<std::uint8_t>(c));
      pool.u8(0);
    }
    return it->second;
  };
  for (const auto& e : entries) {
    string_at(e.name);
    if (e.itf)
      for (const auto& m : e.itf->methods) string_at(m.name);
  }
  std::map<std::string, std::uint32_t> descriptors;
  for (const auto& e : entries) {
    if (!e.itf) continue;
    const interface_t& itf = *e.itf;
    descriptors[itf.name] = static_cast<std::uint32_t>(pool.size() + 1);
    pool.u16(index.at(itf.parent));
    if (itf.methods.size() > 0xFFFF) {
      error = itf.name + " has too many methods";
      return std::nullopt;
    }
    pool.u16(static_cast<std::uint16_t>(itf.methods.size()));
    for (const auto& m : itf.methods) {
      pool.u8(0);  // an ordinary method
      pool.u32(string_at(m.name));
      if (m.params.size() > 0xFF) {
        error = itf.name + "::" + m.name + " has too many parameters";
        return std::nullopt;
      }
      pool.u8(static_cast<std::uint8_t>(m.params.size()));
      for (const auto& p : m.params) {
        std::uint8_t flags = (p.in ? xpt::param_in : 0) | (p.out ? xpt::param_out : 0);
        if (is_dipper(p.type) && p.out) {
          if (p.in) {
            error = itf.name + "::" + m.name + ": inout strings are not supported";
            return std::nullopt;
          }
          // A string the caller owns and the method fills in.
          flags = xpt::param_in | xpt::param_dipper;
        }
        pool.u8(flags);
        if (p.type == base_type_t::interface) {
          pool.u8(xpt::type_pointer | xpt::tag_interface);
          pool.u16(index.at(p.interface_name));
        } else {
          pool.u8(simple_tag(p.type));
        }
      }
      pool.u8(0);  // the result: the method's nsresult
      pool.u8(xpt::tag_uint32);
    }
    pool.u16(0);  // no constants
    pool.u8(itf.scriptable ? xpt::interface_scriptable : 0);
  }

  const std::size_t directory_size = entries.size() * kDirectoryEntrySize;
  const std::size_t file_size = kHeaderSize + directory_size + pool.size();
  bytes_t out;
  for (std::size_t i = 0; i < 16; ++i) out.u8(static_cast<std::uint8_t>(kMagic[i]));
  out.u8(kTypelibMajor);
  out.u8(kTypelibMinor);
  out.u16(static_cast<std::uint16_t>(entries.size()));
  out.u32(static_cast<std::uint32_t>(file_size));
  out.u32(static_cast<std::uint32_t>(kHeaderSize + 1));
  out.u32(static_cast<std::uint32_t>(kHeaderSize + directory_size));
  out.u8(xpt::annotation_last);  // one empty annotation
  for (const auto& e : entries) {
    out.iid(e.iid);
    out.u32(strings.at(e.name));
    out.u32(0);  // no name space
    out.u32(e.itf ? descriptors.at(e.name) : 0);
  }
  out.append(pool);
  return std::move(out.data());
}

}  // namespace xptgen
