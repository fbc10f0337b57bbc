// cached_url over a lookup section of 10,000 records.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "environment/LookupCache.h"

namespace {

using namespace lookupcache;

// 10,000 records over 2,500 domains, four manifests each, spread over the buckets as real keys are.
std::vector<std::uint8_t> spread_section() {
  lookup_section_writer_t w({"C:\\ProgramData\\Kestrix\\manifests\\", "C:\\Users\\me\\manifests\\"});
  char key[32], file[32];
  for (int i = 0; i < 10000; ++i) {
    std::snprintf(key, sizeof key, "site%04d.com", i / 4);
    std::snprintf(file, sizeof file, "site%04d_%d.kxm", i / 4, i % 4);
    w.add({key, static_cast<std::uint32_t>(i % 2), file, i % 7 == 0});
  }
  return w.bytes();
}

void BM_CachedUrl_10000Records(benchmark::State& state) {
  const auto section = spread_section();
  for (auto _ : state) benchmark::DoNotOptimize(cached_url(section, u"https://www.site1234.com/login?x=1", false));
}
BENCHMARK(BM_CachedUrl_10000Records);

// The worst case: every record in the queried bucket, one domain sharing it with 9,996 others.
void BM_CachedUrl_10000Records_OneBucket(benchmark::State& state) {
  lookup_section_writer_t w({"C:\\m\\"});
  std::string key = "example.com";
  for (int i = 0; i < 10000; ++i) {
    if (i % 2500 == 0) {
      w.add({"example.com", 0, "site" + std::to_string(i) + ".kxm", false});
    } else {
      w.add({"moc.elpmaxe", 0, "other.kxm", false});  // same bucket, other key
    }
  }
  const auto section = w.bytes();
  for (auto _ : state) benchmark::DoNotOptimize(cached_url(section, u"https://www.example.com/", false));
}
BENCHMARK(BM_CachedUrl_10000Records_OneBucket);

}  // namespace
