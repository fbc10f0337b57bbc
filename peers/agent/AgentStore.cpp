#include "peers/agent/AgentStore.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "agentcomm/transport/KernelObjects.h"
#include "environment/LookupCache.h"
#include "manifest/Matching.h"
#include "manifest/ManifestReader.h"
#include "tracecore/utf.h"

namespace kxagent {

namespace {

using tracecore::to_utf8;
namespace fs = std::filesystem;

constexpr std::uint32_t kLookupCacheSize = 1u << 20;

}  // namespace

store_t::store_t(fs::path dir) : dir_(std::move(dir)) {
  std::error_code ec;
  fs::create_directories(dir_, ec);
  // The section stays at one size for the life of the agent; updates rewrite it in place.
  section_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, ffipc::mapping_security().attributes(), PAGE_READWRITE, 0,
                                    kLookupCacheSize, L"KX_VLT_LOOKUP_CACHE"));
  if (section_) view_.reset(MapViewOfFile(section_.get(), FILE_MAP_WRITE, 0, 0, 0));
  refresh();
}

fs::path store_t::store(const std::string& name, std::string_view text) {
  std::string file = name;
  if (const std::size_t colons = file.rfind("::"); colons != std::string::npos) file = file.substr(colons + 2);
  if (const std::size_t slash = file.find_last_of("\\/:"); slash != std::string::npos) file = file.substr(slash + 1);
  if (file.empty() || file == "." || file == "..") return {};
  std::lock_guard<std::mutex> g(lock_);
  const fs::path path = dir_ / fs::path(tracecore::to_utf16(file));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) return {};
  out.close();
  refresh_locked();
  return path;
}

std::string store_t::read(const std::u16string& name) {
  std::u16string file = name;
  if (const std::size_t slash = file.find_last_of(u"\\/:"); slash != std::u16string::npos) file = file.substr(slash + 1);
  std::lock_guard<std::mutex> g(lock_);
  std::ifstream in(dir_ / fs::path(file), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void store_t::refresh() {
  std::lock_guard<std::mutex> g(lock_);
  refresh_locked();
}

void store_t::refresh_locked() {
  std::string dir = to_utf8(dir_.u16string());
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  lookupcache::lookup_section_writer_t writer({dir});
  std::size_t n = 0;
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(dir_, ec)) {
    if (item.path().extension() != ".kxm") continue;
    Manifest m;
    try {
      manifest::loadManifestFile(item.path().u16string(), m);
    } catch (...) {
      continue;
    }
    std::vector<std::string> keys;
    for (const ManifestForm& form : m.forms) {
      for (const std::string* url : {&form.detection.web_ourl, &form.detection.web_murl}) {
        if (url->empty()) continue;
        std::string domain;
        manifest::urlKeys(*url, nullptr, nullptr, nullptr, &domain);
        if (!domain.empty() && std::find(keys.begin(), keys.end(), domain) == keys.end()) keys.push_back(domain);
      }
    }
    for (const std::string& key : keys) {
      writer.add({key, 0, to_utf8(item.path().filename().u16string()), false});
      ++n;
    }
  }
  const std::vector<std::uint8_t> bytes = writer.bytes();
  if (view_ && bytes.size() <= kLookupCacheSize) {
    std::memset(view_.get(), 0, kLookupCacheSize);
    std::memcpy(view_.get(), bytes.data(), bytes.size());
  }
  entries_ = n;
}

}  // namespace kxagent
