#include "manifest/ManifestCache.h"

#include "manifest/ManifestReader.h"

namespace manifest {
namespace {

// The file's size and modification time; false when it cannot be read.
bool stamp(std::u16string_view fileName, std::uintmax_t& size, std::filesystem::file_time_type& modified) {
  std::u16string name;
  resolveAlienName(fileName, name);
  const std::filesystem::path path = toPath(name);
  std::error_code ec;
  size = std::filesystem::file_size(path, ec);
  if (ec) return false;
  modified = std::filesystem::last_write_time(path, ec);
  return !ec;
}

}  // namespace

bool manifest_cache_t::load(std::u16string_view fileName, Manifest& m) {
  std::uintmax_t size = 0;
  std::filesystem::file_time_type modified;
  const bool stamped = stamp(fileName, size, modified);
  const std::u16string key(fileName);
  if (stamped) {
    std::lock_guard<std::mutex> g(lock_);
    const auto it = entries_.find(key);
    if (it != entries_.end() && it->second.size == size && it->second.modified == modified) {
      m = it->second.manifest;
      ++hits_;
      return true;
    }
  }
  if (!loadM_properly(fileName, m)) return false;
  std::lock_guard<std::mutex> g(lock_);
  ++parses_;
  if (!stamped) return true;  // nothing to tell a later change by
  if (entries_.size() >= kMaxEntries && !entries_.count(key)) entries_.clear();
  entries_[key] = entry_t{size, modified, m};
  return true;
}

void manifest_cache_t::clear() {
  std::lock_guard<std::mutex> g(lock_);
  entries_.clear();
}

std::size_t manifest_cache_t::size() const {
  std::lock_guard<std::mutex> g(lock_);
  return entries_.size();
}

}  // namespace manifest
