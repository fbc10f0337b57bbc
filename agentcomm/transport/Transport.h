// The server call to the agent and the blocks that travel beside it.
//
// Everything the component asks of the agent goes through the agent's 4096-byte buffer: the
// component takes the channel mutex, writes one record, sets the data-ready event and waits for the
// buffer-ready event; the agent acts and acknowledges. Bulk data travels in a per-call mapping.
//
//   ffipc::forward_message(reply_window, WM_X, wp, lp);             // the agent sends WM_X
//   ffipc::send_text(agent, wm_manifest, "vlt::a.kxm", xml);       // the agent stores a file
//   ffipc::pass_block(agent, wm_memblock, code, block);             // the agent takes a block
//   ffipc::receive_block(L"BLOCK_TO_FF", block);                   // a notice's payload
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

#include "agentcomm/MemoryBlock.h"

namespace ffipc {

struct channel_t {
  const wchar_t* mutex;
  const wchar_t* buffer_ready;  // set by the agent: the acknowledgement
  const wchar_t* data_ready;    // set by the component: a record is there
  const wchar_t* buffer;
  std::uint32_t size;
  const wchar_t* text;
  const wchar_t* block_to_agent;
  const wchar_t* block_from_agent;
};

// Channels 1 to 3; any other number raises std::runtime_error("protocol oo").
const channel_t& channel(int number);

// A forwarded-message server call: the agent sends the message and returns its result (0 when the
// call did not happen or the agent left the field alone).
std::uint32_t forward_message(HWND target, UINT message, WPARAM wparam, LPARAM lparam);

// A text record: |name| in the record, |text| in the text mapping. False when both are empty, when
// |name| does not fit the record, or when the mapping cannot be made.
bool send_text(HWND target, UINT message, std::string_view name, std::string_view text);

// A block-pass record with |block| in the outgoing block mapping. False for an empty block or when
// the mapping cannot be made.
bool pass_block(HWND target, UINT message, std::uint32_t code, const serialization::memoryblock_i& block);

// Copies the payload of the incoming block mapping |name| into |out|; |out| is empty when the mapping
// is absent or its length field claims more than it holds.
void receive_block(const wchar_t* name, serialization::memoryblock_i& out);

// The agent's window ("Kestrix Desk Agent" as class and title), or null. The first miss in the life
// of the module traces "'`I04`'KXAgent not running", later ones "'`I04`'NoKXAgent".
HWND find_agent_window();
// The suite's global avatar window, with the same one-shot traces for "GAvatar".
HWND find_gavatar_window();

// Follows GetParent while the window is a child window.
HWND top_level_of(HWND window);

// How a server call ended; for tests and the benchmark.
enum class call_result_t {
  done,          // acknowledged
  no_mutex,      // the mutex could neither be created nor opened
  mutex_wait,    // the wait for the mutex failed or the mutex was abandoned
  no_buffer,     // the agent's buffer or one of its events is missing
  not_acknowledged,  // the acknowledgement wait failed or the agent process ended meanwhile
  failed,        // an exception ended the call
};
// The result of the last server call on this thread.
call_result_t last_call_result();

}  // namespace ffipc
