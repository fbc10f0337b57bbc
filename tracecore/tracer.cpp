#include "tracecore/tracer.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>

#include "tracecore/trace.h"

namespace tracecore {

namespace detail {
std::atomic<bool> g_on{false};
std::atomic<std::uint32_t> g_mask{0};
}  // namespace detail

namespace {

std::atomic<bool> g_shutdown{false};

tracer_t& default_tracer() {
  static tracer_t t;
  return t;
}

std::atomic<tracer_t*> g_current{nullptr};

std::string vformat(const char* format, va_list args) {
  char stack[512];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(stack, sizeof stack, format, copy);
  va_end(copy);
  if (n < 0) return format;
  if (static_cast<size_t>(n) < sizeof stack) return std::string(stack, n);
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, args);
  big.resize(n);
  return big;
}

}  // namespace

std::string date_text(const local_time_t& t) {
  char b[32];
  std::snprintf(b, sizeof b, "%02d/%02d/%02d", t.month, t.day, t.year % 100);
  return b;
}

std::string time_text(const local_time_t& t) {
  char b[32];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second, t.millisecond);
  return b;
}

std::string newrun_text(const local_time_t& t) {
  char b[32];
  std::snprintf(b, sizeof b, "%02d-%02d-%02d", t.month, t.day, t.year % 100);
  return b;
}

void outputstoragememory_t::write(std::uint32_t thread, char kind, std::string_view text, const char* scope) {
  std::lock_guard<std::mutex> g(lock_);
  records_.push_back({thread, kind, std::string(text), scope ? scope : ""});
}

std::vector<memory_record_t> outputstoragememory_t::records() const {
  std::lock_guard<std::mutex> g(lock_);
  return records_;
}

void outputstoragememory_t::clear() {
  std::lock_guard<std::mutex> g(lock_);
  records_.clear();
}

tracer_t::tracer_t() : output_(std::make_unique<outputstoragenowhere_t>()) {}
tracer_t::~tracer_t() = default;

std::unique_ptr<outputstorageinterface_t> tracer_t::make_output(int) {
  return std::make_unique<outputstoragenowhere_t>();
}

local_time_t tracer_t::local_time() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
#if defined(_WIN32)
  localtime_s(&tm, &secs);
#else
  localtime_r(&secs, &tm);
#endif
  local_time_t t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return t;
}

std::uint32_t tracer_t::tick_count() {
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

std::uint32_t tracer_t::thread_id() {
  return static_cast<std::uint32_t>(std::hash<std::thread::id>()(std::this_thread::get_id()));
}

int tracer_t::mode() const {
  std::lock_guard<std::recursive_mutex> g(lock_);
  return mode_;
}

void tracer_t::configure() {
  std::lock_guard<std::mutex> serial(configure_lock_);
  const int mode = output_mode();
  const std::uint32_t mask = read_category_mask();
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (mode != mode_ || !configured_) {
      output_ = make_output(mode);
      if (!output_) output_ = std::make_unique<outputstoragenowhere_t>();
      mode_ = mode;
    }
    if (!mask_set_) mask_.load(mask);
    detail::g_mask.store(mask_.value(), std::memory_order_relaxed);
    configured_ = true;
  }
  deadline_.store(tick_count() + kRecheckInterval);
  if (&tracer() == this) refresh_on_flag();
}

void tracer_t::recheck() {
  const std::uint32_t now = tick_count();
  std::uint32_t deadline = deadline_.load();
  // Signed distance so that the tick count may wrap.
  if (static_cast<std::int32_t>(now - deadline) < 0) return;
  // Only the thread that moves this deadline on configures; a thread that finds it moved already
  // leaves the re-check to that one.
  if (!deadline_.compare_exchange_strong(deadline, now + kRecheckInterval)) return;
  configure();
}

