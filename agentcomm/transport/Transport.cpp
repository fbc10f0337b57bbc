#include "agentcomm/transport/Transport.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <functional>
#include <span>
#include <stdexcept>

#include "agentcomm/InMemStorage.h"
#include "agentcomm/transport/KernelObjects.h"
#include "agentcomm/transport/ServerRecords.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"
#include "tracecore/win_handles.h"

namespace ffipc {
namespace {

constexpr channel_t kChannels[3] = {
    {L"KXMAX_NIPC_MUTEX", L"KXMAX_NIPC_BUFFER_READY", L"KXMAX_NIPC_DATA_READY", L"KXMAX_NIPC_BUFFER", 4096,
     L"KXTEMPLATE", L"BLOCK_TO_KX", L"BLOCK_TO_FF"},
    {L"KXMAX_BIPC_MUTEX", L"KXMAX_BIPC_BUFFER_READY", L"KXMAX_BIPC_DATA_READY", L"KXMAX_BIPC_BUFFER", 4096,
     L"KXTEMPLATE", L"BLOCK_TO_KX", L"BLOCK_TO_FF"},
    {L"KXMAX_AIPC_MUTEX", L"KXMAX_AIPC_BUFFER_READY", L"KXMAX_AIPC_DATA_READY", L"KXMAX_AIPC_BUFFER", 4096,
     L"KXTEMPLATE", L"BLOCK_TO_KX", L"BLOCK_TO_FF"},
};

constexpr const wchar_t* kAgentName = L"Kestrix Desk Agent";

// Module-wide one-shot flags: the first miss is traced in full.
std::atomic<bool> g_first_agent_miss{true};
std::atomic<bool> g_first_avatar_miss{true};
std::atomic<bool> g_first_mapping_miss{true};

thread_local call_result_t t_last_result = call_result_t::done;

std::atomic<DWORD> g_mutex_limit{kMutexLimitMs};
std::atomic<DWORD> g_acknowledgement_limit{kAcknowledgementLimitMs};
std::atomic<DWORD> g_window_message_limit{kWindowMessageLimitMs};

std::uint32_t u32(std::uintptr_t v) { return static_cast<std::uint32_t>(v); }
std::uint32_t handle32(HWND h) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h)); }

void trace_missing_mapping(const wchar_t* name) {
  const std::string text = "MMF: cannot open file mapping '" + tracecore::to_utf8(std::wstring_view(name)) + "'";
  if (g_first_mapping_miss.exchange(false))
    KXERROR_CODE(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "%s", text.c_str());
  else
    KXTRACE("'`I04`'%s", text.c_str());
}

// The agent's process, found from its window, so that a wait for its acknowledgement can end when
// the process does. Null when there is no window or the process cannot be opened for waiting. Kept
// per thread while the same agent window lives: looking windows up costs more than the call itself.
struct agent_process_t {
  HWND window = nullptr;
  DWORD pid = 0;
  tracecore::unique_handle process;
};
thread_local agent_process_t t_agent;

HANDLE agent_process() {
  DWORD pid = 0;
  if (t_agent.process && IsWindow(t_agent.window) && GetWindowThreadProcessId(t_agent.window, &pid) &&
      pid == t_agent.pid && WaitForSingleObject(t_agent.process.get(), 0) == WAIT_TIMEOUT)
    return t_agent.process.get();
  t_agent.process.reset();
  t_agent.window = FindWindowExW(nullptr, nullptr, kAgentName, kAgentName);
  pid = 0;
  if (!t_agent.window || !GetWindowThreadProcessId(t_agent.window, &pid) || pid == 0 || pid == GetCurrentProcessId())
    return nullptr;
  t_agent.pid = pid;
  t_agent.process.reset(OpenProcess(SYNCHRONIZE, FALSE, pid));
  return t_agent.process.get();
}

// Takes the channel's mutex: creates it with the mutex security and the low label, or opens the
// agent's when creating is denied.
tracecore::unique_handle take_mutex(const channel_t& ch) {
  tracecore::unique_handle mutex(CreateMutexW(mutex_security().attributes(), FALSE, ch.mutex));
  if (mutex) {
    apply_low_label(mutex.get());
    return mutex;
  }
  const DWORD error = GetLastError();
  KXTRACE("Failed to create mutex. OK. Try to open it.");
  if (error == ERROR_ACCESS_DENIED) {
    mutex.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, ch.mutex));
    if (!mutex) KXERROR_LAST("Failed to open mutex. BAD.");
  }
  return mutex;
}

