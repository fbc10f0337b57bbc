#include "peers/agent/AgentDriver.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "peers/agent/AgentCommands.h"

namespace kxagent {
namespace {

void put(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t u32(HWND h) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h)); }

struct find_t {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK find_window(HWND hwnd, LPARAM lp) {
  auto* f = reinterpret_cast<find_t*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (pid == f->pid && std::wstring(cls) == L"Kestrix Desk Agent") {
    f->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

std::wstring in_quotes(const std::wstring& s) { return L"\"" + s + L"\""; }

}  // namespace

agent_options_t options_in(const std::wstring& dir) {
  agent_options_t o;
  o.store = dir + L"\\store";
  o.log = dir + L"\\agent.log";
  return o;
}

std::wstring executable_directory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

bool pump_until(const std::function<bool()>& done, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!done()) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return done();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 20)), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

agent_process_t::agent_process_t(agent_options_t options) : options_(std::move(options)) {
  const std::wstring dir = executable_directory();
  std::wstring cmd = in_quotes(dir + L"kxagent.exe");
  if (!options_.store.empty()) cmd += L" --store " + in_quotes(options_.store);
  if (!options_.log.empty()) cmd += L" --log " + in_quotes(options_.log);
  cmd += L" --vault " + in_quotes(options_.vault.empty() ? dir + L"demo_vault.json" : options_.vault);
  if (options_.version) cmd += L" --version " + std::to_wstring(*options_.version);
  if (!options_.fingers) cmd += L" --no-fingers";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
  CloseHandle(pi.hThread);
  process_.reset(pi.hProcess);
  pid_ = pi.dwProcessId;
  const ULONGLONG end = GetTickCount64() + 20000;
  while (GetTickCount64() < end && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    find_t f{pid_, nullptr};
    EnumWindows(&find_window, reinterpret_cast<LPARAM>(&f));
    if (f.found) {
      window_ = f.found;
      break;
    }
    Sleep(20);
  }
}

agent_process_t::~agent_process_t() {
  if (!process_) return;
  if (running()) {
    command(cmd_quit, {});
    if (WaitForSingleObject(process_.get(), 5000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
  }
  WaitForSingleObject(process_.get(), 5000);
}

bool agent_process_t::running() const {
  return process_ && window_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool agent_process_t::wait_exit(DWORD ms) {
  return process_ && WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0;
}

void agent_process_t::command(std::uint32_t cmd, const std::vector<std::uint8_t>& data) {
  if (!window_) return;
  COPYDATASTRUCT cds{};
  cds.dwData = cmd;
  cds.cbData = static_cast<DWORD>(data.size());
  cds.lpData = data.empty() ? nullptr : const_cast<std::uint8_t*>(data.data());
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 10000, &result);
}

void agent_process_t::notice(HWND comm, std::uint32_t code, const serialization::memoryblock_i& block) {
  std::vector<std::uint8_t> data;
  put(data, u32(comm));
  put(data, code);
  const auto bytes = block.bytes();
  data.insert(data.end(), bytes.begin(), bytes.end());
  command(cmd_notice, data);
}

void agent_process_t::action(HWND comm, std::uint32_t operation, HWND reply) {
  std::vector<std::uint8_t> data;
  put(data, u32(comm));
  put(data, operation);
  put(data, u32(reply));
  command(cmd_action, data);
}

void agent_process_t::set_noack(bool on) {
  std::vector<std::uint8_t> data;
  put(data, on ? 1 : 0);
  command(cmd_noack, data);
}

void agent_process_t::hold_deliveries(bool on) {
  std::vector<std::uint8_t> data;
  put(data, on ? 1 : 0);
  command(cmd_hold, data);
}

void agent_process_t::die_in_call() { command(cmd_die_in_call, {}); }

void agent_process_t::set_version(std::uint32_t version) {
  std::vector<std::uint8_t> data;
  put(data, version);
  command(cmd_version, data);
}

std::vector<nlohmann::json> agent_process_t::log() const {
  std::vector<nlohmann::json> out;
  std::ifstream in{std::filesystem::path(options_.log)};
  std::string line;
  while (std::getline(in, line)) {
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_discarded()) out.push_back(std::move(j));
  }
  return out;
}

std::vector<nlohmann::json> agent_process_t::log_of(const std::string& kind) const {
  std::vector<nlohmann::json> out;
  for (auto& j : log())
    if (j.value("kind", "") == kind) out.push_back(j);
  return out;
}

}  // namespace kxagent
