// Recognition of the large page (300 controls) against 20 candidate manifests named by the agent's
// lookup cache: from the lookup to the cached state, and its three parts on their own (loading the
// manifests, enumerating the controls, matching the forms).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/large_page.h"
#include "environment/LookupCache.h"
#include "include_extension/Controls.h"
#include "include_extension/PageState.h"
#include "include_extension/Recognition.h"
#include "include_extension/QuickLinks.h"
#include "manifest/ManifestCache.h"
#include "manifest/ManifestCreation.h"
#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"
#include "manifest/Matching.h"
#include "tracecore/utf.h"

namespace {

namespace fs = std::filesystem;
constexpr int kManifests = 20;
constexpr const char* kUrl = "https://www.example.test/";

// The page, 20 manifest files trained from 20 of its forms, and a lookup section naming them.
struct fixture_t {
  std::unique_ptr<snapdom::page_t> page = kxbench::large_page();
  fs::path dir = fs::temp_directory_path() / "kx_recognition_bench";
  std::vector<std::uint8_t> section;

  fixture_t() {
    fs::create_directories(dir);
    ffcontrols controls;
    controls.build(page->document());
    controls.label();
    lookupcache::lookup_section_writer_t writer({dir.string() + "/"});
    for (int f = 0; f < kManifests; ++f) {
      // The controls of form "tf<f>" of the top document.
      std::vector<ffcontrol_record> records;
      for (const ffcontrol& c : controls.list()) {
        if (c.formname != "tf" + std::to_string(f)) continue;
        records.push_back(c);
        records.back().top = kUrl;
      }
      Manifest m;
      manifest::creation_sources_t sources = manifest::processSources();
      sources.filter = false;
      manifest::InitManifest(u"Account", u"MozillaWindowClass", records, controls.strings(), m, sources);
      std::string xml;
      manifest::manifestToText(m, xml);
      const std::string file = "form" + std::to_string(f) + ".kxm";
      std::ofstream(dir / file, std::ios::binary) << xml;
      writer.add({"example.test", 0, file, false});
    }
    section = writer.bytes();
    kxext::set_docID(page->document(), [] { return 0x1234u; });
  }

  kxext::recognition_sources_t sources() const {
    return {[this](std::u16string_view url, bool traceOn) { return lookupcache::cached_url(section, url, traceOn); },
            nullptr};
  }
};

fixture_t& fixture() {
  static fixture_t f;
  return f;
}

// The 20 manifest files of the fixture, parsed.
std::vector<Manifest> fixture_manifests(const fixture_t& f) {
  std::vector<Manifest> manifests(kManifests);
  for (int i = 0; i < kManifests; ++i)
    loadM_properly((f.dir / ("form" + std::to_string(i) + ".kxm")).u16string(), manifests[static_cast<std::size_t>(i)]);
  return manifests;
}

void BM_RecognizeToCachedState(benchmark::State& state) {
  fixture_t& f = fixture();
  kxext::CPageStateCache cache;
  const kxext::recognition_sources_t sources = f.sources();
  std::size_t recognized = 0;
  for (auto _ : state) {
    kxext::PageState page_state;
    kxext::recognize_page(f.page->document(), tracecore::to_utf16(kUrl), sources, page_state);
    cache.cached_state(f.page->document(), page_state, true);
    recognized = page_state.recognized.size();
  }
  state.counters["manifests"] = kManifests;
  state.counters["recognized"] = static_cast<double>(recognized);
}
BENCHMARK(BM_RecognizeToCachedState)->Unit(benchmark::kMicrosecond);

// The same page on another host of the site: no URL is equal, so every one of the 20 forms takes
// the domain-strength comparison, which needs the registrable domains of both URLs.
void BM_RecognizeOnAnotherHostOfTheSite(benchmark::State& state) {
  fixture_t& f = fixture();
  kxext::CPageStateCache cache;
  const kxext::recognition_sources_t sources = f.sources();
  const std::u16string url = u"https://login.example.test/account";
  std::size_t recognized = 0;
  for (auto _ : state) {
    kxext::PageState page_state;
    kxext::recognize_page(f.page->document(), url, sources, page_state);
    cache.cached_state(f.page->document(), page_state, true);
    recognized = page_state.recognized.size();
  }
  state.counters["recognized"] = static_cast<double>(recognized);
}
BENCHMARK(BM_RecognizeOnAnotherHostOfTheSite)->Unit(benchmark::kMicrosecond);

// The URL checks alone of the 20 forms at domain strength (registrable domains from the compiled-in
// Public Suffix List).
void BM_DomainStrengthUrlChecks(benchmark::State& state) {
  const std::vector<Manifest> manifests = fixture_manifests(fixture());
  const std::u16string url = u"https://login.example.test/account";
  for (auto _ : state) {
    int matched = 0;
    for (const Manifest& m : manifests)
      for (const ManifestForm& form : m.forms) matched += kxext::is_url_match(manifest::checkFormUrl(form, url));
    benchmark::DoNotOptimize(matched);
  }
}
BENCHMARK(BM_DomainStrengthUrlChecks)->Unit(benchmark::kMicrosecond);

// Activation as a whole, everything OnActivate decides except drawing: one enumeration, recognition
// through the lookup section (manifests through the parsed-manifest cache), the cached state, the
// feedback decision, the icon's control and the quick-link check. The first visit finds the cache
// empty; a revisit finds the 20 files unchanged.
struct activation_t {
  manifest::manifest_cache_t cache;
  kxext::CPageStateCache states;
  kxext::quicklinks::profile_links_t links;
  kxext::recognition_sources_t sources;

