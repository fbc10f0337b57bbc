#include "tracecore/tracer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tracecore/testing.h"
#include "tracecore/trace.h"

namespace tracecore {
namespace {

// A tracer with a clock the test sets.
class clocked_tracer_t : public tracer_t {
 public:
  local_time_t now{2026, 12, 9, 23, 59, 59, 998};
  std::uint32_t ticks = 1000;
  int mode = mode_console;
  int configured = 0;
  std::uint32_t stored_mask = 0xFFFFFFFF;
  outputstoragememory_t* storage = nullptr;

  int output_mode() override { ++configured; return mode; }

 protected:
  std::unique_ptr<outputstorageinterface_t> make_output(int) override {
    auto s = std::make_unique<outputstoragememory_t>();
    storage = s.get();
    return s;
  }
  local_time_t local_time() override { return now; }
  std::uint32_t tick_count() override { return ticks; }
  void store_category_mask(std::uint32_t m) override { stored_mask = m; }
};

class TracerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t_.configure();
    previous_ = install(&t_);
  }
  void TearDown() override { install(previous_); }

  std::string kinds() const {
    std::string k;
    for (const auto& r : t_.storage->records()) k += r.kind;
    return k;
  }

  clocked_tracer_t t_;
  tracer_t* previous_ = nullptr;
};

TEST_F(TracerTest, DateAndTimeRecordsOnlyWhenTheyChange) {
  KXTRACE("one");
  KXTRACE("two");  // same millisecond: no new time record
  t_.now.millisecond = 999;
  KXTRACE("three");
  t_.now = {2026, 12, 10, 0, 0, 0, 1};  // after midnight: date and time
  KXTRACE("four");
  EXPECT_EQ(kinds(), "tTUUTUtTU");
  const auto r = t_.storage->records();
  EXPECT_EQ(r[0].text, "12/09/26");
  EXPECT_EQ(r[1].text, "23:59:59.998");
  EXPECT_EQ(r[6].text, "12/10/26");
  EXPECT_EQ(r[7].text, "00:00:00.001");
}

TEST_F(TracerTest, ScopesNameTheRecordsWrittenInsideThem) {
  {
    KXSCOPE("Mozilla::OnActi");
    KXTRACE("inner");
  }
  KXTRACE("outer");
  const auto r = t_.storage->records();
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[2].kind, '>');
  EXPECT_EQ(r[2].text, "Mozilla::OnActi");
  EXPECT_EQ(r[3].scope, "Mozilla::OnActi");
  EXPECT_EQ(r[4].kind, '<');
  EXPECT_EQ(r[5].scope, "main");
}

TEST_F(TracerTest, ErrorsCarryTheirCodeInDecimal) {
  KXERROR("null document");
  KXERROR_CODE(0x80004003, "NSPTR(%s)", "x");
  KXERROR_IF_FAILED(0, "not written");
  const auto r = t_.storage->records();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[2].text, "0 null document");
  EXPECT_EQ(r[3].text, std::string("-2147467261") + " NSPTR(x)");
}

TEST_F(TracerTest, ConditionalScopeFollowsTheCategory) {
  { KXSCOPE_IF(cat_window_class, "ffwinproc"); }
  EXPECT_EQ(kinds(), "");
  t_.set_traceinfo("#..kxffcli..#\n3 #[04]# ffwin: class\n");
  EXPECT_EQ(t_.stored_mask, 4u);
  EXPECT_TRUE(category_on(cat_window_class));
  { KXSCOPE_IF(cat_window_class, "ffwinproc"); }
  EXPECT_EQ(kinds(), "tT><");
}

TEST_F(TracerTest, ReconfiguresOnlyAfterTheDeadline) {
  const int before = t_.configured;
  { KXSCOPE("a"); }
  EXPECT_EQ(t_.configured, before);
  t_.ticks += tracer_t::kRecheckInterval;
  t_.mode = mode_nowhere;
  { KXSCOPE("b"); }
  EXPECT_EQ(t_.configured, before + 1);
  EXPECT_FALSE(on());
  KXTRACE("not written");
}

