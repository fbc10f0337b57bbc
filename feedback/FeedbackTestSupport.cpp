#include "feedback/FeedbackTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "agentcomm/transport/RegisteredMessages.h"

namespace fftest {
namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\Kestrix\\Settings";
constexpr const wchar_t* kBrandingKey = L"SOFTWARE\\Kestrix\\Branding\\Common";

std::wstring executable_directory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

// The branding stand-in beside the test program, named in the registry before anything loads it.
class branding_environment_t : public ::testing::Environment {
 public:
  void SetUp() override {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kBrandingKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring dll = executable_directory() + L"KxBranding.dll";
    RegSetValueExW(key, L"DLLPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                   static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kBrandingKey); }
};
[[maybe_unused]] ::testing::Environment* const g_branding =
    ::testing::AddGlobalTestEnvironment(new branding_environment_t);

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

ATOM register_class(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance(), name, &wc)) return 1;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = name;
  return RegisterClassExW(&wc);
}

const wchar_t* zorder_count_prop() { return L"KxTestZorderChanges"; }

LRESULT CALLBACK counting_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_WINDOWPOSCHANGING && !(reinterpret_cast<WINDOWPOS*>(lparam)->flags & SWP_NOZORDER)) {
    const auto n = reinterpret_cast<UINT_PTR>(GetPropW(hwnd, zorder_count_prop()));
    SetPropW(hwnd, zorder_count_prop(), reinterpret_cast<HANDLE>(n + 1));
  }
  if (msg == WM_NCDESTROY) RemovePropW(hwnd, zorder_count_prop());
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

std::vector<class modal_driver_t*>& drivers() {
  static std::vector<modal_driver_t*> all;
  return all;
}

struct find_t {
  const wchar_t* cls;
  HWND found = nullptr;
};
BOOL CALLBACK find_visible(HWND hwnd, LPARAM param) {
  auto* f = reinterpret_cast<find_t*>(param);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (lstrcmpiW(cls, f->cls) == 0 && IsWindowVisible(hwnd)) {
    f->found = hwnd;
    return FALSE;
  }
  return TRUE;
}
HWND find_thread_window(const wchar_t* cls) {
  find_t f{cls};
  EnumThreadWindows(GetCurrentThreadId(), &find_visible, reinterpret_cast<LPARAM>(&f));
  if (!f.found && lstrcmpiW(cls, L"#32768") == 0) {
    // Menus may belong to no thread's window list.
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu && IsWindowVisible(menu)) f.found = menu;
  }
  return f.found;
}

}  // namespace

void pump_for(DWORD ms) {
  pump_until([] { return false; }, ms);
}

bool pump_until(const std::function<bool()>& done, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount() - start >= ms) return done();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

setting_t::setting_t(std::wstring key) : key_(std::move(key)) { remove(); }
setting_t::~setting_t() { remove(); }

void setting_t::set(const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, key_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

void setting_t::remove() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, key_.c_str()); }

std::optional<std::wstring> setting_t::value() const {
  wchar_t text[256] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, key_.c_str(), RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(text);
}

browser_t::browser_t(RECT r, bool front) {
  register_class(L"MozillaUIWindowClass", DefWindowProcW);
  register_class(L"MozillaContentWindowClass", DefWindowProcW);
  frame_ = CreateWindowExW(0, L"MozillaUIWindowClass", L"Log on - Test Browser", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                           r.left, r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance(), nullptr);
  RECT client{};
  GetClientRect(frame_, &client);
  content_ = CreateWindowExW(0, L"MozillaContentWindowClass", L"", WS_CHILD | WS_VISIBLE, 0, 0, client.right,
                             client.bottom, frame_, nullptr, instance(), nullptr);
  ShowWindow(frame_, SW_SHOWNORMAL);
  if (front) SetForegroundWindow(frame_);
  pump_for(20);
}

browser_t::~browser_t() { DestroyWindow(frame_); }

void browser_t::drop_content() {
  DestroyWindow(content_);
  content_ = nullptr;
}