  explicit activation_t(fixture_t& f)
      : sources{[&f](std::u16string_view url, bool traceOn) { return lookupcache::cached_url(f.section, url, traceOn); },
                [this](std::u16string_view name, Manifest& m) { return cache.load(name, m); }} {}

  const ffcontrol* activate(nsIDOMDocument* document, const std::u16string& url) {
    ffcontrols controls;
    controls.build(document);
    kxext::PageState state;
    states.cached_erase(document);
    kxext::recognize_page(document, url, sources, state, nullptr, &controls);
    states.cached_insert(document, std::move(state));
    kxext::PageState cached;
    const bool have = states.cached_state(document, cached, false);
    benchmark::DoNotOptimize(links.profile_for(document, document, url));
    kxext::feedback_inputs_t in;
    in.cached = have ? &cached : nullptr;
    in.document = document;
    in.url = url;
    in.controls = &controls;
    std::int32_t mode = 0;
    if (!kxext::decide_feedback(in, mode)) return nullptr;
    const ffcontrol* target = kxext::attach_control(controls, url, have ? &cached : nullptr);
    if (target) benchmark::DoNotOptimize(target->getRect());
    return target;
  }
};

void BM_ActivationFirstVisit(benchmark::State& state) {
  fixture_t& f = fixture();
  activation_t a(f);
  const std::u16string url = tracecore::to_utf16(kUrl);
  for (auto _ : state) {
    a.cache.clear();
    benchmark::DoNotOptimize(a.activate(f.page->document(), url));
  }
  state.counters["parses"] = static_cast<double>(a.cache.parses()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ActivationFirstVisit)->Unit(benchmark::kMicrosecond);

void BM_ActivationRevisit(benchmark::State& state) {
  fixture_t& f = fixture();
  activation_t a(f);
  const std::u16string url = tracecore::to_utf16(kUrl);
  a.activate(f.page->document(), url);
  for (auto _ : state) benchmark::DoNotOptimize(a.activate(f.page->document(), url));
  state.counters["hits"] = static_cast<double>(a.cache.hits()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ActivationRevisit)->Unit(benchmark::kMicrosecond);

// The parts of a revisit that the three parts below do not cover: the 20 manifests copied from the
// parsed-manifest cache (each file's size and time read again), the state's way into the page-state
// cache and its copy out for the feedback decision, and the decision with the icon's control.
void BM_RevisitManifestCacheHits(benchmark::State& state) {
  fixture_t& f = fixture();
  manifest::manifest_cache_t cache;
  const std::u16string names = lookupcache::cached_url(f.section, tracecore::to_utf16(kUrl), false);
  std::vector<std::u16string> files;
  for (std::size_t start = 0; start < names.size();) {
    std::size_t end = names.find(u'\n', start);
    if (end == std::u16string::npos) end = names.size();
    files.push_back(names.substr(start, end - start));
    start = end + 1;
  }
  for (const auto& file : files) {
    Manifest m;
    cache.load(file, m);
  }
  for (auto _ : state) {
    for (const auto& file : files) {
      Manifest m;
      benchmark::DoNotOptimize(cache.load(file, m));
    }
  }
  state.counters["hits"] = static_cast<double>(cache.hits()) / static_cast<double>(state.iterations() + 1);
}
BENCHMARK(BM_RevisitManifestCacheHits)->Unit(benchmark::kMicrosecond);

void BM_RevisitPageStateCache(benchmark::State& state) {
  fixture_t& f = fixture();
  activation_t a(f);
  kxext::PageState recognised;
  kxext::recognize_page(f.page->document(), tracecore::to_utf16(kUrl), a.sources, recognised);
  for (auto _ : state) {
    state.PauseTiming();
    kxext::PageState fresh = recognised;  // stands for the state recognition builds
    state.ResumeTiming();
    a.states.cached_insert(f.page->document(), std::move(fresh));
    kxext::PageState cached;
    benchmark::DoNotOptimize(a.states.cached_state(f.page->document(), cached, false));
  }
}
BENCHMARK(BM_RevisitPageStateCache)->Unit(benchmark::kMicrosecond);

void BM_RevisitFeedbackDecisionAndIcon(benchmark::State& state) {
  fixture_t& f = fixture();
  activation_t a(f);
  const std::u16string url = tracecore::to_utf16(kUrl);
  kxext::PageState recognised;
  kxext::recognize_page(f.page->document(), url, a.sources, recognised);
  ffcontrols controls;
  controls.build(f.page->document());
  for (auto _ : state) {
    kxext::feedback_inputs_t in;
    in.cached = &recognised;
    in.document = f.page->document();
    in.url = url;
    in.controls = &controls;
    std::int32_t mode = 0;
    benchmark::DoNotOptimize(kxext::decide_feedback(in, mode));
    const ffcontrol* target = kxext::attach_control(controls, url, &recognised);
    if (target) benchmark::DoNotOptimize(target->getRect());
  }
}
BENCHMARK(BM_RevisitFeedbackDecisionAndIcon)->Unit(benchmark::kMicrosecond);

// Part 1: the lookup and loading the 20 manifest files.
void BM_LookupAndLoad(benchmark::State& state) {
  fixture_t& f = fixture();
  for (auto _ : state) {
    const std::u16string names = lookupcache::cached_url(f.section, tracecore::to_utf16(kUrl), false);
    std::size_t start = 0, loaded = 0;
    while (start < names.size()) {
      std::size_t end = names.find(u'\n', start);
      if (end == std::u16string::npos) end = names.size();
      Manifest m;
      loaded += loadM_properly(std::u16string_view(names).substr(start, end - start), m);
      start = end + 1;
    }
    benchmark::DoNotOptimize(loaded);
  }
}
BENCHMARK(BM_LookupAndLoad)->Unit(benchmark::kMicrosecond);

// Part 2: enumerating the page's controls.
void BM_EnumerateForRecognition(benchmark::State& state) {
  fixture_t& f = fixture();
  for (auto _ : state) {
    ffcontrols controls;
    controls.build(f.page->document());
    benchmark::DoNotOptimize(controls.list().data());
  }
}
BENCHMARK(BM_EnumerateForRecognition)->Unit(benchmark::kMicrosecond);

// Part 3: matching the 20 forms against the enumerated controls.
void BM_MatchForms(benchmark::State& state) {
  fixture_t& f = fixture();
  const std::vector<Manifest> manifests = fixture_manifests(f);
  ffcontrols controls;
  controls.build(f.page->document());
  std::vector<const ffcontrol_record*> records;
  for (const ffcontrol& c : controls.list()) records.push_back(&c);
  for (auto _ : state) {
    const manifest::prepared_controls_t prepared(records, controls.strings());
    int matched = 0;
    for (const Manifest& m : manifests)
      for (const ManifestForm& form : m.forms) {
        matched += manifest::checkFormUrl(form, tracecore::to_utf16(kUrl)) == manifest::url_exact &&
                   manifest::formMatchesControls(prepared, form);
      }
    benchmark::DoNotOptimize(matched);
  }
}
BENCHMARK(BM_MatchForms)->Unit(benchmark::kMicrosecond);

}  // namespace