// What one server call does besides the fixed steps: |prepare| makes and fills the call's own
// mapping (under the channel mutex, once the agent's buffer is there; the call holds it until it
// ends, still under the mutex, so that the next caller can make the name anew), |write| puts the
// record into the buffer, |read_back| takes what the agent left there after the acknowledgement.
struct call_parts_t {
  std::function<mapping_t()> prepare;
  std::function<bool(std::span<std::uint8_t>)> write;
  std::function<void(std::span<const std::uint8_t>)> read_back;
};

// Waits for the channel mutex within its limit. An abandoned mutex is owned by this thread now: it
// is held by |lock| so that it is given back, and the call still ends, since the previous holder
// died somewhere inside its call and the buffer's state is unknown.
bool wait_for_mutex(HANDLE mutex, tracecore::mutex_lock_t& lock) {
  const DWORD limit = g_mutex_limit.load();
  const DWORD wait = WaitForSingleObject(mutex, limit);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) lock = tracecore::mutex_lock_t(mutex);
  if (wait == WAIT_OBJECT_0) return true;
  KXERROR_CODE(wait, "WaitForSingleObject on Mutex");
  if (wait == WAIT_TIMEOUT) KXERROR("the channel mutex was not free within %lu ms", static_cast<unsigned long>(limit));
  return false;
}

// Waits for the agent's acknowledgement within its limit, or until the agent's process ends.
DWORD wait_for_acknowledgement(HANDLE ack, HANDLE process) {
  const DWORD limit = g_acknowledgement_limit.load();
  DWORD acked;
  if (process) {
    const HANDLE waits[2] = {ack, process};
    acked = WaitForMultipleObjects(2, waits, FALSE, limit);
    if (acked == WAIT_OBJECT_0 + 1) KXERROR("agent process ended during the call");
  } else {
    acked = WaitForSingleObject(ack, limit);
  }
  if (acked == WAIT_TIMEOUT) KXERROR("no acknowledgement within %lu ms", static_cast<unsigned long>(limit));
  return acked;
}

// One server call on |channel_number|.
call_result_t server_call(int channel_number, const call_parts_t& parts) {
  try {
    const channel_t& ch = channel(channel_number);
    // Declared in reverse order of release: the call's own mapping goes first, then the events, then
    // the buffer's view and mapping, then the lock, then the mutex handle.
    tracecore::unique_handle mutex = take_mutex(ch);
    if (!mutex) {
      KXERROR("Create Mutex failed");
      return call_result_t::no_mutex;
    }
    tracecore::mutex_lock_t lock;
    if (!wait_for_mutex(mutex.get(), lock)) return call_result_t::mutex_wait;

    DWORD open_error = 0;
    mapping_t buffer = mapping_t::open(ch.buffer, FILE_MAP_WRITE, &open_error);
    if (!buffer.handle()) {
      if (open_error == ERROR_FILE_NOT_FOUND)
        trace_missing_mapping(ch.buffer);
      else
        KXERROR_CODE(HRESULT_FROM_WIN32(open_error), "OpenFileMapping");
    } else if (!buffer) {
      KXERROR_CODE(HRESULT_FROM_WIN32(open_error), "MapViewOfFile");
    }
    tracecore::unique_handle ack(OpenEventW(SYNCHRONIZE, FALSE, ch.buffer_ready));
    if (!ack) KXERROR_LAST("no AckEvent");
    tracecore::unique_handle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, ch.data_ready));
    if (!ready) KXERROR_LAST("no ReadyEvent");
    if (!buffer || !ack || !ready) return call_result_t::no_buffer;
    mapping_t own = parts.prepare ? parts.prepare() : mapping_t();
    if (parts.prepare && !own) return call_result_t::no_mapping;

    // The buffer as really mapped, at most the channel's size: every record is written inside it.
    const std::span<std::uint8_t> view = buffer.bytes().first(std::min<std::uint32_t>(buffer.size(), ch.size));
    if (!parts.write(view)) return call_result_t::failed;
    const HANDLE process = agent_process();
    // An acknowledgement that an agent gave after an earlier call had stopped waiting for it would
    // answer this call before the agent has read its record: it is taken first.
    WaitForSingleObject(ack.get(), 0);
    SetEvent(ready.get());
    const DWORD acked = wait_for_acknowledgement(ack.get(), process);
    if (acked != WAIT_OBJECT_0) {
      KXERROR_CODE(acked, "cannot transfer the rest from client");
      return call_result_t::not_acknowledged;
    }
    if (parts.read_back) parts.read_back(view);
    return call_result_t::done;
  } catch (const std::exception& e) {
    KXERROR("_callserverprocess %s", e.what());
  } catch (...) {
    KXERROR("_callserverprocess");
  }
  return call_result_t::failed;
}

