// Parsed manifests kept by file: a manifest whose file has the same path, size and modification
// time as when it was parsed is copied instead of read and parsed again. Recognition asks for the
// same few files on every activation of a site's pages; the agent's "cacheupdated" empties it.
//
//   manifest::manifest_cache_t cache;
//   Manifest m;
//   cache.load(u"C:\\...\\login.kxm", m);   // loadM_properly, or a copy of the last good parse
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "manifest/Manifest.h"

namespace manifest {

class manifest_cache_t {
 public:
  // Files kept at most; beyond that the cache starts afresh (a site has a handful of manifests).
  static constexpr std::size_t kMaxEntries = 256;

  // loadM_properly of |fileName| ("alien|" prefix included) through the cache; false (traced by the
  // loader) when the file cannot be loaded, which is never kept.
  bool load(std::u16string_view fileName, Manifest& m);
  void clear();
  std::size_t size() const;
  // Loads that were answered from the cache, and that parsed the file (for tests and benchmarks).
  std::size_t hits() const { return hits_; }
  std::size_t parses() const { return parses_; }

 private:
  struct entry_t {
    std::uintmax_t size = 0;
    std::int64_t modified = 0;  // the file system's modification time, in its own unit
    Manifest manifest;
  };
  mutable std::mutex lock_;
  std::unordered_map<std::u16string, entry_t> entries_;
  std::size_t hits_ = 0;
  std::size_t parses_ = 0;
};

}  // namespace manifest
