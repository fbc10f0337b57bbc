// The tracer: configuration, per-thread scopes, date and time records, and the output storages.
// Platform outputs (file, console, debugger) and the registry configuration live in realtracer.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tracecore/categories.h"
#include "tracecore/record.h"

namespace tracecore {

enum output_mode : int {
  mode_nowhere = 1,
  mode_file = 2,      // one file, appended to by every run
  mode_newfile = 3,   // a file of this process's own
  mode_console = 4,
  mode_debugger = 5,
};

struct local_time_t {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  bool same_date(const local_time_t& o) const noexcept {
    return year == o.year && month == o.month && day == o.day;
  }
  bool same_time(const local_time_t& o) const noexcept {
    return same_date(o) && hour == o.hour && minute == o.minute && second == o.second &&
           millisecond == o.millisecond;
  }
};

std::string date_text(const local_time_t& t);     // "t" records: "%02d/%02d/%02d"
std::string time_text(const local_time_t& t);     // "T" records: "%02d:%02d:%02d.%03d"
std::string newrun_text(const local_time_t& t);   // "N" records: "%02d-%02d-%02d"

class outputstorageinterface_t {
 public:
  virtual ~outputstorageinterface_t() = default;
  virtual void write(std::uint32_t thread, char kind, std::string_view text, const char* scope) = 0;
};

// Mode 1: writes nothing.
class outputstoragenowhere_t final : public outputstorageinterface_t {
 public:
  void write(std::uint32_t, char, std::string_view, const char*) override {}
};

// Keeps every record in memory; for tests and tools.
struct memory_record_t {
  std::uint32_t thread;
  char kind;
  std::string text;
  std::string scope;
};
class outputstoragememory_t final : public outputstorageinterface_t {
 public:
  void write(std::uint32_t thread, char kind, std::string_view text, const char* scope) override;
  std::vector<memory_record_t> records() const;
  void clear();

 private:
  mutable std::mutex lock_;
  std::vector<memory_record_t> records_;
};

class tracer_t {
 public:
  static constexpr std::uint32_t kRecheckInterval = 30000;  // ms

  tracer_t();
  virtual ~tracer_t();
  tracer_t(const tracer_t&) = delete;
  tracer_t& operator=(const tracer_t&) = delete;

  // The configuration, as the platform tracer reads it. The portable tracer traces nowhere.
  virtual std::string output_file_name() { return {}; }
  virtual bool vlt_trace_once() { return false; }
  virtual int output_mode() { return mode_nowhere; }

  // Computes the mode and the category mask again; replaces the output storage when the mode
  // changed. Called when the tracer is made and whenever the re-check deadline has passed. Once
  // set_traceinfo has set the categories, they stay as it set them: the stored mask is no longer
  // read (its write may well have failed, as it does without administrator rights). Calls are
  // serialised.
  void configure();
  // On entering a scope: once the deadline has passed, the one thread that moves it on runs
  // configure(); the others carry on with the configuration they have.
  void recheck();

  void write(char kind, std::string_view text);
  bool enter(const char* name);  // true when a ">" record was written and the name pushed
  void leave();
  std::string current_scope();   // "main" for a thread without scopes

  // The category mask with "restore"; changes are kept in memory and stored, and from the first
  // change on the memory is what counts.
  std::uint32_t category_mask() const;
  std::string set_traceinfo(std::string_view text);  // returns the reply text

  int mode() const;

 protected:
  virtual std::unique_ptr<outputstorageinterface_t> make_output(int mode);
  virtual std::uint32_t read_category_mask() { return 0; }
  virtual void store_category_mask(std::uint32_t) {}
  virtual local_time_t local_time();
  virtual std::uint32_t tick_count();
  virtual std::uint32_t thread_id();
  // The process-wide record lock (a named mutex on Windows); the critical section is held around it.
  virtual void lock_records() {}
  virtual void unlock_records() {}

 private:
  void write_locked(std::uint32_t thread, char kind, std::string_view text, const char* scope);

  std::mutex configure_lock_;          // one configure() at a time
  mutable std::recursive_mutex lock_;  // stacks, output storage, last time, mask
  std::unordered_map<std::uint32_t, std::vector<const char*>> stacks_;
  std::atomic<std::uint32_t> deadline_{0};
  std::atomic<bool> configured_{false};
  int mode_ = mode_nowhere;
  bool have_last_ = false;
  local_time_t last_{};
  std::unique_ptr<outputstorageinterface_t> output_;
  category_mask_t mask_;
  bool mask_set_ = false;  // set_traceinfo chose the categories: the stored mask is not read again
};

// The tracer of this module. install() makes |t| current (nullptr: the portable default) and
// returns the one it replaces; the caller keeps ownership.
tracer_t& tracer();
tracer_t* install(tracer_t* t);
// The module is going away: every trace operation is off from now on.
void shutdown();
// Re-evaluates the fast on() flag from the current tracer's mode.
void refresh_on_flag();

}  // namespace tracecore
