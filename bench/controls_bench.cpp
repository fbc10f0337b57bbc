// Enumerating and labelling the controls of a large page through the snapshot DOM: 300 inputs over
// the top document and two frames, labelled by label elements, table cells and plain text.
#include <benchmark/benchmark.h>

#include <string>

#include "include_extension/Controls.h"
#include "bench/large_page.h"
#include "peers/dom/SnapshotDom.h"

namespace {

using kxbench::large_page;

void BM_EnumerateControls(benchmark::State& state) {
  auto page = large_page();
  for (auto _ : state) {
    ffcontrols controls;
    controls.build(page->document());
    benchmark::DoNotOptimize(controls.list().data());
  }
}
BENCHMARK(BM_EnumerateControls)->Unit(benchmark::kMicrosecond);

void BM_EnumerateAndLabelControls(benchmark::State& state) {
  auto page = large_page();
  std::size_t count = 0;
  for (auto _ : state) {
    ffcontrols controls;
    controls.build(page->document());
    controls.label();
    count = controls.list().size();
    benchmark::DoNotOptimize(controls.list().data());
  }
  state.counters["controls"] = static_cast<double>(count);
}
BENCHMARK(BM_EnumerateAndLabelControls)->Unit(benchmark::kMicrosecond);

// A real page as Chromium laid it out (tests/pages/registration.html): ten controls in one form.
void BM_RegistrationPage(benchmark::State& state) {
  auto page = snapdom::page_t::load_file(std::string(KX_PAGES_DIR) + "/registration.json");
  for (auto _ : state) {
    ffcontrols controls;
    controls.build(page->document());
    controls.label();
    benchmark::DoNotOptimize(controls.list().data());
  }
}
BENCHMARK(BM_RegistrationPage)->Unit(benchmark::kMicrosecond);

}  // namespace
