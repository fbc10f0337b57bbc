// Every typed message decoded from a peer's bytes. A decoded message encodes and decodes again to
// an equal message.
#include <cstdint>
#include <cstdlib>

#include "agentcomm/AgentMessages.h"

namespace {

using namespace kxmessages;

template <class M>
void check(const serialization::memoryblock_i& block) {
  M message;
  decode(message, block);
  serialization::CMemoryObjectEx again;
  if (encode(message, again) == 0) std::abort();
  M back;
  if (!decode(back, again) || !(back == message)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  const serialization::fake_memblock_t block(data, static_cast<std::uint32_t>(size));
  check<notice_requestaborted_t>(block);
  check<notice_kxaversion_t>(block);
  check<notice_highlight_t>(block);
  check<notice_senddata_t>(block);
  check<block_filldata_request_t>(block);
  check<block_newmanifest_t>(block);
  check<block_profile_operation_t>(block);
  check<block_domain_manifests_t>(block);
  check<block_highlight_t>(block);
  check<block_replyto_t>(block);
  return 0;
}
