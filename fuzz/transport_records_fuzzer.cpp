// The agent reads records from a buffer another process wrote, and the component reads the
// don't-prompt list from a file: neither may read outside its bytes, and the list reads back what
// it writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "agentcomm/transport/DontPromptList.h"
#include "agentcomm/transport/ServerRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  (void)ffipc::read_forward_record(bytes);
  if (auto text = ffipc::read_text_record(bytes)) {
    if (text->name.size() + ffipc::text_name_offset >= size) std::abort();
  }
  (void)ffipc::read_block_record(bytes);
  if (auto payload = ffipc::read_length_prefixed(bytes)) {
    if (payload->size() + 4 > size) std::abort();
  }
  (void)ffipc::read_nul_terminated(bytes);

  const auto records = ffipc::dontprompt_records_t::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  const auto again = ffipc::dontprompt_records_t::parse(records.format());
  if (again.web != records.web || again.dlg != records.dlg) std::abort();
  return 0;
}
