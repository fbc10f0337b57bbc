// The server call against the agent stand-in in a process of its own.
#include "agentcomm/transport/Transport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "agentcomm/AgentMessages.h"
#include "agentcomm/transport/DontPromptList.h"
#include "agentcomm/transport/KernelObjects.h"
#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/transport/ServerRecords.h"
#include "environment/LookupCache.h"
#include "peers/agent/AgentCommands.h"
#include "peers/agent/AgentDriver.h"
#include "tests/support/WineTestSupport.h"
#include "tracecore/testing.h"
#include "tracecore/utf.h"

namespace ffipc {
namespace {

namespace fs = std::filesystem;
using serialization::CMemoryObjectEx;

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string source_file(const char* relative) {
  const char* root = std::getenv("KX_SOURCE_DIR");
  return read_file(fs::path(root ? root : ".") / relative);
}

// Shorter limits for one test, the defaults again afterwards.
class scoped_limits_t {
 public:
  explicit scoped_limits_t(const wait_limits_t& limits) { set_wait_limits(limits); }
  ~scoped_limits_t() { set_wait_limits(default_wait_limits); }
  scoped_limits_t(const scoped_limits_t&) = delete;
  scoped_limits_t& operator=(const scoped_limits_t&) = delete;
};

// Runs |call| on a thread of its own, which then handles a message posted to it: true when both
// happened within |ms| (a generous bound, not a timing). A thread that hangs is left to itself.
bool returns_and_pumps_within(DWORD ms, std::function<void()> call) {
  struct state_t {
    std::function<void()> call;
    std::atomic<bool> pumped{false};
  };
  auto state = std::make_shared<state_t>();
  state->call = std::move(call);
  std::thread worker([state] {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // gives the thread its queue
    state->call();
    PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
    if (PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE)) state->pumped = true;
  });
  const ULONGLONG end = GetTickCount64() + ms;
  while (!state->pumped && GetTickCount64() < end) Sleep(10);
  if (state->pumped)
    worker.join();
  else
    worker.detach();
  return state->pumped;
}

constexpr DWORD kGenerous = 20000;

class TransportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new kxtest::scratch_dir_t(L"transport");
    agent_ = new kxagent::agent_process_t(kxagent::options_in(dir_->path()));
  }
  static void TearDownTestSuite() {
    delete agent_;
    delete dir_;
  }
  void SetUp() override { ASSERT_TRUE(agent_->running()) << "the agent stand-in did not start"; }

  static HWND agent() { return agent_->window(); }
  static UINT probe() { return RegisterWindowMessageW(kxagent::kProbeMessage); }

  static kxtest::scratch_dir_t* dir_;
  static kxagent::agent_process_t* agent_;
};
kxtest::scratch_dir_t* TransportTest::dir_ = nullptr;
kxagent::agent_process_t* TransportTest::agent_ = nullptr;

TEST_F(TransportTest, ForwardedMessageResultComesBack) {
  EXPECT_EQ(forward_message(agent(), probe(), 40, 2), 42u);
  EXPECT_EQ(last_call_result(), call_result_t::done);
  const auto entries = agent_->log_of("forward");
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back()["pid"], GetCurrentProcessId());
  EXPECT_EQ(entries.back()["wparam"], 40);
  EXPECT_EQ(entries.back()["result"], 42);
}

TEST_F(TransportTest, ForwardedMessageToAGoneWindowGivesZero) {
  // The agent cannot deliver it and leaves the result field as written.
  EXPECT_EQ(forward_message(reinterpret_cast<HWND>(0x7ff0), probe(), 1, 2), 0u);
  EXPECT_EQ(last_call_result(), call_result_t::done);
  EXPECT_EQ(agent_->log_of("forward").back()["delivered"], false);
}

// A window that answers wparam + lparam and counts what it got.
class answering_window_t {
 public:
  answering_window_t() {
    static const ATOM cls = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &answering_window_t::proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"kxtest_answering";
      return RegisterClassExW(&wc);
    }();
    window_ = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(cls)), L"", 0, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~answering_window_t() { DestroyWindow(window_); }
  answering_window_t(const answering_window_t&) = delete;
  answering_window_t& operator=(const answering_window_t&) = delete;
  HWND get() const { return window_; }
  std::atomic<int> calls{0};

 private:
  static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == RegisterWindowMessageW(kxagent::kProbeMessage)) {
      if (auto* self = reinterpret_cast<answering_window_t*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) ++self->calls;
      return static_cast<LRESULT>(wp + lp);
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  HWND window_;
};

