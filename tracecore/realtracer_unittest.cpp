// The tracer as the component runs it: registry configuration, trace files, the trace mutex and
// the clean-up of old files. Runs under Wine.
#include "tracecore/realtracer.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/WineTestSupport.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace tracecore {
namespace {

// Runs |fn| with a fresh tracer installed, then takes the tracer down so its file is closed.
template <class Fn>
void with_tracer(Fn fn) {
  realtracer_t tracer(nullptr);
  tracer_t* previous = install(&tracer);
  fn(tracer);
  install(previous);
}

class RealTracerTest : public ::testing::Test {
 protected:
  kxtest::tracing_registry_t registry_;
  kxtest::scratch_dir_t dir_{L"trace"};
};

TEST_F(RealTracerTest, RecordsDecodeBackWithKindsTextsAndScopes) {
  registry_.trace_to(dir_.path());
  with_tracer([](realtracer_t&) {
    KXSCOPE("Mozilla::OnActi");
    KXTRACE("'`I02`'Active document %s", "x");
    {
      KXSCOPE("KXIntrn::recognizePage");
      KXERROR("null document");
    }
  });
  const auto files = dir_.files(L"*.trc3");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].find(L"\\0.vlt_test.MozillaKXAgentClient.dll."), std::wstring::npos);
  const auto file = kxtest::read_trace(files[0]);
  EXPECT_EQ(file.stop, "");
  ASSERT_GE(file.header.size(), 9u);
  EXPECT_EQ(file.header.front(), "trace3");
  EXPECT_EQ(file.header.back(), ".");
  EXPECT_NE(std::find(file.header.begin(), file.header.end(), "Trace Ver: 3.0.2"), file.header.end());
  ASSERT_GE(file.records.size(), 2u);
  EXPECT_EQ(file.records[0].kind, 't');
  EXPECT_EQ(file.records[1].kind, 'T');
  const auto records = kxtest::content_records(file);
  std::string kinds;
  for (const auto& r : records) kinds += r.kind;
  EXPECT_EQ(kinds, ">U>E<<");
  EXPECT_EQ(records[1].text, "'`I02`'Active document x");
  EXPECT_EQ(records[2].text, "KXIntrn::recognizePage");
  EXPECT_EQ(records[3].text, "0 null document");
  EXPECT_EQ(records[0].thread, GetCurrentThreadId());
}

TEST_F(RealTracerTest, ASecondRunIntoTheSameFileStartsWithAnNRecord) {
  registry_.trace_to(dir_.path(), /*new_file_always=*/0);
  with_tracer([](realtracer_t&) { KXTRACE("first run"); });
  with_tracer([](realtracer_t&) { KXTRACE("second run"); });
  const auto files = dir_.files(L"*.trc3");
  ASSERT_EQ(files.size(), 1u) << "mode 2 appends to one file";
  EXPECT_NE(files[0].find(L".0.trc3"), std::wstring::npos);
  const auto file = kxtest::read_trace(files[0]);
  EXPECT_EQ(file.stop, "");
  std::string kinds;
  for (const auto& r : file.records) kinds += r.kind;
  EXPECT_EQ(kinds, "tTUNtTU");
  SYSTEMTIME st;
  GetLocalTime(&st);
  char expected[16];
  snprintf(expected, sizeof expected, "%02d-%02d-%02d", st.wMonth, st.wDay, st.wYear % 100);
  EXPECT_EQ(file.records[3].text, expected);
}

TEST_F(RealTracerTest, NothingIsWrittenWithoutVltTrace) {
  registry_.trace_to(dir_.path());
  registry_.remove(L"VltTrace");
  with_tracer([](realtracer_t& t) {
    EXPECT_EQ(t.mode(), mode_nowhere);
    EXPECT_FALSE(on());
    KXSCOPE("Mozilla::OnLoad");
    KXTRACE("not written");
  });
  EXPECT_TRUE(dir_.files().empty());
}

struct ModeCase {
  const char* name;
  const wchar_t* vlt = L"#1";                              // nullptr: absent; "#n": a number; else text
  const wchar_t* components = L"MozillaKXAgentClient.dll";  // nullptr: absent
  const wchar_t* excluded = nullptr;                        // nullptr: absent
  int trace_to_file = -1;                                   // -1: absent
  int new_file_always = -1;                                 // -1: absent
  int mode;
};

class OutputModeTest : public ::testing::TestWithParam<ModeCase> {
 protected:
  kxtest::tracing_registry_t registry_;
};