// The categories set through the export stay when the re-check reads a stored mask that the
// export could not write (a browser without administrator rights cannot write HKLM).
TEST(TracerRecheck, CategoriesSetByTheExportOutliveTheRecheck) {
  class unwritable_t : public clocked_tracer_t {
   protected:
    std::uint32_t read_category_mask() override { return 0x84; }  // stays what it was
  } t;
  t.configure();
  tracer_t* previous = install(&t);
  EXPECT_EQ(t.category_mask(), 0x84u) << "the stored mask until the export sets one";
  t.set_traceinfo("#..kxffcli..#\n10 #[200]# core: senddata\n");
  EXPECT_EQ(t.category_mask(), 0x200u);
  for (int i = 0; i < 3; ++i) {
    t.ticks += tracer_t::kRecheckInterval;
    { KXSCOPE("after the deadline"); }
  }
  EXPECT_GE(t.configured, 4);
  EXPECT_EQ(t.category_mask(), 0x200u);
  EXPECT_TRUE(category_on(cat_senddata));
  EXPECT_FALSE(category_on(cat_label_detection));
  t.set_traceinfo("#..all..#\n3 #[04]# restore to the point befere last set\n");
  EXPECT_EQ(t.category_mask(), 0x84u) << "restore still goes back";
  install(previous);
}

// Threads that pass the deadline together: one of them re-reads the configuration.
TEST(TracerRecheck, OneThreadReconfiguresPerDeadline) {
  class slow_config_t : public tracer_t {
   public:
    std::atomic<std::uint32_t> ticks{1000};
    std::atomic<int> configured{0};
    int output_mode() override {
      ++configured;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a slow registry
      return mode_nowhere;
    }

   protected:
    std::uint32_t tick_count() override { return ticks.load(); }
  } t;
  t.configure();
  for (int round = 0; round < 3; ++round) {
    t.configured = 0;
    t.ticks += tracer_t::kRecheckInterval;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] {
        ++ready;
        while (ready.load() < 8) std::this_thread::yield();
        t.recheck();
      });
    for (auto& th : threads) th.join();
    EXPECT_EQ(t.configured.load(), 1) << "round " << round;
  }
}

TEST_F(TracerTest, ArgumentsAreNotEvaluatedWhileOff) {
  t_.ticks += tracer_t::kRecheckInterval;
  t_.mode = mode_nowhere;
  t_.recheck();
  int evaluated = 0;
  KXTRACE("%d", ++evaluated);
  EXPECT_EQ(evaluated, 0);
}

TEST_F(TracerTest, ScopeEnteredWhileOffDoesNotPopAnother) {
  t_.mode = mode_nowhere;
  t_.ticks += tracer_t::kRecheckInterval;
  KXSCOPE("outer");  // off: nothing pushed
  t_.mode = mode_console;
  t_.configure();
  {
    KXSCOPE("inner");
  }
  EXPECT_EQ(t_.current_scope(), "main");
}

TEST_F(TracerTest, ThreadsKeepScopesApart) {
  KXSCOPE("main-thread-scope");
  std::thread other([] {
    KXSCOPE("worker");
    KXTRACE("from worker");
  });
  other.join();
  for (const auto& r : t_.storage->records())
    if (r.text == "from worker") {
      EXPECT_EQ(r.scope, "worker");
    }
  EXPECT_EQ(t_.current_scope(), "main-thread-scope");
}

TEST(CaptureTest, SeesTheTraceOfTheCodeUnderTest) {
  testing::capture_t trace;
  KXTRACE("'`I04`'Invalid KXAgent");
  EXPECT_TRUE(trace.has('U', "'`I04`'Invalid KXAgent")) << trace.dump();
}

}  // namespace
}  // namespace tracecore