// An answering window on a thread of its own that pumps its messages until the object goes.
class pumped_window_t {
 public:
  pumped_window_t() {
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, made] {
      window_ = std::make_unique<answering_window_t>();
      thread_id_ = GetCurrentThreadId();
      SetEvent(made);
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
      window_.reset();
    });
    WaitForSingleObject(made, INFINITE);
    CloseHandle(made);
  }
  ~pumped_window_t() {
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
  }
  pumped_window_t(const pumped_window_t&) = delete;
  pumped_window_t& operator=(const pumped_window_t&) = delete;
  answering_window_t& window() { return *window_; }

 private:
  std::unique_ptr<answering_window_t> window_;
  DWORD thread_id_ = 0;
  std::thread thread_;
};

// The agent's message to a window of the calling thread would wait for the thread, which waits for
// the agent: the window gets it directly. A window of another thread still goes through the agent.
TEST_F(TransportTest, ForwardedMessageToAWindowOfTheCallingThreadIsSentDirectly) {
  pumped_window_t other;
  std::size_t before = agent_->log_of("forward").size();
  EXPECT_EQ(forward_message(other.window().get(), probe(), 5, 6), 11u);
  EXPECT_EQ(last_call_result(), call_result_t::done);
  EXPECT_EQ(other.window().calls.load(), 1);
  EXPECT_EQ(agent_->log_of("forward").size(), before + 1) << "through the agent";

  // Short enough that a call through the agent to this thread's window fails soon.
  scoped_limits_t limits({kMutexLimitMs, 1000, kWindowMessageLimitMs});
  answering_window_t own;
  ASSERT_TRUE(IsWindow(own.get()));
  before = agent_->log_of("forward").size();
  tracecore::testing::capture_t trace;
  EXPECT_EQ(forward_message(own.get(), probe(), 40, 2), 42u);
  EXPECT_EQ(last_call_result(), call_result_t::done);
  EXPECT_EQ(own.calls.load(), 1);
  EXPECT_EQ(agent_->log_of("forward").size(), before) << "no server call";
  EXPECT_TRUE(trace.contains('U', "sent directly")) << trace.dump();
}

TEST_F(TransportTest, TextRecordLeavesItsFileInTheAgentsStoreAndTheLookupCache) {
  const std::string xml = source_file("manifest/testdata/logon.kxm");
  ASSERT_FALSE(xml.empty());
  ASSERT_TRUE(send_text(agent(), registered(kxmsg::agent_manifest), "vlt::shop_login.kxm", xml));
  const fs::path stored = fs::path(dir_->path()) / "store" / "shop_login.kxm";
  EXPECT_EQ(read_file(stored), xml);
  const auto entry = agent_->log_of("text").back();
  EXPECT_EQ(entry["message"], "WM_KX_AGENT_MANIFEST");
  EXPECT_EQ(entry["name"], "vlt::shop_login.kxm");
  EXPECT_EQ(entry["length"], xml.size());
  // The agent keeps its lookup cache up to date with the store.
  const std::u16string names = lookupcache::cached_url(u"https://www.example.com/login", false);
  EXPECT_NE(names.find(u"shop_login.kxm"), std::u16string::npos) << tracecore::to_utf8(names);
}

TEST_F(TransportTest, TextRecordNamesCannotLeaveTheStore) {
  ASSERT_TRUE(send_text(agent(), registered(kxmsg::agent_manifest), "..\\..\\escape.txt", "x"));
  EXPECT_TRUE(fs::exists(fs::path(dir_->path()) / "store" / "escape.txt"));
  EXPECT_FALSE(fs::exists(fs::path(dir_->path()) / "escape.txt"));
}

TEST_F(TransportTest, TextRecordWithOnlyATextIsSentAndBothEmptyIsRefused) {
  tracecore::testing::capture_t trace;
  const std::size_t before = agent_->log_of("text").size();
  EXPECT_TRUE(send_text(agent(), registered(kxmsg::agent_spawn_flm), "", "17"));
  EXPECT_EQ(agent_->log_of("text").size(), before + 1);
  EXPECT_EQ(agent_->log_of("text").back()["text"], "17");
  EXPECT_FALSE(send_text(agent(), registered(kxmsg::agent_spawn_flm), "", ""));
  EXPECT_TRUE(trace.has('E', "0 invalid data to send")) << trace.dump();
  EXPECT_FALSE(send_text(agent(), registered(kxmsg::agent_spawn_flm), std::string(max_text_name + 1, 'n'), "x"));
  EXPECT_EQ(agent_->log_of("text").size(), before + 1) << "refused records reach no agent";
}

