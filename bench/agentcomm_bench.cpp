// Message container speed: saving and loading the fill-in notice, an empty storage and a block of
// 1,000 values, each beside a plain copy of the same block's bytes (the *_Memcpy limits). The
// "save_allocs" counter is the number of heap allocations one save makes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "agentcomm/AgentMessages.h"

// Counting replacements of the global allocation functions.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
long g_allocs = 0;  // the benchmarks run on one thread
}  // namespace

void* operator new(std::size_t n) {
  ++g_allocs;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  ++g_allocs;
  return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace kxmessages;
using serialization::CMemoryObjectEx;
using serialization::StorageNamed::InMemStorageSpace::CInMemStorage;

notice_senddata_t fill_in_notice() {
  notice_senddata_t n;
  n.requestID = 0x2A31;
  n.manifestasstring = u"";
  n.datatofillin.operation = 1;
  n.datatofillin.profilename = u"Work account";
  n.datatofillin.updatedate = "2024-05-17 10:22";
  n.datatofillin.timestampid = "1715941320";
  n.datatofillin.groupname = "default";
  n.datatofillin.manifestid = "{6F1A2B3C-0D4E-4F50-8A9B-C1D2E3F40516}";
  const char16_t* names[] = {u"User name", u"Password", u"Domain"};
  for (int i = 0; i < 3; ++i) {
    profileitem_t item;
    item.displayname = names[i];
    item.value = u"someone@example.com";
    item.dbname = "field" + std::to_string(i);
    item.memid = 100 + i;
    n.datatofillin.profileitems.push_back(item);
  }
  return n;
}

void record_save_allocs(benchmark::State& state, const CInMemStorage& s) {
  CMemoryObjectEx block;
  const long before = g_allocs;
  s.save(block);
  state.counters["save_allocs"] = static_cast<double>(g_allocs - before);
  state.counters["block_bytes"] = block.size();
  CInMemStorage r;
  const long before_load = g_allocs;
  r.load(block);
  state.counters["load_allocs"] = static_cast<double>(g_allocs - before_load);
}

void save_load(benchmark::State& state, const CInMemStorage& s) {
  record_save_allocs(state, s);
  for (auto _ : state) {
    CMemoryObjectEx block;
    s.save(block);
    CInMemStorage r;
    benchmark::DoNotOptimize(r.load(block));
  }
}

// The limit of a save and load: one copy of the block's bytes into memory already allocated.
void copy_block(benchmark::State& state, const CInMemStorage& s) {
  CMemoryObjectEx block;
  s.save(block);
  const auto bytes = block.bytes();
  std::vector<std::uint8_t> to(bytes.size());
  for (auto _ : state) {
    std::memcpy(to.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.counters["block_bytes"] = static_cast<double>(bytes.size());
}

void BM_FillInNotice_SaveLoad(benchmark::State& state) {
  CInMemStorage s;
  write_message(fill_in_notice(), s);
  save_load(state, s);
}
BENCHMARK(BM_FillInNotice_SaveLoad);

void BM_FillInNotice_Memcpy(benchmark::State& state) {
  CInMemStorage s;
  write_message(fill_in_notice(), s);
  copy_block(state, s);
}
BENCHMARK(BM_FillInNotice_Memcpy);

// The whole exchange: field list into a storage, save, load, field list back out.
void BM_FillInNotice_EncodeDecode(benchmark::State& state) {
  const notice_senddata_t n = fill_in_notice();
  for (auto _ : state) {
    CMemoryObjectEx block;
    encode(n, block);
    notice_senddata_t back;
    benchmark::DoNotOptimize(decode(back, block));
  }
}
BENCHMARK(BM_FillInNotice_EncodeDecode);

void BM_EmptyStorage_SaveLoad(benchmark::State& state) {
  CInMemStorage s;
  save_load(state, s);
}
BENCHMARK(BM_EmptyStorage_SaveLoad);

void BM_ThousandValues_SaveLoad(benchmark::State& state) {
  CInMemStorage s;
  char name[16];
  for (int i = 0; i < 1000; ++i) {
    std::snprintf(name, sizeof name, "value%04d", i);
    s.put_int(name, i);
  }
  save_load(state, s);
}
BENCHMARK(BM_ThousandValues_SaveLoad);

// The two halves of the round trip above, to see where its time goes.
void BM_ThousandValues_SaveOnly(benchmark::State& state) {
  CInMemStorage s;
  char name[16];
  for (int i = 0; i < 1000; ++i) {
    std::snprintf(name, sizeof name, "value%04d", i);
    s.put_int(name, i);
  }
  for (auto _ : state) {
    CMemoryObjectEx block;
    s.save(block);
    benchmark::DoNotOptimize(block.bytes().data());
  }
}
BENCHMARK(BM_ThousandValues_SaveOnly);

void BM_ThousandValues_LoadOnly(benchmark::State& state) {
  CInMemStorage s;
  char name[16];
  for (int i = 0; i < 1000; ++i) {
    std::snprintf(name, sizeof name, "value%04d", i);
    s.put_int(name, i);
  }
  CMemoryObjectEx block;
  s.save(block);
  for (auto _ : state) {
    CInMemStorage r;
    benchmark::DoNotOptimize(r.load(block));
  }
}
BENCHMARK(BM_ThousandValues_LoadOnly);

void BM_ThousandValues_Memcpy(benchmark::State& state) {
  CInMemStorage s;
  char name[16];
  for (int i = 0; i < 1000; ++i) {
    std::snprintf(name, sizeof name, "value%04d", i);
    s.put_int(name, i);
  }
  copy_block(state, s);
}
BENCHMARK(BM_ThousandValues_Memcpy);

}  // namespace
