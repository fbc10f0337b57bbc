// Without an agent: the one-shot traces of a missing agent window and a missing server buffer. A
// process of its own, so that these misses are the first in the life of the module.
#include <windows.h>

#include <gtest/gtest.h>

#include "agentcomm/transport/Transport.h"
#include "tracecore/testing.h"

namespace ffipc {
namespace {

TEST(TransportWithoutAgent, MissingWindowIsTracedInFullOnceThenShort) {
  ASSERT_EQ(FindWindowExW(nullptr, nullptr, L"Kestrix Desk Agent", L"Kestrix Desk Agent"), nullptr)
      << "an agent is running";
  tracecore::testing::capture_t trace;
  EXPECT_EQ(find_agent_window(), nullptr);
  EXPECT_EQ(find_agent_window(), nullptr);
  const auto records = trace.records();
  ASSERT_EQ(records.size(), 2u) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I04`'KXAgent not running")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I04`'NoKXAgent")) << trace.dump();
  EXPECT_EQ(find_gavatar_window(), nullptr);
  EXPECT_TRUE(trace.has('U', "'`I04`'GAvatar not running")) << trace.dump();
}

TEST(TransportWithoutAgent, MissingBufferEndsTheCallWithItsOneShotTrace) {
  tracecore::testing::capture_t trace;
  EXPECT_EQ(forward_message(nullptr, WM_NULL, 0, 0), 0u);
  EXPECT_EQ(last_call_result(), call_result_t::no_buffer);
  EXPECT_TRUE(trace.contains('E', "MMF: cannot open file mapping 'KXMAX_NIPC_BUFFER'")) << trace.dump();
  trace.clear();
  EXPECT_EQ(forward_message(nullptr, WM_NULL, 0, 0), 0u);
  EXPECT_TRUE(trace.has('U', "'`I04`'MMF: cannot open file mapping 'KXMAX_NIPC_BUFFER'")) << trace.dump();
  EXPECT_FALSE(trace.contains('E', "MMF")) << trace.dump();
  // Nothing is left held: the mutex is free for anyone.
  HANDLE m = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, L"KXMAX_NIPC_MUTEX");
  EXPECT_EQ(m, nullptr) << "the call's own mutex is gone with its last handle";
  if (m) CloseHandle(m);
}

}  // namespace
}  // namespace ffipc

namespace ffipc {
namespace {

TEST(TransportWithoutAgent, FailedCallsLeaveNoHandlesBehind) {
  forward_message(nullptr, WM_NULL, 0, 0);  // one-time objects exist before counting
  DWORD before = 0, after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  serialization::CMemoryObjectEx block("abc", 3);
  for (int i = 0; i < 200; ++i) {
    forward_message(nullptr, WM_NULL, 0, 0);
    send_text(nullptr, WM_NULL, "name", "text");
    pass_block(nullptr, WM_NULL, 1, block);
    receive_block(L"BLOCK_TO_FF", block);
  }
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace ffipc
