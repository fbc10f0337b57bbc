// The server call to the agent and the blocks that travel beside it.
//
// Everything the component asks of the agent goes through the agent's 4096-byte buffer: the
// component takes the channel mutex, writes one record, sets the data-ready event and waits for the
// buffer-ready event; the agent acts and acknowledges. Bulk data travels in a per-call mapping,
// made new (never one that exists already) and filled while the mutex is held.
//
// The caller is the browser's user-interface thread, so no other process may hold it for ever: the
// wait for the mutex, the wait for the acknowledgement and messages sent to windows of other
// processes all have limits (wait_limits_t); a call that runs into one is traced and reported as
// not done.
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

// How long the calling thread may wait for another process, in milliseconds.
struct wait_limits_t {
  DWORD mutex_ms;            // for the channel mutex
  DWORD acknowledgement_ms;  // for the agent's acknowledgement of a record
  DWORD window_message_ms;   // for the answer to a message sent to the agent's or another window
  bool operator==(const wait_limits_t&) const = default;
};

// Measured under Wine against the agent stand-in with a dozen manifests in its store, while builds
// shared the two cores: a forwarded message 1 to 3 ms (median), 9 ms the slowest; a manifest stored
// with the lookup cache rebuilt 5 to 16 ms, 34 ms; a fill-in request (manifest read and parsed, vault
// searched) 3 to 8 ms, 57 ms; a new manifest stored, the cache rebuilt and the update announced 9 to
// 27 ms, 77 ms. The real agent writes files and may wait for a window of its own on a busy machine:
// it gets ten seconds, more than a hundred times the slowest call seen, after which the user has long
// noticed a frozen browser window. Another caller holds the mutex for at most its own acknowledgement
// limit, so waiting two seconds longer than that lets a call queued behind a slow one still get its
// turn. A window procedure answers at once: two seconds, and a hung window (SMTO_ABORTIFHUNG) is not
// waited for at all.
inline constexpr DWORD kAcknowledgementLimitMs = 10000;
inline constexpr DWORD kMutexLimitMs = kAcknowledgementLimitMs + 2000;
inline constexpr DWORD kWindowMessageLimitMs = 2000;
inline constexpr wait_limits_t default_wait_limits{kMutexLimitMs, kAcknowledgementLimitMs, kWindowMessageLimitMs};

// The limits in force for every thread of the process; tests shorten them.
wait_limits_t wait_limits();
void set_wait_limits(const wait_limits_t& limits);

// A forwarded-message server call: the agent sends the message and returns its result (0 when the
// call did not happen or the agent left the field alone; last_call_result() tells them apart).
// A window of the calling thread gets the message directly (traced), without a server call: the
// agent's message to it could not be handled while the thread waits for the agent.
std::uint32_t forward_message(HWND target, UINT message, WPARAM wparam, LPARAM lparam);

// A text record: |name| in the record, |text| in the text mapping. False when both are empty, when
// |name| does not fit the record, when the mapping cannot be made (the name exists already, or it
// maps less than the text) or when the call was not done.
bool send_text(HWND target, UINT message, std::string_view name, std::string_view text);

// A block-pass record with |block| in the outgoing block mapping. False for an empty block, when the
// mapping cannot be made (as for send_text) or when the call was not done.
bool pass_block(HWND target, UINT message, std::uint32_t code, const serialization::memoryblock_i& block);

// Copies the payload of the incoming block mapping |name| into |out|; |out| is empty when the mapping
// is absent, when its length field claims more than the view really holds, or when the length is
// above the storage's max_block_size.
void receive_block(const wchar_t* name, serialization::memoryblock_i& out);

// Sends |message| to a window of another process and waits at most the window-message limit for the
// answer, not at all when the window's thread is hung. False, traced, when no answer came; |answer|
// is then 0.
bool send_window_message(HWND target, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* answer = nullptr);

// The agent's window ("Kestrix Desk Agent" as class and title), or null. The first miss in the life
// of the module traces "'`I04`'KXAgent not running", later ones "'`I04`'NoKXAgent".
HWND find_agent_window();
// The suite's global avatar window, with the same one-shot traces for "GAvatar".
HWND find_gavatar_window();

// Follows GetParent while the window is a child window.
HWND top_level_of(HWND window);

// How a server call ended; for tests and the benchmark.
enum class call_result_t {
  done,              // acknowledged
  no_mutex,          // the mutex could neither be created nor opened
  mutex_wait,        // the mutex was not had within its limit, the wait failed, or the mutex was
                     // abandoned (then owned, and given back at once: the buffer's state is unknown)
  no_buffer,         // the agent's buffer or one of its events is missing
  no_mapping,        // the call's own mapping could not be made
  not_acknowledged,  // no acknowledgement within its limit, the wait failed, or the agent process ended
  failed,            // an exception ended the call
};
// The result of the last server call on this thread.
call_result_t last_call_result();

}  // namespace ffipc