void tracer_t::write_locked(std::uint32_t thread, char kind, std::string_view text, const char* scope) {
  const local_time_t now = local_time();
  if (!have_last_ || !now.same_date(last_)) output_->write(thread, kind_date, date_text(now), scope);
  if (!have_last_ || !now.same_time(last_)) output_->write(thread, kind_time, time_text(now), scope);
  have_last_ = true;
  last_ = now;
  output_->write(thread, kind, text, scope);
}

void tracer_t::write(char kind, std::string_view text) {
  if (!on()) return;
  const std::uint32_t thread = thread_id();
  std::lock_guard<std::recursive_mutex> g(lock_);
  auto it = stacks_.find(thread);
  const char* scope = it == stacks_.end() || it->second.empty() ? "main" : it->second.back();
  lock_records();
  write_locked(thread, kind, text, scope);
  unlock_records();
}

bool tracer_t::enter(const char* name) {
  recheck();
  if (!on()) return false;
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    stacks_[thread_id()].push_back(name);
  }
  write(kind_enter, name);
  return true;
}

void tracer_t::leave() {
  write(kind_leave, {});
  std::lock_guard<std::recursive_mutex> g(lock_);
  auto it = stacks_.find(thread_id());
  if (it == stacks_.end()) return;
  if (!it->second.empty()) it->second.pop_back();
  if (it->second.empty()) stacks_.erase(it);
}

std::string tracer_t::current_scope() {
  std::lock_guard<std::recursive_mutex> g(lock_);
  auto it = stacks_.find(thread_id());
  return it == stacks_.end() || it->second.empty() ? "main" : it->second.back();
}

std::uint32_t tracer_t::category_mask() const {
  std::lock_guard<std::recursive_mutex> g(lock_);
  return mask_.value();
}

std::string tracer_t::set_traceinfo(std::string_view text) {
  const traceinfo_request_t request = parse_traceinfo(text);
  std::uint32_t mask;
  bool changed;
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    changed = mask_.apply(request);
    if (request.kind != traceinfo_request_t::none) mask_set_ = true;
    mask = mask_.value();
    detail::g_mask.store(mask, std::memory_order_relaxed);
  }
  if (request.kind == traceinfo_request_t::none) return "no change: nothing selected for kxffcli\n";
  if (changed) store_category_mask(mask);
  char b[64];
  std::snprintf(b, sizeof b, "%s: kxffcli mask 0x%x\n", changed ? "set" : "unchanged", mask);
  return b;
}

tracer_t& tracer() {
  tracer_t* t = g_current.load(std::memory_order_acquire);
  return t ? *t : default_tracer();
}

tracer_t* install(tracer_t* t) {
  tracer_t* old = g_current.exchange(t, std::memory_order_acq_rel);
  refresh_on_flag();
  return old;
}

void shutdown() {
  g_shutdown.store(true);
  detail::g_on.store(false);
}

void refresh_on_flag() {
  detail::g_on.store(!g_shutdown.load() && tracer().mode() != mode_nowhere, std::memory_order_relaxed);
  detail::g_mask.store(tracer().category_mask(), std::memory_order_relaxed);
}

// ---- the operations behind the macros ----

void line(const char* text) {
  if (on()) tracer().write(kind_line, text);
}

void linef(const char* format, ...) {
  if (!on()) return;
  va_list args;
  va_start(args, format);
  const std::string text = vformat(format, args);
  va_end(args);
  tracer().write(kind_line, text);
}

void errorf(std::int32_t code, const char* format, ...) {
  if (!on()) return;
  va_list args;
  va_start(args, format);
  const std::string text = std::to_string(code) + " " + vformat(format, args);
  va_end(args);
  tracer().write(kind_error, text);
}

scope_t::scope_t(const char* name) noexcept {
  try { entered_ = tracer().enter(name); } catch (...) { entered_ = false; }
}

scope_t::scope_t(std::uint32_t category, const char* name) noexcept {
  if (!category_on(category)) return;
  try { entered_ = tracer().enter(name); } catch (...) { entered_ = false; }
}

scope_t::~scope_t() {
  if (!entered_) return;
  try { tracer().leave(); } catch (...) {}
}

}  // namespace tracecore
