// Cost of the trace operations: a call while tracing is off, and formatting plus enciphering one
// record while it is on, each beside its limit (BM_Limit_*).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <string_view>
#include <vector>

#include "tracecore/record.h"
#include "tracecore/trace.h"
#include "tracecore/tracer.h"

namespace {

void BM_TraceWhileOff(benchmark::State& state) {
  int value = 42;
  for (auto _ : state) {
    KXTRACE("'`I0A`'Loaded document %s[%p].%d", "x", static_cast<void*>(&value), value);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TraceWhileOff);

// The limit of a call while tracing is off: one relaxed load of a flag and a branch.
std::atomic<bool> g_bench_flag{false};
void BM_Limit_FlagTest(benchmark::State& state) {
  int value = 42;
  for (auto _ : state) {
    if (g_bench_flag.load(std::memory_order_relaxed)) benchmark::DoNotOptimize(value);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Limit_FlagTest);

void BM_CategoryTestWhileOff(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tracecore::category_on(tracecore::cat_control_matching));
}
BENCHMARK(BM_CategoryTestWhileOff);

void BM_EncodeRecord(benchmark::State& state) {
  const std::string text = "'`I0A`'Loaded document HTMLDocument[0000000002A41B30].https://login.example.com/signin";
  std::vector<std::uint8_t> buf(tracecore::record_size(text.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(tracecore::encode_record(0x1A2B, 'U', text, buf.data()));
  }
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_EncodeRecord);

// Formatting and enciphering one record into the memory output, as a live tracer does.
class bench_tracer_t final : public tracecore::tracer_t {
 public:
  int output_mode() override { return tracecore::mode_console; }

 protected:
  std::unique_ptr<tracecore::outputstorageinterface_t> make_output(int) override {
    return std::make_unique<encoding_sink_t>();
  }

 private:
  struct encoding_sink_t final : tracecore::outputstorageinterface_t {
    std::uint8_t buf[512];
    void write(std::uint32_t thread, char kind, std::string_view text, const char*) override {
      benchmark::DoNotOptimize(tracecore::encode_record(thread, kind, text, buf));
    }
  };
};

// The limit of a call while tracing is on: formatting the same text and enciphering its record,
// with nothing of the tracer around them (no lock, no scope lookup, no clock).
void BM_Limit_FormatAndEncipher(benchmark::State& state) {
  int value = 42;
  char text[512];
  std::uint8_t buf[512];
  for (auto _ : state) {
    const int n = std::snprintf(text, sizeof text, "'`I0A`'Loaded document %s[%p].%d", "https://login.example.com/signin",
                                static_cast<void*>(&value), value);
    benchmark::DoNotOptimize(tracecore::encode_record(0x1A2B, 'U', std::string_view(text, static_cast<size_t>(n)), buf));
  }
}
BENCHMARK(BM_Limit_FormatAndEncipher);

void BM_TraceWhileOnFormatAndEncipher(benchmark::State& state) {
  bench_tracer_t t;
  t.configure();
  auto* previous = tracecore::install(&t);
  int value = 42;
  for (auto _ : state) {
    KXTRACE("'`I0A`'Loaded document %s[%p].%d", "https://login.example.com/signin", static_cast<void*>(&value), value);
  }
  tracecore::install(previous);
}
BENCHMARK(BM_TraceWhileOnFormatAndEncipher);

}  // namespace
