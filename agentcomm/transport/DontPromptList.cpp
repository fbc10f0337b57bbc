#include "agentcomm/transport/DontPromptList.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace ffipc {
namespace {

enum line_key { key_other = 0, key_web = 1, key_dlg = 2, key_vis = 3 };

line_key key_of(std::string_view key) {
  if (key == "web") return key_web;
  if (key == "dlg") return key_dlg;
  if (key == "vis") return key_vis;
  return key_other;
}

// The leading decimal number, as atoi reads it, but clamped instead of overflowing.
std::int32_t leading_number(std::string_view text) {
  const long long n = std::strtoll(std::string(text).c_str(), nullptr, 10);
  return static_cast<std::int32_t>(std::clamp<long long>(n, INT32_MIN, INT32_MAX));
}

}  // namespace

dontprompt_records_t dontprompt_records_t::parse(std::string_view text) {
  dontprompt_records_t out;
  line_key kind = key_other;  // of the record in progress
  std::string name;
  dontprompt_entry_t entry;
  auto store = [&] {
    if (kind == key_web) out.web[name] = entry;
    if (kind == key_dlg) out.dlg[name] = entry;
  };
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const line_key key = key_of(line.substr(0, eq));
    const std::string_view value = line.substr(eq + 1);
    if (key == key_web || key == key_dlg) {
      store();
      kind = key;
      name.assign(value);
      entry = {};
    } else if (key == key_vis && !value.empty()) {
      const std::size_t colon = value.find(':');
      if (colon == std::string_view::npos || value.find(':', colon + 1) != std::string_view::npos) continue;
      entry.flag = value.substr(0, colon) == "1";
      entry.number = leading_number(value.substr(colon + 1));
    }
  }
  store();
  return out;
}

std::string dontprompt_records_t::format() const {
  std::string out;
  char vis[40];
  auto emit = [&](const char* key, const std::map<std::string, dontprompt_entry_t>& records) {
    for (const auto& [name, e] : records) {
      out += key;
      out += '=';
      out += name;
      out += "\r\n";
      std::snprintf(vis, sizeof vis, "vis=%d:%d\r\n", e.flag ? 1 : 0, static_cast<int>(e.number));
      out += vis;
    }
  };
  emit("dlg", dlg);
  emit("web", web);
  return out;
}

}  // namespace ffipc