TEST_F(TransportTest, PassedBlockIsDecodedByTheAgent) {
  kxmessages::block_domain_manifests_t m;
  m.callheader = {0x1234, 0x20, 0x30};
  m.domainmanifestnames = "a.kxm\nb.kxm";
  m.istsids = true;
  CMemoryObjectEx block;
  ASSERT_GT(kxmessages::encode(m, block), 0u);
  ASSERT_TRUE(pass_block(agent(), registered(kxmsg::agent_ffmemblock), m.code, block));
  const auto entry = agent_->log_of("block").back();
  EXPECT_EQ(entry["code"], 4);
  EXPECT_EQ(entry["message"], "WM_KX_AGENT_FFMEMBLOCK");
  EXPECT_EQ(entry["loaded"], true);
  EXPECT_EQ(entry["decoded"]["callheader"]["requestID"], 0x1234);
  EXPECT_EQ(entry["decoded"]["domainmanifestnames"], "a.kxm\nb.kxm");
  EXPECT_EQ(entry["decoded"]["istsids"], true);
}

TEST_F(TransportTest, EmptyBlockIsRefusedWithoutAMapping) {
  tracecore::testing::capture_t trace;
  const std::size_t before = agent_->log_of("block").size();
  CMemoryObjectEx empty;
  EXPECT_FALSE(pass_block(agent(), registered(kxmsg::agent_ffmemblock), 4, empty));
  EXPECT_TRUE(trace.has('E', "0 invalid data to pass")) << trace.dump();
  EXPECT_EQ(agent_->log_of("block").size(), before);
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, L"BLOCK_TO_KX"), nullptr);
}

TEST_F(TransportTest, ReceiveBlockCopiesThePayloadAndRefusesALengthBeyondTheMappingOrTheLimit) {
  mapping_t incoming = mapping_t::create(L"BLOCK_TO_FF", 4 + 5);
  ASSERT_TRUE(incoming);
  put_u32(incoming.bytes(), 0, 5);
  std::memcpy(incoming.data() + 4, "hello", 5);
  CMemoryObjectEx block;
  receive_block(L"BLOCK_TO_FF", block);
  ASSERT_EQ(block.size(), 5u);
  EXPECT_EQ(std::memcmp(block.data(), "hello", 5), 0);

  // A peer that claims more than it mapped: nothing is read past the view.
  tracecore::testing::capture_t trace;
  put_u32(incoming.bytes(), 0, 1u << 20);
  receive_block(L"BLOCK_TO_FF", block);
  EXPECT_EQ(block.size(), 0u);
  EXPECT_TRUE(trace.contains('E', "exceeds its mapping")) << trace.dump();

  // A length that the view holds but no load would accept: refused before anything is copied.
  incoming = mapping_t();
  constexpr std::uint32_t above = serialization::StorageNamed::InMemStorageSpace::max_block_size + 1;
  mapping_t big = mapping_t::create(L"BLOCK_TO_FF", 4 + above);
  ASSERT_TRUE(big);
  put_u32(big.bytes(), 0, above);
  trace.clear();
  receive_block(L"BLOCK_TO_FF", block);
  EXPECT_EQ(block.size(), 0u);
  EXPECT_TRUE(trace.contains('E', "above the limit")) << trace.dump();
}

// Another process takes the name of the call's own mapping first (one page of its own, or an object
// of another kind). Written into, such a mapping would be overrun (it keeps its own size) and read
// by whoever made it: the call fails before it reaches the agent and leaves the page as it was.
struct squat_case_t {
  const char* name;
  const wchar_t* object = L"BLOCK_TO_KX";  // the name taken first
  bool by_event = false;                   // an event holds it instead of a one-page mapping
  bool text = false;                       // send_text instead of pass_block
  std::uint32_t length;                    // of the payload
};

class SquattedMapping : public TransportTest, public ::testing::WithParamInterface<squat_case_t> {};

