// Owners for the user-interface handles of the feedback UI: menus, bitmaps, memory and window DCs,
// objects selected into a DC, and window timers.
//
//   unique_hmenu menu(LoadMenuW(module, MAKEINTRESOURCEW(303)));   // DestroyMenu
//   window_dc_t screen(nullptr);                                    // GetDC / ReleaseDC
//   unique_hdc memory(CreateCompatibleDC(screen.get()));            // DeleteDC
//   select_object_t chosen(memory.get(), bitmap.get());             // SelectObject and back
#pragma once

#include <windows.h>

#include <utility>

#include "tracecore/win_handles.h"

namespace ffui {

namespace detail {
inline void destroy_menu(HMENU h) noexcept { ::DestroyMenu(h); }
inline void delete_bitmap(HBITMAP h) noexcept { ::DeleteObject(h); }
inline void delete_dc(HDC h) noexcept { ::DeleteDC(h); }
}  // namespace detail

using unique_hmenu = tracecore::unique_any<tracecore::null_none<HMENU, &detail::destroy_menu>>;
using unique_hbitmap = tracecore::unique_any<tracecore::null_none<HBITMAP, &detail::delete_bitmap>>;
using unique_hdc = tracecore::unique_any<tracecore::null_none<HDC, &detail::delete_dc>>;

// A DC obtained with GetDC, released with ReleaseDC for the same window.
class window_dc_t {
 public:
  explicit window_dc_t(HWND hwnd) noexcept : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
  ~window_dc_t() {
    if (dc_) ::ReleaseDC(hwnd_, dc_);
  }
  window_dc_t(const window_dc_t&) = delete;
  window_dc_t& operator=(const window_dc_t&) = delete;
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// An object selected into a DC for the life of the scope.
class select_object_t {
 public:
  select_object_t(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~select_object_t() {
    if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }
  select_object_t(const select_object_t&) = delete;
  select_object_t& operator=(const select_object_t&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A window timer: bound once to a window, id and period; started and stopped any number of times.
// Starting a running timer or one without a live window does nothing, stopping one that is not
// running does nothing; the timer stops when its owner goes.
class window_timer_t {
 public:
  explicit window_timer_t(const char* name) noexcept : name_(name) {}
  ~window_timer_t() { stop(); }
  window_timer_t(const window_timer_t&) = delete;
  window_timer_t& operator=(const window_timer_t&) = delete;

  void bind(HWND window, UINT_PTR id, UINT period) noexcept {
    stop();
    window_ = window;
    id_ = id;
    period_ = period;
  }
  void start() noexcept {
    if (running_ || !::IsWindow(window_)) return;
    running_ = ::SetTimer(window_, id_, period_, nullptr) != 0;
  }
  void stop() noexcept {
    if (!running_) return;
    ::KillTimer(window_, id_);
    running_ = false;
  }
  bool running() const noexcept { return running_; }
  UINT_PTR id() const noexcept { return id_; }
  UINT period() const noexcept { return period_; }
  const char* name() const noexcept { return name_; }

 private:
  const char* name_;
  bool running_ = false;
  HWND window_ = nullptr;
  UINT period_ = 0;
  UINT_PTR id_ = 0;
};

}  // namespace ffui
