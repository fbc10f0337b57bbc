// What the feedback UI tests share: the branding stand-in and the settings registry, message pumps,
// a browser window of Firefox's classes, a communication window stand-in, and a driver that acts on
// menus and dialogs from inside their modal loops.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fftest {

// Dispatches this thread's messages for |ms| milliseconds.
void pump_for(DWORD ms);
// Dispatches messages until |done| or |ms| milliseconds have passed; |done|'s last answer.
bool pump_until(const std::function<bool()>& done, DWORD ms);

// A value under HKCU\Software\Kestrix\Settings (the settings stand-in's store) for the life of the
// object; the value is removed before and after.
class setting_t {
 public:
  explicit setting_t(std::wstring key);
  ~setting_t();
  setting_t(const setting_t&) = delete;
  setting_t& operator=(const setting_t&) = delete;
  void set(const std::wstring& value);
  void remove();
  std::optional<std::wstring> value() const;

 private:
  std::wstring key_;
};

// A browser window: a top-level frame of class "MozillaUIWindowClass" with a visible content child
// of class "MozillaContentWindowClass" filling its client area, shown and in front.
class browser_t {
 public:
  explicit browser_t(RECT frame = {100, 100, 700, 500}, bool front = true);
  ~browser_t();
  browser_t(const browser_t&) = delete;
  browser_t& operator=(const browser_t&) = delete;
  HWND frame() const { return frame_; }
  HWND content() const { return content_; }
  void drop_content();

 private:
  HWND frame_ = nullptr;
  HWND content_ = nullptr;
};

// A plain top-level window that counts the z-order changes made to it.
class plain_window_t {
 public:
  explicit plain_window_t(const wchar_t* cls = L"KxTestPlain", DWORD style = WS_POPUP | WS_VISIBLE,
                          RECT r = {10, 10, 110, 110}, DWORD exstyle = 0, HWND parent = nullptr);
  ~plain_window_t();
  plain_window_t(const plain_window_t&) = delete;
  plain_window_t& operator=(const plain_window_t&) = delete;
  HWND hwnd() const { return hwnd_; }
  int zorder_changes() const;
  void reset_counts();

 private:
  HWND hwnd_ = nullptr;
};

// The communication window's side of the icon menu: answers "KX_FBICONMENU_REQUEST" with a state
// word and records the requests and the commands posted to it.
class comm_stub_t {
 public:
  struct entry_t {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    DWORD tick;
  };
  comm_stub_t();
  ~comm_stub_t();
  comm_stub_t(const comm_stub_t&) = delete;
  comm_stub_t& operator=(const comm_stub_t&) = delete;
  HWND hwnd() const { return hwnd_; }
  std::uint32_t state_word = 0x33;  // trained, with the flag
  std::vector<entry_t> requests;    // KX_FBICONMENU_REQUEST
  std::vector<entry_t> commands;    // KX_FBICONMENU_COMMAND

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
  HWND hwnd_ = nullptr;
};

// Runs |act| once, from a thread timer, when a visible window of class |cls| (for example "#32768"
// for a menu, "#32770" for a dialog) belongs to this thread; the timer keeps running inside modal
// loops. Gives up after |ms| milliseconds by closing what it waits for.
class modal_driver_t {
 public:
  modal_driver_t(const wchar_t* cls, std::function<void(HWND)> act, DWORD ms = 5000);
  ~modal_driver_t();
  modal_driver_t(const modal_driver_t&) = delete;
  modal_driver_t& operator=(const modal_driver_t&) = delete;
  bool acted() const { return acted_; }
  DWORD acted_tick() const { return tick_; }

 private:
  static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
  std::wstring cls_;
  std::function<void(HWND)> act_;
  DWORD deadline_;
  UINT_PTR timer_ = 0;
  bool acted_ = false;
  DWORD tick_ = 0;
};

// Inside an open popup menu: selects the entry with |id| (a top-level entry of the menu) with the
// keyboard and chooses it; 0 closes the menu without a choice.
void choose_menu_item(HWND menu_window, UINT id);

// Ids of a menu's entries in order, separators left out.
std::vector<UINT> menu_ids(HMENU menu);
std::wstring menu_text(HMENU menu, UINT id);

}  // namespace fftest