TEST_P(OutputModeTest, FollowsTheRegistry) {
  const auto& c = GetParam();
  if (c.vlt) {
    if (c.vlt[0] == L'#') registry_.set(L"VltTrace", static_cast<DWORD>(_wtoi(c.vlt + 1)));
    else registry_.set(L"VltTrace", std::wstring(c.vlt));
  }
  if (c.components) registry_.set(L"Components", std::wstring(c.components));
  if (c.excluded) registry_.set(L"ComponentsNOT", std::wstring(c.excluded));
  if (c.trace_to_file >= 0) registry_.set(L"TraceToFile", static_cast<DWORD>(c.trace_to_file));
  if (c.new_file_always >= 0) registry_.set(L"NewFileAlways", static_cast<DWORD>(c.new_file_always));
  realtracer_t tracer(nullptr);
  EXPECT_EQ(tracer.output_mode(), c.mode);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, OutputModeTest,
    ::testing::Values(
        ModeCase{.name = "absent", .vlt = nullptr, .mode = mode_nowhere},
        ModeCase{.name = "number_one", .mode = mode_newfile},
        ModeCase{.name = "number_zero", .vlt = L"#0", .mode = mode_nowhere},
        ModeCase{.name = "text_five", .vlt = L"5", .mode = mode_newfile},
        ModeCase{.name = "text_zero", .vlt = L"0", .mode = mode_nowhere},
        ModeCase{.name = "text_garbage", .vlt = L"yes", .mode = mode_nowhere},
        ModeCase{.name = "not_listed", .components = nullptr, .mode = mode_nowhere},
        ModeCase{.name = "listed_among_others", .components = L"kxagent.exe; mozillakxagentclient",
                 .mode = mode_newfile},
        ModeCase{.name = "listed_and_excluded", .components = L"*", .excluded = L"MozillaKXAgentClient.dll",
                 .mode = mode_nowhere},
        ModeCase{.name = "one_shared_file", .components = L"*", .trace_to_file = 1, .new_file_always = 0,
                 .mode = mode_file},
        ModeCase{.name = "console", .components = L"*", .trace_to_file = 3, .mode = mode_console},
        ModeCase{.name = "debugger_absent_gives_console", .components = L"*", .trace_to_file = 4, .mode = mode_console},
        ModeCase{.name = "unknown_output", .components = L"*", .trace_to_file = 2, .mode = mode_nowhere}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealTracerTest, ManyThreadsGiveAFileThatDecodesCleanly) {
  registry_.trace_to(dir_.path());
  constexpr int kThreads = 8, kRecords = 250;
  std::vector<DWORD> ids(kThreads);
  with_tracer([&](realtracer_t&) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, &ids] {
        ids[t] = GetCurrentThreadId();
        KXSCOPE("worker");
        for (int i = 0; i < kRecords; ++i) {
          KXSCOPE("step");
          KXTRACE("thread %d record %d with a text long enough to span several cipher blocks", t, i);
        }
      });
    }
    for (auto& th : threads) th.join();
  });
  const auto files = dir_.files(L"*.trc3");
  ASSERT_EQ(files.size(), 1u);
  const auto file = kxtest::read_trace(files[0]);
  ASSERT_EQ(file.stop, "");
  std::map<std::uint32_t, int> depth, lines;
  std::map<std::uint32_t, int> next_record;
  for (const auto& r : kxtest::content_records(file)) {
    if (r.kind == '>') ++depth[r.thread];
    if (r.kind == '<') {
      ASSERT_GT(depth[r.thread]--, 0);
    }
    if (r.kind != 'U') continue;
    int t = -1, i = -1;
    ASSERT_EQ(sscanf(r.text.c_str(), "thread %d record %d", &t, &i), 2) << r.text;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(r.thread, ids[t]) << "record of thread " << t << " carries another thread's id";
    EXPECT_EQ(i, next_record[r.thread]++) << "records of one thread stay in order";
    ++lines[r.thread];
  }
  EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads));
  for (const auto& [thread, n] : lines) EXPECT_EQ(n, kRecords);
  for (const auto& [thread, d] : depth) EXPECT_EQ(d, 0);
}

