// kxff lookup: the agent's lookup cache.
//
//   kxff lookup build FILE.json OUT      writes a section from
//       {"directories": ["C:\\m\\", ..], "records": [{"key": "example.com", "dir": 0, "file": "site.kxm",
//                                                     "alien": false}, ..]}
//   kxff lookup query SECTIONFILE URL    the manifest names cached_url gives for URL, one per line
#include <cstdio>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "environment/LookupCache.h"
#include "tools/kxff/command.h"
#include "tracecore/utf.h"

namespace {

using nlohmann::json;

int build(const std::string& in, const std::string& out) {
  std::string text;
  if (!kxff::read_file(in, text)) return 1;
  const json j = json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return kxff::fail(in + ": not a JSON object");
  std::vector<std::string> directories;
  if (j.contains("directories")) directories = j.at("directories").get<std::vector<std::string>>();
  lookupcache::lookup_section_writer_t writer(directories);
  if (j.contains("records")) {
    for (const json& r : j.at("records")) {
      lookupcache::lookup_record_t record;
      record.key = r.value("key", std::string());
      record.dir = r.value("dir", 0u);
      record.file = r.value("file", std::string());
      record.alien = r.value("alien", false);
      if (record.dir >= directories.size() && !directories.empty())
        std::fprintf(stderr, "record %s: directory %u does not exist\n", record.file.c_str(), record.dir);
      writer.add(record);
    }
  }
  const std::vector<std::uint8_t> bytes = writer.bytes();
  std::ofstream file(out, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) return kxff::fail("cannot write " + out);
  return 0;
}

int query(const std::string& section_file, const std::string& url) {
  std::string bytes;
  if (!kxff::read_file(section_file, bytes)) return 1;
  const std::span<const std::uint8_t> section(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  const std::string names = tracecore::to_utf8(lookupcache::cached_url(section, tracecore::to_utf16(url), false));
  if (!names.empty()) std::printf("%s\n", names.c_str());
  return 0;
}

int run(const kxff::args_t& args) {
  if (args.size() == 3 && args[0] == "build") return build(args[1], args[2]);
  if (args.size() == 3 && args[0] == "query") return query(args[1], args[2]);
  return kxff::usage_error("lookup");
}

kxff::registrar_t reg("lookup", "lookup build FILE.json OUT | lookup query SECTIONFILE URL", &run);

}  // namespace