call_result_t run(int channel_number, const call_parts_t& parts) {
  t_last_result = server_call(channel_number, parts);
  return t_last_result;
}

// A new mapping |name| of |header| + |body| bytes, filled with both; empty, traced with |failure|,
// when it cannot be made.
mapping_t filled_mapping(const wchar_t* name, std::span<const std::uint8_t> header,
                         std::span<const std::uint8_t> body, const char* failure) {
  const std::uint64_t total = std::uint64_t{header.size()} + body.size();
  mapping_t mapping = total <= 0xFFFFFFFFu ? mapping_t::create(name, static_cast<std::uint32_t>(total)) : mapping_t();
  // create() checked the view against the size asked; every copy stays inside size().
  if (!mapping || mapping.size() < total) {
    KXERROR("%s", failure);
    return {};
  }
  if (!header.empty()) std::memcpy(mapping.data(), header.data(), header.size());
  if (!body.empty()) std::memcpy(mapping.data() + header.size(), body.data(), body.size());
  return mapping;
}

HWND find_named_window(const wchar_t* cls, const wchar_t* title, std::atomic<bool>& first_miss,
                       const char* no_access, const char* first_text, const char* later_text) {
  SetLastError(0);
  HWND hwnd = FindWindowExW(nullptr, nullptr, cls, title);
  if (hwnd) return hwnd;
  const DWORD err = GetLastError();
  if (err != 0 && err != ERROR_FILE_NOT_FOUND)
    KXERROR_CODE(HRESULT_FROM_WIN32(err), "%s", no_access);
  else if (first_miss.exchange(false))
    KXTRACE("%s", first_text);
  else
    KXTRACE("%s", later_text);
  return nullptr;
}

}  // namespace

const channel_t& channel(int number) {
  if (number < 1 || number > 3) throw std::runtime_error("protocol oo");
  return kChannels[number - 1];
}

wait_limits_t wait_limits() {
  return {g_mutex_limit.load(), g_acknowledgement_limit.load(), g_window_message_limit.load()};
}

void set_wait_limits(const wait_limits_t& limits) {
  g_mutex_limit = limits.mutex_ms;
  g_acknowledgement_limit = limits.acknowledgement_ms;
  g_window_message_limit = limits.window_message_ms;
}

std::uint32_t forward_message(HWND target, UINT message, WPARAM wparam, LPARAM lparam) {
  // The agent would send the message to a window of this thread while the thread waits for the
  // agent's acknowledgement, and neither could go on: such a window gets it directly.
  if (target && GetWindowThreadProcessId(target, nullptr) == GetCurrentThreadId()) {
    KXTRACE("forward: window %p is this thread's, message 0x%x sent directly", static_cast<void*>(target),
            static_cast<unsigned>(message));
    const LRESULT answer = SendMessageW(target, message, wparam, lparam);
    t_last_result = call_result_t::done;
    return u32(static_cast<std::uintptr_t>(answer));
  }
  std::uint32_t result = 0;
  run(1, {{},
          [&](std::span<std::uint8_t> view) {
            return write_record(view, forward_record_t{GetCurrentProcessId(), 0, handle32(target), message,
                                                       u32(wparam), u32(static_cast<std::uintptr_t>(lparam)), 0});
          },
          [&](std::span<const std::uint8_t> view) { result = get_u32(view, forward_result_offset); }});
  return result;
}

