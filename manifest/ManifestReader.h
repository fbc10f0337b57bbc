// Reading manifest XML into a normalised Manifest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <filesystem>
#include <string>
#include <string_view>

#include "manifest/Manifest.h"

namespace errors {

// A file that cannot be loaded; what() is the file name (UTF-8).
class fileload_error : public std::runtime_error {
 public:
  enum : std::int32_t { undef = 0, notfound = 1, noaccess = 2, badfile = 3, badcrc = 4, nodll = 5 };
  fileload_error(std::int32_t code, const std::string& fileName) : std::runtime_error(fileName), code_(code) {}
  std::int32_t code() const noexcept { return code_; }

 private:
  std::int32_t code_;
};

// "undef", "notfound", "noaccess", "badfile", "badcrc", "nodll", else "[%d]".
std::string fileload_code_name(std::int32_t code);

}  // namespace errors

namespace manifest {

// Bounds of what a manifest may be: a manifest describes the forms of one site, trained from pages
// of at most a few thousand controls, and is read on the browser's thread. Bigger texts, and texts
// with more elements, are refused before they cost more than a moment.
inline constexpr std::size_t kMaxManifestBytes = 4u << 20;
inline constexpr std::size_t kMaxManifestElements = 50000;

// Parses |size| bytes of manifest XML into |m| (reset first, with the given alien flag) and
// normalises it. Throws std::runtime_error with the parser's "<error> at line L [C].\n" on
// malformed XML, and for a text beyond the bounds above or with a document type declaration
// (manifests need none; refusing it keeps entity expansion out).
void parseManifest(const char* data, std::size_t size, Manifest& m, bool alien = false);

// Loads a file; a name beginning with "alien|" opens the rest and marks the manifest alien.
// Throws errors::fileload_error (1 missing file, 2 unreadable) and the parse errors.
void loadManifestFile(std::u16string_view fileName, Manifest& m);

// The file system path of a manifest file name (UTF-16; the platform's own form).
std::filesystem::path toPath(const std::u16string& name);

// Splits the "alien|" prefix off |fileName|; true when it was there.
bool resolveAlienName(std::u16string_view fileName, std::u16string& path);

}  // namespace manifest

// Guarded loads: every failure is traced and gives false; |m| must not be used then.
bool loadM_properly(std::u16string_view fileName, Manifest& m);
bool loadM_properlyS(std::u16string_view fileName, std::string_view xml, Manifest& m);

namespace manifest {
using ::loadM_properly;
using ::loadM_properlyS;
}  // namespace manifest
