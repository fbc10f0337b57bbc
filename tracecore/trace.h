// The trace operations every layer reports through.
//
//   KXTRACE("'`I0A`'Loaded document %s", url.c_str());   // a U record
//   KXERROR("null document");                            // an E record with code 0
//   KXERROR_CODE(hr, "cannot open %s", name);            // an E record with the given code
//   KXERROR_IF_FAILED(rv, "GetValue");                   // an E record only when rv < 0
//   KXSCOPE("KXIntrn::recognizePage");                   // > on entry, < on exit
//   KXSCOPE_IF(tracecore::cat_window_class, "ffwinproc"); // the same, only when the category is on
//   if (tracecore::category_on(tracecore::cat_label_detection)) { ... }
//
// Formats are printf formats over UTF-8 text; convert UTF-16 with tracecore::to_utf8 first. Every
// operation costs one predictable branch while tracing is off: the arguments are not evaluated.
#pragma once

#include <atomic>
#include <cstdint>

namespace tracecore {

// Category bits of this component ("kxffcli"), see categories.h for their names.
enum category : std::uint32_t {
  cat_alien_messages = 0x1,
  cat_alien_messages_quiet = 0x2,
  cat_window_class = 0x4,
  cat_show_balloon = 0x8,
  cat_cache_internals = 0x10,
  cat_window_pos = 0x20,
  cat_fb_drawing = 0x40,
  cat_label_detection = 0x80,
  cat_control_creation = 0x100,
  cat_senddata = 0x200,
  cat_control_matching = 0x400,
};

namespace detail {
extern std::atomic<bool> g_on;
extern std::atomic<std::uint32_t> g_mask;
}  // namespace detail

// True while records are written somewhere (an output mode other than "nowhere").
inline bool on() noexcept { return detail::g_on.load(std::memory_order_relaxed); }

// True when every bit of |mask| is in the component's category mask.
inline bool category_on(std::uint32_t mask) noexcept {
  return (detail::g_mask.load(std::memory_order_relaxed) & mask) == mask;
}

// Record writers behind the macros; they check on() themselves as well.
void line(const char* text);
void linef(const char* format, ...) __attribute__((format(printf, 1, 2)));
void errorf(std::int32_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
#if defined(_WIN32)
// An E record whose code is GetLastError() as an HRESULT.
void error_lastf(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

// A named scope: a ">" record when made and a "<" record when it goes. The name must outlive the
// scope (scope names are string literals).
class scope_t {
 public:
  explicit scope_t(const char* name) noexcept;
  // Only when every bit of |category| is on.
  scope_t(std::uint32_t category, const char* name) noexcept;
  ~scope_t();
  scope_t(const scope_t&) = delete;
  scope_t& operator=(const scope_t&) = delete;

 private:
  bool entered_ = false;
};

}  // namespace tracecore

#define KX_TRACE_CAT2(a, b) a##b
#define KX_TRACE_CAT(a, b) KX_TRACE_CAT2(a, b)

#define KXTRACE(...) \
  do { if (::tracecore::on()) ::tracecore::linef(__VA_ARGS__); } while (0)
#define KXERROR(...) \
  do { if (::tracecore::on()) ::tracecore::errorf(0, __VA_ARGS__); } while (0)
#define KXERROR_CODE(code, ...) \
  do { if (::tracecore::on()) ::tracecore::errorf(static_cast<std::int32_t>(code), __VA_ARGS__); } while (0)
#define KXERROR_IF_FAILED(code, ...)                                                          \
  do {                                                                                        \
    const long kx_code_ = static_cast<std::int32_t>(code);                                            \
    if (kx_code_ < 0 && ::tracecore::on()) ::tracecore::errorf(kx_code_, __VA_ARGS__);        \
  } while (0)
#if defined(_WIN32)
#define KXERROR_LAST(...) \
  do { if (::tracecore::on()) ::tracecore::error_lastf(__VA_ARGS__); } while (0)
#endif
#define KXSCOPE(name) ::tracecore::scope_t KX_TRACE_CAT(kx_scope_, __LINE__)(name)
#define KXSCOPE_IF(category, name) ::tracecore::scope_t KX_TRACE_CAT(kx_scope_, __LINE__)(category, name)
