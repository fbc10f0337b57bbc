// kxff block | message: agent message blocks as JSON and back.
//
//   kxff block decode FILE            the flattened storage as JSON, one object per section:
//                                     {NAME: {"value": {"kind": K, "hex": ".."}}, NAME: {"section": {..}},
//                                      NAME: {"sections": [{..}, ..]}, NAME: {"values": {"kind": K, "hex": [..]}}}
//   kxff block encode FILE.json       the bytes of that JSON to stdout
//   kxff message decode KIND FILE     one typed message (notice1..notice4, block1..block6) by key name
//   kxff message encode KIND FILE.json
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "agentcomm/AgentMessages.h"
#include "tools/kxff/command.h"
#include "tracecore/utf.h"

namespace {

using nlohmann::json;
using namespace serialization;
using namespace serialization::StorageNamed::InMemStorageSpace;

std::string to_hex(std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string from_hex(const json& j, const std::string& where) {
  if (!j.is_string()) throw std::runtime_error(where + ": \"hex\" must be a string");
  const std::string& s = j.get_ref<const std::string&>();
  if (s.size() % 2) throw std::runtime_error(where + ": odd number of hex digits");
  std::string out(s.size() / 2, '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int hi = hex_digit(s[2 * i]), lo = hex_digit(s[2 * i + 1]);
    if (hi < 0 || lo < 0) throw std::runtime_error(where + ": not a hex digit");
    out[i] = static_cast<char>(hi * 16 + lo);
  }
  return out;
}

std::uint8_t kind_of(const json& j, const std::string& where) {
  if (!j.is_object() || !j.contains("kind") || !j["kind"].is_number_unsigned() || j["kind"].get<unsigned>() > 255)
    throw std::runtime_error(where + ": \"kind\" must be a number from 0 to 255");
  return static_cast<std::uint8_t>(j["kind"].get<unsigned>());
}

// --- storage -> JSON ---

json section_json(const CSSection& s);

json entry_json(const ISSectionEntry& e) {
  switch (e.type()) {
    case entry_section:
      return {{"section", section_json(static_cast<const CSSection&>(e))}};
    case entry_value: {
      const auto& v = static_cast<const CSValue&>(e);
      return {{"value", {{"kind", v.kind}, {"hex", to_hex(v.payload.bytes())}}}};
    }
    case entry_sections_array: {
      json list = json::array();
      for (const CSSection& s : static_cast<const CSSectionsArray&>(e).elements()) list.push_back(section_json(s));
      return {{"sections", list}};
    }
    case entry_values_array: {
      const auto& a = static_cast<const CSValuesArray&>(e);
      json list = json::array();
      for (const CMemoryObjectEx& m : a.elements()) list.push_back(to_hex(m.bytes()));
      return {{"values", {{"kind", a.kind}, {"hex", list}}}};
    }
  }
  return nullptr;
}

json section_json(const CSSection& s) {
  json out = json::object();
  for (const auto& item : s.items()) out[item.name] = entry_json(*item.entry);
  return out;
}

// --- JSON -> storage ---

void fill_section(CSSection& s, const json& j, const std::string& where);

entry_ptr entry_from(const json& j, const std::string& where) {
  if (!j.is_object() || j.size() != 1)
    throw std::runtime_error(where + ": an entry is an object with one of \"value\", \"section\", \"sections\", \"values\"");
  const auto first = j.begin();
  const std::string& what = first.key();
  const json& body = first.value();
  if (what == "value") {
    auto v = std::make_shared<CSValue>();
    v->kind = kind_of(body, where);
    if (!body.contains("hex")) throw std::runtime_error(where + ": value without \"hex\"");
    const std::string bytes = from_hex(body["hex"], where);
    v->payload.assign(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return v;
  }
  if (what == "section") {
    auto s = std::make_shared<CSSection>();
    fill_section(*s, body, where);
    return s;
  }
  if (what == "sections") {
    if (!body.is_array()) throw std::runtime_error(where + ": \"sections\" must be an array");
    auto a = std::make_shared<CSSectionsArray>();
    for (std::size_t i = 0; i < body.size(); ++i) fill_section(a->append(), body[i], where + "[" + std::to_string(i) + "]");
    return a;
  }
  if (what == "values") {
    auto a = std::make_shared<CSValuesArray>();
    a->kind = kind_of(body, where);
    if (!body.contains("hex") || !body["hex"].is_array())
      throw std::runtime_error(where + ": \"values\" needs a \"hex\" array");
    for (const json& h : body["hex"]) {
      const std::string bytes = from_hex(h, where);
      a->append(fake_memblock_t(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    }
    return a;
  }
  throw std::runtime_error(where + ": unknown entry \"" + what + "\"");
}

void fill_section(CSSection& s, const json& j, const std::string& where) {
  if (!j.is_object()) throw std::runtime_error(where + ": a section must be an object");
  for (const auto& [name, entry] : j.items()) {
    if (name.find('\0') != std::string::npos) throw std::runtime_error(where + ": a name cannot hold a NUL");
    s.set(name, entry_from(entry, where.empty() ? name : where + "." + name));
  }
}

int write_stdout(const memoryblock_i& block) {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // no CR before LF bytes
#endif
  auto bytes = block.bytes();
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) return kxff::fail("cannot write stdout");
  return std::fflush(stdout) == 0 ? 0 : kxff::fail("cannot write stdout");
}

void print_json(const json& j) {
  // Texts that are not UTF-8 show as U+FFFD.
  std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

bool read_json(const std::string& path, json& out) {
  std::string text;
  if (!kxff::read_file(path, text)) return false;
  out = json::parse(text, nullptr, false);
  if (out.is_discarded()) {
    std::fprintf(stderr, "%s: not JSON\n", path.c_str());
    return false;
  }
  return true;
}

bool valid_utf8_names(const CSSection& s) {
  for (const auto& item : s.items()) {
    if (tracecore::to_utf8(tracecore::to_utf16(item.name)) != item.name) return false;
    const ISSectionEntry& e = *item.entry;
    if (e.type() == entry_section && !valid_utf8_names(static_cast<const CSSection&>(e))) return false;
    if (e.type() == entry_sections_array)
      for (const CSSection& el : static_cast<const CSSectionsArray&>(e).elements())
        if (!valid_utf8_names(el)) return false;
  }
  return true;
}

int block_command(const kxff::args_t& args) {
  if (args.size() != 2) return kxff::usage_error("block");
  if (args[0] == "decode") {
    std::string bytes;
    if (!kxff::read_file(args[1], bytes)) return 1;
    if (bytes.size() > 0xFFFFFFFFu) return kxff::fail(args[1] + ": too large for a block");
    CInMemStorage s;
    bool complete = false;
    const std::uint32_t used = s.load(fake_memblock_t(bytes.data(), static_cast<std::uint32_t>(bytes.size())), &complete);
    if (!used)
      return kxff::fail(args[1] + ": not a message block (it needs the two magic words, version 0 or 1 and a root)");
    print_json(section_json(s.root()));
    if (!complete)
      std::fprintf(stderr, "%s: the block stops early: %u of %zu bytes read; shown is what was read\n",
                   args[1].c_str(), used, bytes.size());
    if (!valid_utf8_names(s.root()))
      std::fprintf(stderr, "%s: some names are not UTF-8 and show with U+FFFD\n", args[1].c_str());
    return 0;
  }
  if (args[0] == "encode") {
    json j;
    if (!read_json(args[1], j)) return 1;
    CInMemStorage s;
    fill_section(s.root(), j, "");
    CMemoryObjectEx block;
    if (!s.save(block)) return kxff::fail("cannot save the block");
    return write_stdout(block);
  }
  return kxff::usage_error("block");
}

// --- typed messages as JSON, walked by the messages' own field lists ---

class json_writer_t {
 public:
  explicit json_writer_t(json& out) : out_(out) {}
  bool field(const char* key, std::int32_t& v) { return set(key, v); }
  bool field(const char* key, bool& v) { return set(key, v); }
  bool field(const char* key, rect_t& v) {
    return set(key, json{{"left", v.left}, {"top", v.top}, {"right", v.right}, {"bottom", v.bottom}});
  }
  bool field(const char* key, std::string& v) { return set(key, v); }
  bool field(const char* key, std::u16string& v) { return set(key, tracecore::to_utf8(v)); }
  template <class M>
  bool section(const char* key, M& m) {
    json sub = json::object();
    json_writer_t inner(sub);
    m.bind(inner);
    return set(key, sub);
  }
  template <class M>
  bool array(const char* key, std::vector<M>& items) {
    json list = json::array();
    for (M& m : items) {
      json sub = json::object();
      json_writer_t inner(sub);
      m.bind(inner);
      list.push_back(sub);
    }
    return set(key, list);
  }

 private:
  bool set(const char* key, json v) {
    out_[key] = std::move(v);
    return true;
  }
  json& out_;
};

// Keys missing from the JSON keep the message's initial values.
class json_reader_t {
 public:
  explicit json_reader_t(const json& in) : in_(in) {}
  bool field(const char* key, std::int32_t& v) { return get(key, v); }
  bool field(const char* key, bool& v) { return get(key, v); }
  bool field(const char* key, rect_t& v) {
    const json* j = find(key);
    if (!j) return false;
    v = {j->at("left").get<std::int32_t>(), j->at("top").get<std::int32_t>(), j->at("right").get<std::int32_t>(),
         j->at("bottom").get<std::int32_t>()};
    return true;
  }
  bool field(const char* key, std::string& v) { return get(key, v); }
  bool field(const char* key, std::u16string& v) {
    std::string s;
    if (!get(key, s)) return false;
    v = tracecore::to_utf16(s);
    return true;
  }
  template <class M>
  bool section(const char* key, M& m) {
    const json* j = find(key);
    if (!j) return false;
    json_reader_t inner(*j);
    m.bind(inner);
    return true;
  }
  template <class M>
  bool array(const char* key, std::vector<M>& items) {
    const json* j = find(key);
    if (!j) return false;
    items.clear();
    for (const json& e : *j) {
      json_reader_t inner(e);
      items.emplace_back().bind(inner);
    }
    return true;
  }

 private:
  const json* find(const char* key) const {
    auto it = in_.find(key);
    return it == in_.end() ? nullptr : &*it;
  }
  template <class T>
  bool get(const char* key, T& v) {
    const json* j = find(key);
    if (!j) return false;
    v = j->get<T>();
    return true;
  }
  const json& in_;
};

template <class M>
int decode_as(const std::string& kind, const std::string& bytes) {
  CInMemStorage s;
  bool complete = false;
  if (!s.load(fake_memblock_t(bytes.data(), static_cast<std::uint32_t>(bytes.size())), &complete))
    return kxff::fail("not a message block (it needs the two magic words, version 0 or 1 and a root)");
  M m;
  const bool found = kxmessages::read_message(m, s);
  json out = json::object();
  json_writer_t w(out);
  m.bind(w);
  print_json(out);
  if (!complete) std::fprintf(stderr, "the block stops early; shown is what was read\n");
  if (!found) std::fprintf(stderr, "no key of %s in the block: every field shows its initial value\n", kind.c_str());
  return 0;
}

template <class M>
int encode_as(const json& in) {
  if (!in.is_object()) return kxff::fail("a message is a JSON object");
  M m;
  json_reader_t r(in);
  m.bind(r);
  CMemoryObjectEx block;
  if (!kxmessages::encode(m, block)) return kxff::fail("cannot save the block");
  return write_stdout(block);
}

struct kind_t {
  const char* name;
  int (*decode)(const std::string& kind, const std::string& bytes);
  int (*encode)(const json& in);
};

template <class M>
constexpr kind_t kind(const char* name) {
  return {name, &decode_as<M>, &encode_as<M>};
}

const kind_t kinds[] = {
    kind<kxmessages::notice_requestaborted_t>("notice1"),
    kind<kxmessages::notice_kxaversion_t>("notice2"),
    kind<kxmessages::notice_highlight_t>("notice3"),
    kind<kxmessages::notice_senddata_t>("notice4"),
    kind<kxmessages::block_filldata_request_t>("block1"),
    kind<kxmessages::block_newmanifest_t>("block2"),
    kind<kxmessages::block_profile_operation_t>("block3"),
    kind<kxmessages::block_domain_manifests_t>("block4"),
    kind<kxmessages::block_highlight_t>("block5"),
    kind<kxmessages::block_replyto_t>("block6"),
};

int message_command(const kxff::args_t& args) {
  if (args.size() != 3 || (args[0] != "decode" && args[0] != "encode")) return kxff::usage_error("message");
  const kind_t* k = nullptr;
  for (const kind_t& candidate : kinds)
    if (args[1] == candidate.name) k = &candidate;
  if (!k) return kxff::fail("unknown message kind " + args[1] + " (notice1 to notice4, block1 to block6)");
  if (args[0] == "decode") {
    std::string bytes;
    if (!kxff::read_file(args[2], bytes)) return 1;
    if (bytes.size() > 0xFFFFFFFFu) return kxff::fail(args[2] + ": too large for a block");
    return k->decode(args[1], bytes);
  }
  json j;
  if (!read_json(args[2], j)) return 1;
  return k->encode(j);
}

kxff::registrar_t block_reg("block", "block decode FILE | block encode FILE.json", &block_command);
kxff::registrar_t message_reg("message",
                              "message decode KIND FILE | message encode KIND FILE.json  "
                              "(KIND: notice1..notice4, block1..block6)",
                              &message_command);

}  // namespace