TEST_P(SquattedMapping, TheCallFailsAndLeavesThePageAlone) {
  const squat_case_t& c = GetParam();
  tracecore::unique_handle squatter(c.by_event ? CreateEventW(nullptr, TRUE, FALSE, c.object)
                                               : CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                                    4096, c.object));
  ASSERT_TRUE(squatter);
  tracecore::unique_view page(c.by_event ? nullptr : MapViewOfFile(squatter.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (page) std::memset(page.get(), 0xCC, 4096);

  const std::string payload(c.length, 's');
  CMemoryObjectEx block(payload.data(), c.length);
  const char* kind = c.text ? "text" : "block";
  auto call = [&] {
    return c.text ? send_text(agent(), registered(kxmsg::agent_manifest), "vlt::squat.txt", payload)
                  : pass_block(agent(), registered(kxmsg::agent_ffmemblock), 99, block);
  };
  const std::size_t before = agent_->log_of(kind).size();
  tracecore::testing::capture_t trace;
  EXPECT_FALSE(call());
  EXPECT_EQ(last_call_result(), call_result_t::no_mapping);
  EXPECT_TRUE(trace.contains('E', c.text ? "cannot create mapping to send" : "cannot create mapping to pass"))
      << trace.dump();
  EXPECT_EQ(agent_->log_of(kind).size(), before) << "no record reached the agent";
  if (page) {
    const auto* bytes = static_cast<const std::uint8_t*>(page.get());
    EXPECT_TRUE(std::all_of(bytes, bytes + 4096, [](std::uint8_t b) { return b == 0xCC; }));
  }

  // Nothing is left held: once the name is free again, the same call goes through.
  page.reset();
  squatter.reset();
  EXPECT_TRUE(call());
  EXPECT_EQ(agent_->log_of(kind).size(), before + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SquattedMapping,
    ::testing::Values(
        squat_case_t{.name = "block_larger_than_the_page", .length = 64 * 1024},
        squat_case_t{.name = "block_that_would_fit", .length = 100},
        squat_case_t{.name = "text_larger_than_the_page", .object = L"KXTEMPLATE", .text = true, .length = 64 * 1024},
        squat_case_t{.name = "block_name_held_by_an_event", .by_event = true, .length = 100}),
    [](const auto& info) { return std::string(info.param.name); });

// A holder that keeps the channel's mutex for ever (a hung or hostile client of the agent).
TEST_F(TransportTest, AMutexHeldForEverEndsTheCallWithinItsLimit) {
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE give_back = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    HANDLE m = CreateMutexW(nullptr, FALSE, L"KXMAX_NIPC_MUTEX");
    WaitForSingleObject(m, INFINITE);
    SetEvent(held);
    WaitForSingleObject(give_back, INFINITE);
    ReleaseMutex(m);
    CloseHandle(m);
  });
  ASSERT_EQ(WaitForSingleObject(held, 10000), WAIT_OBJECT_0);

  const std::size_t before = agent_->log_of("forward").size();
  tracecore::testing::capture_t trace;
  std::uint32_t result = 1;
  call_result_t how = call_result_t::done;
  {
    scoped_limits_t limits({300, kAcknowledgementLimitMs, kWindowMessageLimitMs});
    EXPECT_TRUE(returns_and_pumps_within(kGenerous, [&] {
      result = forward_message(agent(), probe(), 40, 2);
      how = last_call_result();
    }));
  }
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(how, call_result_t::mutex_wait);
  EXPECT_TRUE(trace.has('E', "258 WaitForSingleObject on Mutex")) << trace.dump();
  EXPECT_TRUE(trace.contains('E', "the channel mutex was not free within 300 ms")) << trace.dump();
  EXPECT_EQ(agent_->log_of("forward").size(), before);

  SetEvent(give_back);
  holder.join();
  CloseHandle(held);
  CloseHandle(give_back);
  EXPECT_EQ(forward_message(agent(), probe(), 40, 2), 42u);
}

TEST_F(TransportTest, AThousandServerCallsLeaveTheHandleCountAlone) {
  CMemoryObjectEx block(std::string(1024, 'b').data(), 1024);
  // Warm up: one-time objects (security descriptors, registered messages) exist before counting.
  forward_message(agent(), probe(), 1, 1);
  pass_block(agent(), registered(kxmsg::agent_ffmemblock), 99, block);
  DWORD before = 0, after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(forward_message(agent(), probe(), i, 1), static_cast<std::uint32_t>(i + 1));
  for (int i = 0; i < 100; ++i) pass_block(agent(), registered(kxmsg::agent_ffmemblock), 99, block);
  send_text(agent(), registered(kxmsg::agent_spawn_flm), "n", "1");
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_EQ(after, before);
}

