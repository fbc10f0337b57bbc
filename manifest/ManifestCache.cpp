#include "manifest/ManifestCache.h"

#include <sys/stat.h>
#include <sys/types.h>

#include "manifest/ManifestReader.h"

namespace manifest {
namespace {

// The file's size and modification time from one status read (the two std::filesystem calls read
// it twice); false when it cannot be read.
bool stamp(std::u16string_view fileName, std::uintmax_t& size, std::int64_t& modified) {
  std::u16string name;
  resolveAlienName(fileName, name);
#if defined(_WIN32)
  struct _stat64 st;
  if (_wstat64(toPath(name).c_str(), &st) != 0) return false;
  modified = static_cast<std::int64_t>(st.st_mtime);
#else
  struct stat st;
  if (::stat(toPath(name).c_str(), &st) != 0) return false;
  modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
  if ((st.st_mode & S_IFMT) != S_IFREG) return false;
  size = static_cast<std::uintmax_t>(st.st_size);
  return true;
}

}  // namespace

bool manifest_cache_t::load(std::u16string_view fileName, Manifest& m) {
  std::uintmax_t size = 0;
  std::int64_t modified = 0;
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
