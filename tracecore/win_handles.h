// Owners for Win32 handles: each closes its handle on every path, is movable and not copyable.
//
//   unique_handle event(CreateEventW(...));       // CloseHandle
//   unique_hkey key; RegOpenKeyExW(..., key.put());
//   unique_view view(MapViewOfFile(...));         // UnmapViewOfFile
#pragma once

#if !defined(_WIN32)
#error "Windows only"
#endif

#include <windows.h>

#include <utility>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tracecore {

// The image this code is linked into (the component DLL, or a test program).
inline HMODULE this_module() noexcept { return reinterpret_cast<HMODULE>(&__ImageBase); }

// Traits: the handle type, its "none" value and how to close it.
template <class T, auto Close>
struct null_none {
  using type = T;
  static T invalid() noexcept { return nullptr; }
  static void close(T h) noexcept { Close(h); }
};
template <auto Close>
struct invalid_value_none {
  using type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { Close(h); }
};

template <class Traits>
class unique_any {
  using T = typename Traits::type;

 public:
  unique_any() = default;
  explicit unique_any(T h) noexcept : h_(h) {}
  unique_any(unique_any&& o) noexcept : h_(std::exchange(o.h_, Traits::invalid())) {}
  unique_any& operator=(unique_any&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, Traits::invalid()));
    return *this;
  }
  ~unique_any() { reset(); }
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;

  T get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::invalid(); }
  T release() noexcept { return std::exchange(h_, Traits::invalid()); }
  void reset() noexcept { reset(Traits::invalid()); }
  void reset(T h) noexcept {
    T old = std::exchange(h_, h);
    if (old != Traits::invalid()) Traits::close(old);
  }
  // For APIs that return the handle through an out parameter.
  T* put() noexcept { reset(); return &h_; }

 private:
  T h_ = Traits::invalid();
};

namespace detail {
inline void close_handle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void close_find(HANDLE h) noexcept { ::FindClose(h); }
inline void close_key(HKEY h) noexcept { ::RegCloseKey(h); }
inline void free_library(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void unmap_view(void* p) noexcept { ::UnmapViewOfFile(p); }
inline void destroy_window(HWND h) noexcept { if (::IsWindow(h)) ::DestroyWindow(h); }
inline void local_free(void* p) noexcept { ::LocalFree(p); }
}  // namespace detail

// Kernel handles whose "none" is null (mutexes, events, mappings, processes, threads).
using unique_handle = unique_any<null_none<HANDLE, &detail::close_handle>>;
// File handles, whose "none" is INVALID_HANDLE_VALUE.
using unique_hfile = unique_any<invalid_value_none<&detail::close_handle>>;
using unique_hfind = unique_any<invalid_value_none<&detail::close_find>>;
using unique_hkey = unique_any<null_none<HKEY, &detail::close_key>>;
using unique_hmodule = unique_any<null_none<HMODULE, &detail::free_library>>;
using unique_view = unique_any<null_none<void*, &detail::unmap_view>>;
using unique_hwnd = unique_any<null_none<HWND, &detail::destroy_window>>;
using unique_hlocal = unique_any<null_none<void*, &detail::local_free>>;

// Holds a mutex acquired by a wait; releases it when it goes.
class mutex_lock_t {
 public:
  mutex_lock_t() = default;
  explicit mutex_lock_t(HANDLE mutex) noexcept : mutex_(mutex) {}
  mutex_lock_t(mutex_lock_t&& o) noexcept : mutex_(std::exchange(o.mutex_, nullptr)) {}
  mutex_lock_t& operator=(mutex_lock_t&& o) noexcept {
    if (this != &o) { unlock(); mutex_ = std::exchange(o.mutex_, nullptr); }
    return *this;
  }
  ~mutex_lock_t() { unlock(); }
  explicit operator bool() const noexcept { return mutex_ != nullptr; }
  void unlock() noexcept {
    if (mutex_) ::ReleaseMutex(std::exchange(mutex_, nullptr));
  }

 private:
  HANDLE mutex_ = nullptr;
};

// Waits for |mutex|. An abandoned mutex is owned by the waiter too, so it is held (and released
// later) as well; a failed or timed-out wait yields an empty lock.
inline mutex_lock_t acquire_mutex(HANDLE mutex, DWORD timeout) noexcept {
  if (!mutex) return {};
  const DWORD r = ::WaitForSingleObject(mutex, timeout);
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED ? mutex_lock_t(mutex) : mutex_lock_t();
}

}  // namespace tracecore
