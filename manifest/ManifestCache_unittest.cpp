#include "manifest/ManifestCache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tracecore/utf.h"

namespace manifest {
namespace {

namespace fs = std::filesystem;

std::string manifestWithCaption(const std::string& caption) {
  return "<manifest><forms><form><detection caption=\"" + caption + "\"/></form></forms></manifest>";
}

TEST(ManifestCache, CopiesAnUnchangedFileAndParsesAChangedOne) {
  const fs::path dir = fs::temp_directory_path() / "kx_manifest_cache_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path file = dir / "site.kxm";
  std::ofstream(file, std::ios::binary) << manifestWithCaption("One");
  const std::u16string name = file.u16string();

  manifest_cache_t cache;
  Manifest m;
  ASSERT_TRUE(cache.load(name, m));
  EXPECT_EQ(m.forms.at(0).detection.caption, "One");
  ASSERT_TRUE(cache.load(name, m));
  EXPECT_EQ(cache.parses(), 1u);
  EXPECT_EQ(cache.hits(), 1u);
  // The alien form of the name is a file of its own for the cache, and loads marked alien.
  Manifest alien;
  ASSERT_TRUE(cache.load(u"alien|" + name, alien));
  EXPECT_TRUE(alien.alien);

  // Same size, new text, a later modification time: parsed again.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << manifestWithCaption("Two");
  fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
  ASSERT_TRUE(cache.load(name, m));
  EXPECT_EQ(m.forms.at(0).detection.caption, "Two");
  // Another size: parsed again.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << manifestWithCaption("Three!");
  ASSERT_TRUE(cache.load(name, m));
  EXPECT_EQ(m.forms.at(0).detection.caption, "Three!");

  // Emptied (the agent's "cacheupdated"): parsed again.
  const std::size_t parses = cache.parses();
  cache.clear();
  ASSERT_TRUE(cache.load(name, m));
  EXPECT_EQ(cache.parses(), parses + 1);

  // A file that is gone is not answered from the cache.
  fs::remove(file);
  EXPECT_FALSE(cache.load(name, m));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace manifest