TEST_F(TransportTest, AnAbandonedMutexIsGivenBackAndTheNextCallWorks) {
  // A thread that dies holding the channel's mutex, as a component that crashed mid-call would.
  std::thread([] {
    HANDLE m = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, L"KXMAX_NIPC_MUTEX");
    WaitForSingleObject(m, INFINITE);
    CloseHandle(m);
  }).join();
  tracecore::testing::capture_t trace;
  EXPECT_EQ(forward_message(agent(), probe(), 2, 3), 0u);
  EXPECT_EQ(last_call_result(), call_result_t::mutex_wait);
  EXPECT_TRUE(trace.contains('E', "WaitForSingleObject on Mutex")) << trace.dump();
  // Released, not kept: another thread gets it at once.
  std::atomic<DWORD> other{WAIT_FAILED};
  std::thread([&] {
    HANDLE m = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, L"KXMAX_NIPC_MUTEX");
    other = WaitForSingleObject(m, 2000);
    if (other == WAIT_OBJECT_0) ReleaseMutex(m);
    CloseHandle(m);
  }).join();
  EXPECT_EQ(other.load(), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(forward_message(agent(), probe(), 2, 3), 5u);
}

TEST_F(TransportTest, DontPromptListLoadsLazilyAndIsSavedThroughTheAgent) {
  const fs::path file = fs::path(dir_->path()) / "DontPrompt.txt";
  {
    std::ofstream out(file, std::ios::binary);
    out << "web=bank.example\r\nvis=0:0\r\nweb=shop.example\r\nvis=1:4\r\ndlg=Sign in\r\nvis=1:0\r\n";
  }
  dontprompt_list_t list;
  list.set_file_name(file.u16string());
  EXPECT_FALSE(list.web_flag("bank.example"));
  EXPECT_TRUE(list.web_flag("shop.example"));
  EXPECT_FALSE(list.web_flag("unknown.example"));
  EXPECT_TRUE(list.web_flag(""));

  tracecore::testing::capture_t trace;
  list.set_web("new.example");
  EXPECT_TRUE(trace.contains('U', "save ")) << trace.dump();
  EXPECT_TRUE(list.web_flag("new.example"));
  // The agent stores the whole list under the file's name.
  EXPECT_EQ(read_file(fs::path(dir_->path()) / "store" / "dontprompt.txt"),
            "dlg=Sign in\r\nvis=1:0\r\nweb=bank.example\r\nvis=0:0\r\nweb=new.example\r\nvis=1:0\r\n"
            "web=shop.example\r\nvis=1:4\r\n");
}

TEST_F(TransportTest, DontPromptListWithoutAFileNameSavesNothing) {
  tracecore::testing::capture_t trace;
  dontprompt_list_t list;
  list.set_file_name(u"");
  EXPECT_FALSE(list.web_flag("a.example"));
  list.set_web("a.example");
  EXPECT_TRUE(trace.has('E', "0 empty fname")) << trace.dump();
}

TEST_F(TransportTest, DontPromptListThatCannotLoadIsEmptyAndTraced) {
  tracecore::testing::capture_t trace;
  dontprompt_list_t list;
  list.set_file_name(u"C:\\nowhere\\dontprompt.txt");
  EXPECT_FALSE(list.web_flag("a.example"));
  EXPECT_TRUE(trace.contains('E', "load_textfile [notfound]: ")) << trace.dump();
}

TEST(TransportChannels, TableAndBadChannel) {
  EXPECT_STREQ(channel(1).mutex, L"KXMAX_NIPC_MUTEX");
  EXPECT_STREQ(channel(2).data_ready, L"KXMAX_BIPC_DATA_READY");
  EXPECT_STREQ(channel(3).buffer, L"KXMAX_AIPC_BUFFER");
  for (int c = 1; c <= 3; ++c) {
    EXPECT_EQ(channel(c).size, 4096u);
    EXPECT_STREQ(channel(c).text, L"KXTEMPLATE");
    EXPECT_STREQ(channel(c).block_to_agent, L"BLOCK_TO_KX");
    EXPECT_STREQ(channel(c).block_from_agent, L"BLOCK_TO_FF");
  }
  for (int bad : {0, 4, -1}) {
    try {
      channel(bad);
      ADD_FAILURE() << "channel " << bad;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "protocol oo");
    }
  }
}

