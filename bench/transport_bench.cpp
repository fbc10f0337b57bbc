// Server-call round trips per second against the agent stand-in, under Wine or Windows: a forwarded
// message (the agent sends it to its own window and returns the result) and a 1 KiB block pass,
// beside the limit of the design, a bare ping-pong of the channel's two events between the same two
// processes.
// Google Benchmark does not build for mingw, so this is a small timing harness of its own; it is not
// a test.
//
//   wine transport_bench.exe [calls]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agentcomm/transport/KernelObjects.h"
#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/transport/Transport.h"
#include "peers/agent/AgentCommands.h"
#include "peers/agent/AgentDriver.h"

namespace {

double seconds_since(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class Call>
double calls_per_second(int calls, Call&& call) {
  std::vector<double> rates;
  for (int round = 0; round < 5; ++round) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < calls; ++i) call(i);
    rates.push_back(calls / seconds_since(start));
  }
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];  // the median of five rounds
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"kx_transport_bench";
  CreateDirectoryW(dir.c_str(), nullptr);
  kxagent::agent_options_t options = kxagent::options_in(dir);
  options.log.clear();  // the log would measure the disk, not the transport
  kxagent::agent_process_t agent(options);
  if (!agent.running()) {
    std::fprintf(stderr, "the agent stand-in did not start\n");
    return 1;
  }
  const UINT probe = RegisterWindowMessageW(kxagent::kProbeMessage);
  const UINT memblock = ffipc::registered(ffipc::kxmsg::agent_ffmemblock);
  serialization::CMemoryObjectEx block(std::string(1024, 'k').data(), 1024);

  for (int i = 0; i < 100; ++i) ffipc::forward_message(agent.window(), probe, i, 1);  // warm-up

  const double forward = calls_per_second(calls, [&](int i) {
    if (ffipc::forward_message(agent.window(), probe, i, 1) != static_cast<std::uint32_t>(i + 1)) std::abort();
  });
  // The same call with nothing for the agent to deliver (no target window): the transport alone.
  const double bare_call = calls_per_second(calls, [&](int i) { ffipc::forward_message(nullptr, probe, i, 1); });
  const double pass = calls_per_second(calls, [&](int) {
    if (!ffipc::pass_block(agent.window(), memblock, 99, block)) std::abort();
  });
  // The parts of one call that do not involve the agent, for comparison.
  const double lookup = calls_per_second(calls, [&](int) {
    HWND w = FindWindowExW(nullptr, nullptr, L"Kestrix Desk Agent", L"Kestrix Desk Agent");
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    CloseHandle(OpenProcess(SYNCHRONIZE, FALSE, pid));
  });
  const double objects = calls_per_second(calls, [&](int) {
    HANDLE m = CreateMutexW(nullptr, FALSE, L"KXMAX_NIPC_MUTEX");
    WaitForSingleObject(m, INFINITE);
    HANDLE f = OpenFileMappingW(FILE_MAP_WRITE, FALSE, L"KXMAX_NIPC_BUFFER");
    void* v = MapViewOfFile(f, FILE_MAP_WRITE, 0, 0, 0);
    HANDLE a = OpenEventW(SYNCHRONIZE, FALSE, L"KXMAX_NIPC_BUFFER_READY");
    HANDLE r = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"KXMAX_NIPC_DATA_READY");
    CloseHandle(r);
    CloseHandle(a);
    UnmapViewOfFile(v);
    CloseHandle(f);
    ReleaseMutex(m);
    CloseHandle(m);
  });
  // The limit of the design: the same two processes signalling each other through the channel's two
  // events and nothing else, with the channel held for the whole run (the agent answers a record of
  // no kind by setting the acknowledgement at once).
  double ping_pong = 0;
  {
    const ffipc::channel_t& ch = ffipc::channel(1);
    HANDLE m = CreateMutexW(nullptr, FALSE, ch.mutex);
    WaitForSingleObject(m, INFINITE);
    HANDLE f = OpenFileMappingW(FILE_MAP_WRITE, FALSE, ch.buffer);
    void* v = MapViewOfFile(f, FILE_MAP_WRITE, 0, 0, 0);
    HANDLE ack = OpenEventW(SYNCHRONIZE, FALSE, ch.buffer_ready);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ch.data_ready);
    if (!v || !ack || !ready) {
      std::fprintf(stderr, "cannot open the agent's channel\n");
      return 1;
    }
    std::memset(v, 0, 16);  // record kind 0
    ping_pong = calls_per_second(calls, [&](int) {
      SetEvent(ready);
      if (WaitForSingleObject(ack, 10000) != WAIT_OBJECT_0) std::abort();
    });
    CloseHandle(ready);
    CloseHandle(ack);
    UnmapViewOfFile(v);
    CloseHandle(f);
    ReleaseMutex(m);
    CloseHandle(m);
  }
  // The mutex as a call takes it: created with its security descriptor, given the low label.
  const double secured_mutex = calls_per_second(calls, [&](int) {
    HANDLE m = CreateMutexW(ffipc::mutex_security().attributes(), FALSE, L"KXMAX_NIPC_MUTEX");
    ffipc::apply_low_label(m);
    WaitForSingleObject(m, INFINITE);
    ReleaseMutex(m);
    CloseHandle(m);
  });
  std::printf("bare two-event ping-pong:       %.0f round trips/s\n", ping_pong);
  std::printf("mutex with security and label:  %.0f/s\n", secured_mutex);
  std::printf("agent process lookup alone:     %.0f/s\n", lookup);
  std::printf("open and close the objects:     %.0f/s\n", objects);
  std::printf("server call, nothing delivered: %.0f round trips/s\n", bare_call);
  std::printf("server call, forwarded message: %.0f round trips/s\n", forward);
  std::printf("server call, 1 KiB block pass:  %.0f round trips/s\n", pass);
  std::printf("(%d calls per round, median of 5 rounds)\n", calls);
  return 0;
}