bool send_text(HWND target, UINT message, std::string_view name, std::string_view text) {
  if (name.empty() && text.empty()) {
    KXERROR("invalid data to send");
    return false;
  }
  if (name.size() > max_text_name || text.size() >= 0xFFFFFFFFu) {
    KXERROR("invalid data to send");
    return false;
  }
  // The text and its NUL.
  const std::uint8_t nul = 0;
  const call_result_t result = run(
      1, {[&] {
            return filled_mapping(channel(1).text, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                                  {&nul, 1}, "cannot create mapping to send");
          },
          [&](std::span<std::uint8_t> view) {
            return write_record(view, text_record_t{GetCurrentProcessId(), handle32(target), message, std::string(name)});
          },
          {}});
  return result == call_result_t::done;
}

bool pass_block(HWND target, UINT message, std::uint32_t code, const serialization::memoryblock_i& block) {
  const std::uint32_t length = block.size();
  if (length == 0) {
    KXERROR("invalid data to pass");
    return false;
  }
  if (length > 0xFFFFFFFFu - 4) {
    KXERROR("cannot create mapping to pass");
    return false;
  }
  std::uint8_t prefix[4];
  put_u32(prefix, 0, length);
  const call_result_t result = run(
      1, {[&] { return filled_mapping(channel(1).block_to_agent, prefix, block.bytes(), "cannot create mapping to pass"); },
          [&](std::span<std::uint8_t> view) {
            return write_record(view, block_record_t{GetCurrentProcessId(), handle32(target), message, code});
          },
          {}});
  return result == call_result_t::done;
}

void receive_block(const wchar_t* name, serialization::memoryblock_i& out) {
  DWORD error = 0;
  mapping_t mapping = mapping_t::open(name, FILE_MAP_READ, &error);
  out.release();
  if (!mapping.handle()) {
    if (error == ERROR_FILE_NOT_FOUND)
      trace_missing_mapping(name);
    else
      KXERROR_CODE(HRESULT_FROM_WIN32(error), "OpenFileMapping");
    return;
  }
  if (!mapping) {
    KXERROR_CODE(HRESULT_FROM_WIN32(error), "MapViewOfFile");
    return;
  }
  const auto payload = read_length_prefixed(std::span<const std::uint8_t>(mapping.data(), mapping.size()));
  if (!payload) {
    KXERROR("block length %u exceeds its mapping", static_cast<unsigned>(get_u32(mapping.bytes(), 0)));
    return;
  }
  // Refused before anything is allocated: no load would accept it.
  if (payload->size() > serialization::StorageNamed::InMemStorageSpace::max_block_size) {
    KXERROR("block length %u above the limit", static_cast<unsigned>(payload->size()));
    return;
  }
  out.assign(payload->data(), static_cast<std::uint32_t>(payload->size()));
}

bool send_window_message(HWND target, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* answer) {
  DWORD_PTR result = 0;
  const DWORD limit = g_window_message_limit.load();
  SetLastError(0);
  const bool answered =
      SendMessageTimeoutW(target, message, wparam, lparam, SMTO_NORMAL | SMTO_ABORTIFHUNG, limit, &result) != 0;
  if (!answered)
    KXERROR_CODE(HRESULT_FROM_WIN32(GetLastError()), "no answer from window %p within %lu ms",
                 static_cast<void*>(target), static_cast<unsigned long>(limit));
  if (answer) *answer = answered ? result : 0;
  return answered;
}

HWND find_agent_window() {
  return find_named_window(kAgentName, kAgentName, g_first_agent_miss, "No access to KxAgent",
                           "'`I04`'KXAgent not running", "'`I04`'NoKXAgent");
}

HWND find_gavatar_window() {
  return find_named_window(L"KX_GlobalAvatarClass", L"KX_GlobalAvatar", g_first_avatar_miss, "No access to GAvatar",
                           "'`I04`'GAvatar not running", "'`I04`'NoGAvatar");
}

HWND top_level_of(HWND window) {
  while (window && (GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD)) {
    HWND parent = GetParent(window);
    if (!parent) break;
    window = parent;
  }
  return window;
}

call_result_t last_call_result() { return t_last_result; }

}  // namespace ffipc