TEST_F(RealTracerTest, CategoryMaskComesFromTheRegistryAndGoesBackToIt) {
  registry_.set(L"vlt_kxffcli", 0x84);
  with_tracer([&](realtracer_t& t) {
    EXPECT_TRUE(category_on(cat_label_detection | cat_window_class));
    EXPECT_FALSE(category_on(cat_senddata));
    t.set_traceinfo("#..kxffcli..#\n10 #[200]# core: senddata\n");
    EXPECT_EQ(registry_.number(L"vlt_kxffcli"), 0x200u);
    t.set_traceinfo("#..all..#\n1 #[01]# do not trace\n");
    EXPECT_FALSE(registry_.has(L"vlt_kxffcli")) << "a mask of 0 removes the value";
    t.set_traceinfo("#..all..#\n3 #[04]# restore to the point befere last set\n");
    EXPECT_EQ(registry_.number(L"vlt_kxffcli"), 0x200u);
  });
}

// Another component of the process holds the trace mutex and does not let go: tracing goes on,
// and every record is written.
TEST_F(RealTracerTest, AHeldTraceMutexDoesNotStopTheTrace) {
  registry_.trace_to(dir_.path());
  wchar_t name[64];
  _snwprintf(name, 64, L"Global\\%s_%04X", L"KXMAX_tracemutex", static_cast<unsigned>(GetCurrentProcessId()));
  name[63] = 0;
  HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    unique_handle mutex(CreateMutexW(nullptr, TRUE, name));
    SetEvent(taken);
    WaitForSingleObject(done, 60000);
    ReleaseMutex(mutex.get());
  });
  ASSERT_EQ(WaitForSingleObject(taken, 10000), WAIT_OBJECT_0);
  with_tracer([](realtracer_t&) {
    for (int i = 0; i < 20; ++i) KXTRACE("record %d while the mutex is held", i);
  });
  SetEvent(done);
  holder.join();
  CloseHandle(taken);
  CloseHandle(done);
  const auto files = dir_.files(L"*.trc3");
  ASSERT_EQ(files.size(), 1u);
  const auto file = kxtest::read_trace(files[0]);
  EXPECT_EQ(file.stop, "");
  int lines = 0;
  for (const auto& r : kxtest::content_records(file)) lines += r.kind == 'U';
  EXPECT_EQ(lines, 20);
}

// The trace console's close command is gone from its system menu.
TEST(TraceConsoleTest, CloseCommandIsRemovedFromTheSystemMenu) {
  unique_hwnd window(CreateWindowExW(0, L"STATIC", L"console stand-in", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                     nullptr, nullptr, nullptr));
  ASSERT_TRUE(window);
  ASSERT_NE(GetMenuState(GetSystemMenu(window.get(), FALSE), SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
  remove_close_command(window.get());
  EXPECT_EQ(GetMenuState(GetSystemMenu(window.get(), FALSE), SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
  remove_close_command(nullptr);  // no console window: nothing happens
}

TEST(TraceCleanupTest, RemovesOnlyThisComponentsOldTraceFiles) {
  kxtest::scratch_dir_t dir(L"cleanup");
  const std::wstring base = dir.path() + L"\\";
  const std::vector<std::pair<std::wstring, bool>> files = {
      {L"0.vlt_trace.MozillaKXAgentClient.dll.1.120.trc3", true},   // old: removed
      {L"0.vlt_trace.MozillaKXAgentClient.dll.1.0.trc3", true},     // old: removed
      {L"0.vlt_trace.MozillaKXAgentClient.dll.1.77.trc3", false},   // the current file: kept
      {L"0.vlt_trace.OtherComponent.dll.1.0.trc3", false},          // another component's
      {L"notes.txt", false},                                        // not a trace file at all
      {L"report.trc3", false},
  };
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER old;
  old.LowPart = now.dwLowDateTime;
  old.HighPart = now.dwHighDateTime;
  old.QuadPart -= 30ULL * 24 * 3600 * 10000000ULL;
  const FILETIME old_ft{old.LowPart, old.HighPart};
  for (const auto& [name, removed] : files) {
    tracecore::unique_hfile f(CreateFileW((base + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(f);
    SetFileTime(f.get(), nullptr, nullptr, &old_ft);
  }
  // A recent file of the component stays as well.
  tracecore::unique_hfile recent(CreateFileW((base + L"0.vlt_new.MozillaKXAgentClient.dll.1.0.trc3").c_str(),
                                             GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  recent.reset();
  clean_old_trace_files(dir.path(), base + L"0.vlt_trace.MozillaKXAgentClient.dll.1.77.trc3");
  for (const auto& [name, removed] : files)
    EXPECT_EQ(GetFileAttributesW((base + name).c_str()) == INVALID_FILE_ATTRIBUTES, removed) << to_utf8(name);
  EXPECT_NE(GetFileAttributesW((base + L"0.vlt_new.MozillaKXAgentClient.dll.1.0.trc3").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace tracecore