// An agent of its own per test: these end it.
class DyingAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    agent_ = std::make_unique<kxagent::agent_process_t>(kxagent::options_in(dir_.path()));
    ASSERT_TRUE(agent_->running());
  }
  kxtest::scratch_dir_t dir_{L"dying"};
  std::unique_ptr<kxagent::agent_process_t> agent_;
};

TEST_F(DyingAgentTest, AnAgentThatDiesMidCallDoesNotHangTheCaller) {
  tracecore::testing::capture_t trace;
  agent_->die_in_call();
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(forward_message(agent_->window(), RegisterWindowMessageW(kxagent::kProbeMessage), 1, 1), 0u);
  EXPECT_LT(GetTickCount64() - start, 15000u);
  EXPECT_EQ(last_call_result(), call_result_t::not_acknowledged);
  EXPECT_TRUE(trace.contains('E', "cannot transfer the rest from client")) << trace.dump();
  EXPECT_TRUE(agent_->wait_exit(5000));
}

TEST_F(DyingAgentTest, WhileTheAgentLivesTheCallWaitsForItsAcknowledgement) {
  agent_->set_noack(true);
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    forward_message(agent_->window(), RegisterWindowMessageW(kxagent::kProbeMessage), 1, 1);
    returned = true;
  });
  Sleep(500);
  EXPECT_FALSE(returned.load()) << "the call waits while the agent lives, up to its limit of seconds";
  TerminateProcess(agent_->process(), 9);
  const ULONGLONG start = GetTickCount64();
  while (!returned && GetTickCount64() - start < 15000) Sleep(20);
  EXPECT_TRUE(returned.load());
  caller.join();
}

// The agent takes every record and never acknowledges one.
TEST_F(DyingAgentTest, AnAgentThatNeverAcknowledgesIsGivenUpWithinTheLimit) {
  agent_->set_noack(true);
  const UINT probe = RegisterWindowMessageW(kxagent::kProbeMessage);
  const CMemoryObjectEx block("abc", 3);
  scoped_limits_t limits({kMutexLimitMs, 300, kWindowMessageLimitMs});
  tracecore::testing::capture_t trace;
  std::uint32_t result = 1;
  call_result_t how = call_result_t::done;
  bool passed = true;
  EXPECT_TRUE(returns_and_pumps_within(kGenerous, [&] {
    result = forward_message(agent_->window(), probe, 1, 1);
    how = last_call_result();
    passed = pass_block(agent_->window(), registered(kxmsg::agent_ffmemblock), 99, block);
  }));
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(how, call_result_t::not_acknowledged);
  EXPECT_FALSE(passed) << "reported as not done";
  EXPECT_TRUE(trace.has('E', "258 cannot transfer the rest from client")) << trace.dump();
  EXPECT_TRUE(trace.contains('E', "no acknowledgement within 300 ms")) << trace.dump();
  EXPECT_EQ(agent_->log_of("noack").size(), 2u) << "both records reached the agent";
  EXPECT_TRUE(agent_->running());
}

// An agent that acknowledges a record only after its call has stopped waiting: that late signal
// must not be taken for the acknowledgement of the next call, whose result is not written yet.
TEST_F(DyingAgentTest, AnAcknowledgementThatComesTooLateDoesNotAnswerTheNextCall) {
  const UINT probe = RegisterWindowMessageW(kxagent::kProbeMessage);
  scoped_limits_t limits({kMutexLimitMs, 300, kWindowMessageLimitMs});
  agent_->set_noack(true);
  EXPECT_EQ(forward_message(agent_->window(), probe, 1, 1), 0u);
  EXPECT_EQ(last_call_result(), call_result_t::not_acknowledged);
  tracecore::unique_handle ack(OpenEventW(EVENT_MODIFY_STATE, FALSE, L"KXMAX_NIPC_BUFFER_READY"));
  ASSERT_TRUE(ack);
  SetEvent(ack.get());  // the late acknowledgement
  agent_->set_noack(false);
  EXPECT_EQ(forward_message(agent_->window(), probe, 40, 2), 42u);
  EXPECT_EQ(last_call_result(), call_result_t::done);
}

}  // namespace
}  // namespace ffipc

