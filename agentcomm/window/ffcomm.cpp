#include "agentcomm/window/ffcomm.h"

#include <exception>

#include "tracecore/com_error.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace ffagent_window {
namespace {

constexpr const wchar_t* kClassName = L"KX_LocalAgentFF";
constexpr const wchar_t* kAgentName = L"Kestrix Desk Agent";

// Property names are global atoms, registered once.
ATOM property_atom(const wchar_t* name) {
  ATOM atom = GlobalFindAtomW(name);
  return atom ? atom : GlobalAddAtomW(name);
}
const wchar_t* prop(const wchar_t* name) {
  return MAKEINTATOM(property_atom(name));
}

HINSTANCE this_module() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ffcomm_t::class_windowproc), &module);
  return module;
}

std::string describe(HWND hwnd) {
  if (!IsWindow(hwnd)) return "INVALID_HWND";
  wchar_t cls[260] = {}, title[260] = {};
  GetClassNameW(hwnd, cls, 260);
  GetWindowTextW(hwnd, title, 260);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%p ", static_cast<void*>(hwnd));
  return buf + tracecore::to_utf8(std::wstring_view(cls)) + " \"" + tracecore::to_utf8(std::wstring_view(title)) + "\"";
}

}  // namespace

HWND find_agent_window() {
  static LONG missed_before = 0;
  SetLastError(0);
  HWND hwnd = FindWindowExW(nullptr, nullptr, kAgentName, kAgentName);
  if (hwnd) return hwnd;
  const DWORD err = GetLastError();
  if (err != 0 && err != ERROR_FILE_NOT_FOUND) {
    KXERROR_LAST("No access to KxAgent");
  } else if (InterlockedExchange(&missed_before, 1) == 0) {
    KXTRACE("'`I04`'KXAgent not running");
  } else {
    KXTRACE("'`I04`'NoKXAgent");
  }
  return nullptr;
}

ffcomm_t::ffcomm_t() : feedback_(std::make_unique<feedback_window_t>()) {}

ffcomm_t::~ffcomm_t() {
  // A component released without Uninitialize still takes its window down.
  if (comm_) destroy_window();
}

bool ffcomm_t::createwindow(HWND browser) {
  KXSCOPE("ffwin::createwindow");
  agent_ = find_agent_window();
  if (!IsWindow(agent_)) throw errors::com_error(static_cast<std::int32_t>(E_UNEXPECTED));

  const HINSTANCE module = this_module();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(module, kClassName, &wc)) {
    wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &ffcomm_t::class_windowproc;
    wc.hInstance = module;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) {
      KXERROR_LAST("cannot regclass");
      return false;
    }
  }
  browser_ = browser;
  HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, nullptr, WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              module, this);
  if (!IsWindow(hwnd)) {
    KXERROR_LAST("cannot create fb for %s", describe(browser).c_str());
    return false;
  }
  if (tracecore::category_on(tracecore::cat_window_class))
    KXTRACE("'`I0A`'hcommwnd: %p, htarget: '%s'", static_cast<void*>(hwnd), describe(browser).c_str());
  feedback_->attach(comm_, browser_);
  if (!SetPropW(browser_, prop(L"KXMAX_HkLoaded"), reinterpret_cast<HANDLE>(1))) KXERROR_LAST("setHKLOADED");
  SetPropW(browser_, prop(L"KXMAX_FFClient"), reinterpret_cast<HANDLE>(comm_));
  KXTRACE("'`I02`'window created. all done.");
  return true;
}

void ffcomm_t::destroy_window() {
  KXSCOPE("ffwin::destroy_window");
  try {
    if (browser_ && IsWindow(browser_)) {
      RemovePropW(browser_, prop(L"KXMAX_HkLoaded"));
      RemovePropW(browser_, prop(L"KXMAX_FFClient"));
    }
    feedback_->detach();
    if (comm_ && IsWindow(comm_)) DestroyWindow(comm_);
    comm_ = nullptr;
    KXTRACE("destroyed");
  } catch (...) {
    KXERROR("oo");
  }
}

LRESULT ffcomm_t::windowproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_CREATE || msg == WM_DESTROY) {
    KXSCOPE_IF(tracecore::cat_window_class, "ffwinproc");
    if (tracecore::category_on(tracecore::cat_window_class)) KXTRACE("message %u", msg);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK ffcomm_t::class_windowproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  try {
    if (msg == WM_CREATE) {
      auto* self = static_cast<ffcomm_t*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      if (tracecore::category_on(tracecore::cat_window_class))
        KXTRACE("'`I02`'WM_CREATE, this=%p", static_cast<void*>(self));
      if (!SetPropW(hwnd, prop(L"KXMAX_This"), self)) KXERROR_LAST("cannot subclass fbv");
      self->comm_ = hwnd;
      return self->windowproc(hwnd, msg, wparam, lparam);
    }
    if (msg == WM_DESTROY) {
      auto* self = static_cast<ffcomm_t*>(GetPropW(hwnd, prop(L"KXMAX_This")));
      if (self) {
        self->windowproc(hwnd, msg, wparam, lparam);
        self->comm_ = nullptr;
        RemovePropW(hwnd, prop(L"KXMAX_This"));
      } else {
        KXERROR("was not fbv");
      }
      const LRESULT r = DefWindowProcW(hwnd, msg, wparam, lparam);
      if (tracecore::category_on(tracecore::cat_window_class))
        KXTRACE("'`I02`'WM_DESTROY, this=%p", static_cast<void*>(self));
      return r;
    }
    auto* self = static_cast<ffcomm_t*>(GetPropW(hwnd, prop(L"KXMAX_This")));
    return self ? self->windowproc(hwnd, msg, wparam, lparam) : DefWindowProcW(hwnd, msg, wparam, lparam);
  } catch (const errors::com_error& e) {
    KXERROR("--2-- ff::wndproc %s", e.ErrorMessage().c_str());
  } catch (const std::exception& e) {
    KXERROR("--1-- ff::wndproc: %s", e.what());
  } catch (...) {
    KXERROR("--3-- ff::wndproc");
  }
  return 0;
}

}  // namespace ffagent_window
