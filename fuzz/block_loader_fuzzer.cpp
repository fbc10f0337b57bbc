// The block loader on a peer's bytes: load, save what was read, load that again. The second load
// must read the whole block and give the same tree, so saving it once more gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "agentcomm/InMemStorage.h"

using namespace serialization;
using namespace serialization::StorageNamed::InMemStorageSpace;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  CInMemStorage first;
  if (!first.load(fake_memblock_t(data, static_cast<std::uint32_t>(size)))) return 0;
  CMemoryObjectEx saved;
  const std::uint32_t n = first.save(saved);
  if (n == 0 || n != saved.size()) std::abort();
  CInMemStorage second;
  bool complete = false;
  if (second.load(saved, &complete) != n || !complete) std::abort();
  CMemoryObjectEx again;
  if (second.save(again) != n || std::memcmp(saved.data(), again.data(), n) != 0) std::abort();
  return 0;
}