plain_window_t::plain_window_t(const wchar_t* cls, DWORD style, RECT r, DWORD exstyle, HWND parent) {
  register_class(cls, counting_proc);
  hwnd_ = CreateWindowExW(exstyle, cls, L"plain", style, r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                          nullptr, instance(), nullptr);
}
plain_window_t::~plain_window_t() { DestroyWindow(hwnd_); }
int plain_window_t::zorder_changes() const {
  return static_cast<int>(reinterpret_cast<UINT_PTR>(GetPropW(hwnd_, zorder_count_prop())));
}
void plain_window_t::reset_counts() { RemovePropW(hwnd_, zorder_count_prop()); }

comm_stub_t::comm_stub_t() {
  register_class(L"KxTestCommStub", &comm_stub_t::proc);
  hwnd_ = CreateWindowExW(0, L"KxTestCommStub", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance(), nullptr);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}
comm_stub_t::~comm_stub_t() { DestroyWindow(hwnd_); }

LRESULT CALLBACK comm_stub_t::proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<comm_stub_t*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && msg == ffipc::registered(ffipc::kxmsg::fbiconmenu_request)) {
    self->requests.push_back({msg, wparam, lparam, GetTickCount()});
    return lparam == 3 ? static_cast<LRESULT>(self->state_word) : 0;
  }
  if (self && msg == ffipc::registered(ffipc::kxmsg::fbiconmenu_command)) {
    self->commands.push_back({msg, wparam, lparam, GetTickCount()});
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

modal_driver_t::modal_driver_t(const wchar_t* cls, std::function<void(HWND)> act, DWORD ms)
    : cls_(cls), act_(std::move(act)), deadline_(GetTickCount() + ms) {
  timer_ = SetTimer(nullptr, 0, 20, &modal_driver_t::tick);
  drivers().push_back(this);
}

modal_driver_t::~modal_driver_t() {
  KillTimer(nullptr, timer_);
  auto& all = drivers();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

void CALLBACK modal_driver_t::tick(HWND, UINT, UINT_PTR id, DWORD) {
  for (modal_driver_t* d : drivers()) {
    if (d->timer_ != id || d->acted_) continue;
    HWND found = find_thread_window(d->cls_.c_str());
    if (found) {
      d->acted_ = true;
      d->tick_ = GetTickCount();
      KillTimer(nullptr, d->timer_);
      d->act_(found);
    } else if (static_cast<LONG>(GetTickCount() - d->deadline_) > 0) {
      KillTimer(nullptr, d->timer_);
    }
    return;
  }
}

void choose_menu_item(HWND menu_window, UINT id) {
  if (id == 0) {
    EndMenu();
    return;
  }
  HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menu_window, 0x01E1 /* MN_GETHMENU */, 0, 0));
  int steps = 0;
  bool found = false;
  for (int i = 0; i < GetMenuItemCount(menu) && !found; ++i) {
    if (GetMenuState(menu, i, MF_BYPOSITION) & MF_SEPARATOR) continue;
    ++steps;
    found = GetMenuItemID(menu, i) == id;
  }
  if (!found) {
    EndMenu();
    return;
  }
  for (int i = 0; i < steps; ++i) {
    PostMessageW(menu_window, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu_window, WM_KEYUP, VK_DOWN, 0xC0000001);
  }
  PostMessageW(menu_window, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(menu_window, WM_KEYUP, VK_RETURN, 0xC0000001);
}

std::vector<UINT> menu_ids(HMENU menu) {
  std::vector<UINT> ids;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_FTYPE;
    GetMenuItemInfoW(menu, i, TRUE, &info);
    if (!(info.fType & MFT_SEPARATOR)) ids.push_back(info.wID);
  }
  return ids;
}

std::wstring menu_text(HMENU menu, UINT id) {
  wchar_t text[256] = {};
  const int n = GetMenuStringW(menu, id, text, 256, MF_BYCOMMAND);
  return std::wstring(text, n > 0 ? n : 0);
}

}  // namespace fftest
