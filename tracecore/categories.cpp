#include "tracecore/categories.h"

#include <cctype>
#include <cstdio>

namespace tracecore {
namespace {

constexpr category_entry_t kCommands[] = {
    {1, "do not trace"},
    {2, "trace all"},
    {4, "restore to the point befere last set"},
};

constexpr category_entry_t kBits[] = {
    {0x1, "ffwin: print alien messages"},
    {0x2, "ffwin: print alien messages w/o WM_NCHITTEST, WM_SETCURSOR"},
    {0x4, "ffwin: class"},
    {0x8, "as usual no: show balloon"},
    {0x10, "as usual no: trace cache internals call"},
    {0x20, "as usual no: windowchangepos"},
    {0x40, "as usual no: fb drawing, and show balloon pos, mouse"},
    {0x80, "core: label detection"},
    {0x100, "core: control creation"},
    {0x200, "core: senddata"},
    {0x400, "core: control matching"},
};

void append_box(std::string& out, const char* name) {
  const std::string bar(std::char_traits<char>::length(name) + 6, '#');
  char buf[256];
  std::snprintf(buf, sizeof buf, "\n  %s\n  %s%s%s\n  %c\n", bar.c_str(), "#..", name, "..#", '#');
  out += buf;
}

void append_entries(std::string& out, std::span<const category_entry_t> entries, int& number) {
  char buf[256];
  for (const auto& e : entries) {
    std::snprintf(buf, sizeof buf, "%d %c%c%02x%c%c %s\n", number++, '#', '[', e.code, ']', '#', e.name);
    out += buf;
  }
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// "#..name..#" (spaces around allowed) starts a section; returns its name.
std::optional<std::string_view> section_name(std::string_view line) {
  const size_t start = line.find("#..");
  if (start == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(start + 3);
  const size_t end = rest.find("..#");
  return trim(end == std::string_view::npos ? rest : rest.substr(0, end));
}

// The code of an entry line: the hexadecimal digits inside its first "[...]".
std::optional<std::uint32_t> entry_code(std::string_view line) {
  const size_t open = line.find('[');
  if (open == std::string_view::npos) return std::nullopt;
  const size_t close = line.find(']', open);
  if (close == std::string_view::npos || close == open + 1 || close - open > 9) return std::nullopt;
  std::uint32_t code = 0;
  for (char c : line.substr(open + 1, close - open - 1)) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    code = code * 16 + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
  }
  return code;
}

}  // namespace

std::span<const category_entry_t> all_commands() noexcept { return kCommands; }
std::span<const category_entry_t> category_bits() noexcept { return kBits; }

std::uint32_t all_category_bits() noexcept {
  std::uint32_t m = 0;
  for (const auto& e : kBits) m |= e.code;
  return m;
}

std::string format_traceinfo() {
  std::string out;
  int number = 1;
  append_box(out, kAllSection);
  append_entries(out, kCommands, number);
  append_box(out, kComponentName);
  append_entries(out, kBits, number);
  return out;
}

traceinfo_request_t parse_traceinfo(std::string_view text) {
  enum { other, all, component } section = other;
  bool saw_component = false;
  std::uint32_t all_codes = 0, component_codes = 0;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    const std::string_view line = trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (auto name = section_name(line)) {
      section = *name == kAllSection ? all : *name == kComponentName ? component : other;
      saw_component |= section == component;
      continue;
    }
    if (line.empty() || line.front() == '#') continue;
    const auto code = entry_code(line);
    if (!code) continue;
    if (section == all) all_codes |= *code;
    if (section == component) component_codes |= *code;
  }
  traceinfo_request_t r;
  if (all_codes & 1) r.kind = traceinfo_request_t::clear;
  else if (all_codes & 2) r.kind = traceinfo_request_t::set_all;
  else if (all_codes & 4) r.kind = traceinfo_request_t::restore;
  else if (saw_component) { r.kind = traceinfo_request_t::set_mask; r.mask = component_codes & all_category_bits(); }
  return r;
}

bool category_mask_t::apply(const traceinfo_request_t& request) {
  std::uint32_t next = mask_;
  switch (request.kind) {
    case traceinfo_request_t::none: return false;
    case traceinfo_request_t::clear: next = 0; break;
    case traceinfo_request_t::set_all: next = all_category_bits(); break;
    case traceinfo_request_t::restore: next = previous_; break;
    case traceinfo_request_t::set_mask: next = request.mask; break;
  }
  if (next == mask_) return false;
  previous_ = mask_;
  mask_ = next;
  return true;
}

void category_mask_t::load(std::uint32_t mask) { mask_ = mask; }

}  // namespace tracecore
