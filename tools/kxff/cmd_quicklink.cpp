// kxff quicklink: the two quick-link URI transformations and the store lookup, as the component
// makes them.
//
//   kxff quicklink resolve STORE URI   quick-link URI ("...#id=N") -> the site's URL with the profile ID
//   kxff quicklink strip URI           a URL with "kxprofileid=" -> the URL to navigate to, the profile
//
// The store is read in merge mode. Environment variables (%NAME%) come from this process; a manifest
// named "idv::FILE" is looked for as FILE beside the store file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "include_extension/QuickLinks.h"
#include "tools/kxff/command.h"
#include "tracecore/utf.h"

namespace kxff {
namespace {

using json = nlohmann::ordered_json;
namespace ql = kxext::quicklinks;
namespace fs = std::filesystem;

void print(const json& j) { std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str()); }

ql::store_env_t env_beside(const fs::path& store) {
  ql::store_env_t env;
  env.expand = [](std::u16string_view text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
      const std::size_t open = text.find(u'%', i);
      const std::size_t close = open == std::u16string_view::npos ? open : text.find(u'%', open + 1);
      if (close == std::u16string_view::npos) {
        out.append(text.substr(i));
        break;
      }
      out.append(text.substr(i, open - i));
      const std::string name = tracecore::to_utf8(text.substr(open + 1, close - open - 1));
      const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
      out.append(value ? tracecore::to_utf16(value) : std::u16string(text.substr(open, close - open + 1)));
      i = close + 1;
    }
    return out;
  };
  const fs::path folder = store.parent_path();
  env.file_exists = [folder](std::u16string_view path) {
    std::u16string file(path);
    if (file.rfind(u"idv::", 0) == 0) file = (folder / fs::path(file.substr(5))).u16string();
    std::error_code ec;
    return fs::is_regular_file(fs::path(file), ec);
  };
  return env;
}

json record_json(const ql::record_t& r) {
  return {{"kind", r.kind},       {"name", tracecore::to_utf8(r.name)},        {"url", tracecore::to_utf8(r.url)},
          {"dlgpath", tracecore::to_utf8(r.dlgpath)}, {"manifest", tracecore::to_utf8(r.manifest)},
          {"manifestid", tracecore::to_utf8(r.manifestid)}, {"profile", r.profile}, {"qlwocred", r.qlwocred}};
}

int resolve(const std::string& store_file, const std::string& uri) {
  std::string text;
  if (!read_file(store_file, text)) return 1;
  const ql::store_env_t env = env_beside(fs::path(store_file));
  const ql::store_t store = ql::read_store(text, env, ql::read_mode::merge);
  const std::u16string in = tracecore::to_utf16(uri);
  const std::int32_t number = ql::quicklink_number(in);
  json out;
  out["in"] = uri;
  out["number"] = number;
  out["records"] = store.records.size();
  if (number == -1) {
    out["found"] = false;
    out["out"] = uri;
    print(out);
    return 0;
  }
  try {
    const ql::quicklink_info_t info = ql::lookup(store, number, env);
    out["found"] = true;
    out["out"] = tracecore::to_utf8(ql::profile_link(info.url, info.profile));
    out["profile"] = info.profile;
    out["record"] = record_json(*ql::in_name_order(store)[static_cast<std::size_t>(number - 2)]);
  } catch (const std::out_of_range&) {
    out["found"] = false;
    out["out"] = "";
  }
  print(out);
  return 0;
}

int strip(const std::string& uri) {
  const ql::opened_link_t link = ql::strip_profile_link(tracecore::to_utf16(uri));
  print({{"in", uri},
         {"out", tracecore::to_utf8(link.out)},
         {"found", link.found},
         {"idText", tracecore::to_utf8(link.id_text)},
         {"profile", link.profile}});
  return 0;
}

int run(const args_t& args) {
  if (args.size() == 3 && args[0] == "resolve") return resolve(args[1], args[2]);
  if (args.size() == 2 && args[0] == "strip") return strip(args[1]);
  return usage_error("quicklink");
}

const registrar_t quicklinkGroup("quicklink", "quicklink resolve STORE URI | quicklink strip URI", &run);

}  // namespace
}  // namespace kxff
