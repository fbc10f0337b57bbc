// Drives the agent stand-in from a test: starts the process, waits for its window, gives it
// commands, reads its log and stops it.
//
//   kxagent::agent_process_t agent(kxagent::options_in(dir));
//   agent.notice(comm, kxmessages::notice_kxaversion, block);
//   kxagent::pump_until([&] { return handled; }, 5000);
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "agentcomm/MemoryBlock.h"
#include "tracecore/win_handles.h"

namespace kxagent {

struct agent_options_t {
  std::wstring store;
  std::wstring log;
  std::wstring vault;  // empty: the demo vault beside the executable
  std::optional<std::uint32_t> version;
  bool fingers = true;
};
// A store and a log in |dir|.
agent_options_t options_in(const std::wstring& dir);

class agent_process_t {
 public:
  explicit agent_process_t(agent_options_t options);
  ~agent_process_t();  // asks it to quit, then ends it
  agent_process_t(const agent_process_t&) = delete;
  agent_process_t& operator=(const agent_process_t&) = delete;

  bool running() const;
  HWND window() const { return window_; }
  DWORD pid() const { return pid_; }
  HANDLE process() const { return process_.get(); }

  void notice(HWND comm, std::uint32_t code, const serialization::memoryblock_i& block);
  void action(HWND comm, std::uint32_t operation, HWND reply = nullptr);
  void set_noack(bool on);
  // With |on|, the notices and actions the agent would deliver are kept; off delivers them.
  void hold_deliveries(bool on);
  void die_in_call();
  void set_version(std::uint32_t version);
  // Waits up to |ms| for the process to end.
  bool wait_exit(DWORD ms);

  // Every log entry so far.
  std::vector<nlohmann::json> log() const;
  // The entries of one kind.
  std::vector<nlohmann::json> log_of(const std::string& kind) const;

 private:
  void command(std::uint32_t cmd, const std::vector<std::uint8_t>& data);

  agent_options_t options_;
  tracecore::unique_handle process_;
  DWORD pid_ = 0;
  HWND window_ = nullptr;
};

// Dispatches this thread's messages until |done| answers true or |ms| pass; returns |done|().
bool pump_until(const std::function<bool()>& done, DWORD ms);

std::wstring executable_directory();  // with a trailing backslash

}  // namespace kxagent
