#include "agentcomm/window/ffcomm.h"

#include <cstdio>
#include <exception>
#include <mutex>

#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/window/AgentCalls.h"
#include "environment/Settings.h"
#include "tracecore/com_error.h"
#include "tracecore/secret.h"
#include "tracecore/trace.h"
#include "tracecore/win_handles.h"
#include "tracecore/utf.h"

namespace ffagent_window {
namespace {

using ffipc::kxmsg;
using ffipc::registered;

constexpr const wchar_t* kClassName = L"KX_LocalAgentFF";

// The class is registered with the first communication window and unregistered when the last one
// goes (UnregisterClassW fails, and the class stays, while any window of it exists in the process).
// Look-up, registration and creation happen under this lock, and so do destruction and
// unregistration: a component on another thread cannot unregister the class between another's
// look-up and its creation.
std::mutex& class_lock() {
  static std::mutex lock;
  return lock;
}

// Property names are global atoms, registered once and kept.
struct property_atoms_t {
  ATOM this_ = GlobalAddAtomW(L"KXMAX_This");
  ATOM ffclient = GlobalAddAtomW(L"KXMAX_FFClient");
  ATOM hkloaded = GlobalAddAtomW(L"KXMAX_HkLoaded");
  ATOM cw_hwnd = GlobalAddAtomW(L"KXMAX_cw_hWnd");
  ATOM cw_umsg = GlobalAddAtomW(L"KXMAX_cw_uMsg");
  ATOM cw_wparam = GlobalAddAtomW(L"KXMAX_cw_wParam");
  ATOM cw_lparam = GlobalAddAtomW(L"KXMAX_cw_lParam");
};
const property_atoms_t& atoms() {
  static const property_atoms_t instance;
  return instance;
}
const wchar_t* prop(ATOM atom) { return MAKEINTATOM(atom); }

std::string describe(HWND hwnd) {
  if (!IsWindow(hwnd)) return "INVALID_HWND";
  wchar_t cls[260] = {}, title[260] = {};
  GetClassNameW(hwnd, cls, 260);
  GetWindowTextW(hwnd, title, 260);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%p ", static_cast<void*>(hwnd));
  return buf + tracecore::to_utf8(std::wstring_view(cls)) + " \"" + tracecore::to_utf8(std::wstring_view(title)) + "\"";
}

// A printable name of a window message: the registered name, a few standard ones, else the number.
std::string message_name(UINT msg) {
  if (msg >= 0xC000 && msg <= 0xFFFF) {
    wchar_t name[128] = {};
    const int n = GetClipboardFormatNameW(msg, name, 128);
    if (n > 0) return tracecore::to_utf8(std::wstring_view(name, n));
  }
  switch (msg) {
    case WM_ACTIVATE: return "WM_ACTIVATE";
    case WM_SHOWWINDOW: return "WM_SHOWWINDOW";
    case WM_WINDOWPOSCHANGED: return "WM_WINDOWPOSCHANGED";
    case WM_SETCURSOR: return "WM_SETCURSOR";
    case WM_NCHITTEST: return "WM_NCHITTEST";
    case WM_TIMER: return "WM_TIMER";
    default: break;
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", msg);
  return text;
}

kxmessages::window_id id_of(HWND h) { return reinterpret_cast<kxmessages::window_id>(h); }

// Reads a hook's structure without faulting on a bad pointer.
bool read_hook_message(LPARAM lparam, hook_message_t& out) {
  SIZE_T got = 0;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(lparam), &out, sizeof out, &got) &&
         got == sizeof out;
}

}  // namespace

std::uint32_t menu_state_word(bool trained, bool passwordchange, bool flag, const menu_switches_t& s) {
  std::uint32_t base = 3;
  if (s.personalmode)
    base = 7;
  else if (s.deskwithworkgroup || s.kiosklogon ||
           !(s.personalmode || s.kioskinstalled || s.allow_sso || s.deskwithworkgroup))
    base = 0x83;
  std::uint32_t word = base;
  if (!trained) {
    word &= ~1u;
    if (passwordchange) word |= 0x40;
  }
  if (!flag) word &= ~2u;
  return word | 0x30;
}

ffcomm_t::ffcomm_t(std::unique_ptr<feedback_i> feedback)
    : feedback_(feedback ? std::move(feedback) : std::make_unique<feedback_window_t>()) {}

ffcomm_t::~ffcomm_t() {
  // A component released without Uninitialize still takes its window down.
  if (comm_) destroy_window();
}

menu_switches_t ffcomm_t::menu_switches() {
  return {kxsettings::is_personalmode(), kxsettings::is_kioskinstalled(), kxsettings::is_kiosklogon(),
          kxsettings::is_deskwithworkgroup(), kxsettings::allow_SSO()};
}

bool ffcomm_t::createwindow(HWND browser) {
  KXSCOPE("ffwin::createwindow");
  // One communication window per object: one made before goes first, with the browser's marks.
  if (comm_) destroy_window();
  agent_ = find_agent_window();
  if (!IsWindow(agent_)) throw errors::com_error(static_cast<std::int32_t>(E_UNEXPECTED));

  const HINSTANCE module = tracecore::this_module();
  std::unique_lock class_guard(class_lock());
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
  class_guard.unlock();
  if (tracecore::category_on(tracecore::cat_window_class))
    KXTRACE("'`I0A`'hcommwnd: %p, htarget: '%s'", static_cast<void*>(hwnd), describe(browser).c_str());
  if (!feedback_->attach(comm_.get(), browser_)) KXERROR("cannot create the feedback icon");
  if (!SetPropW(browser_, prop(atoms().hkloaded), reinterpret_cast<HANDLE>(1))) KXERROR_LAST("setHKLOADED");
  SetPropW(browser_, prop(atoms().ffclient), reinterpret_cast<HANDLE>(comm_.get()));

  kxmessages::block_replyto_t replyto;
  replyto.replytowindow = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(browser_));
  send_block(replyto);

  KXTRACE("'`I02`'window created. all done.");
  return true;
}

void ffcomm_t::destroy_window() {
  KXSCOPE("ffwin::destroy_window");
  try {
    if (browser_ && IsWindow(browser_)) {
      RemovePropW(browser_, prop(atoms().hkloaded));
      RemovePropW(browser_, prop(atoms().ffclient));
    }
    feedback_->detach();
    {
      const std::lock_guard class_guard(class_lock());
      comm_.reset();
      if (UnregisterClassW(kClassName, tracecore::this_module()) &&
          tracecore::category_on(tracecore::cat_window_class))
        KXTRACE("'`I02`'class unregistered");
    }
    KXTRACE("destroyed");
  } catch (...) {
    KXERROR("oo");
  }
}

void ffcomm_t::dispatch_hook(LPARAM lparam) {
  hook_message_t m{};
  try {
    if (lparam) {
      if (!read_hook_message(lparam, m)) throw std::runtime_error("unreadable hook message");
    } else {
      m.hwnd = static_cast<HWND>(GetPropW(comm_.get(), prop(atoms().cw_hwnd)));
      m.message = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(GetPropW(comm_.get(), prop(atoms().cw_umsg))));
      m.wParam = reinterpret_cast<WPARAM>(GetPropW(comm_.get(), prop(atoms().cw_wparam)));
      m.lParam = reinterpret_cast<LPARAM>(GetPropW(comm_.get(), prop(atoms().cw_lparam)));
    }
  } catch (...) {
    KXERROR("hk recievemsg oo");
    return;
  }
  if (m.message == registered(kxmsg::agent_request))
    dispatch_agent_request(m.wParam);
  else if (m.message == registered(kxmsg::actionrequest_frhook))
    dispatch_action_request(m.wParam, m.lParam);
}

void ffcomm_t::dispatch_agent_request(WPARAM notice) {
  KXSCOPE("VLTMESSAGE::WM::kxagentrequest");
  serialization::CMemoryObjectEx block;
  ffipc::receive_block(ffipc::channel(1).block_from_agent, block);
  const auto code = static_cast<std::uint32_t>(notice);
  KXTRACE("'`I06`'%s", kxmessages::notice_name(code));
  switch (code) {
    case kxmessages::notice_requestaborted: {
      kxmessages::notice_requestaborted_t n;
      kxmessages::decode(n, block);
      onrequestaborted(n);
      break;
    }
    case kxmessages::notice_kxaversion: {
      kxmessages::notice_kxaversion_t n;
      kxmessages::decode(n, block);
      onkxagentversion(n);
      break;
    }
    case kxmessages::notice_highlightID: {
      kxmessages::notice_highlight_t n;
      kxmessages::decode(n, block);
      onhighlight(n);
      break;
    }
    case kxmessages::notice_senddata: {
      kxmessages::notice_senddata_t n;
      // The profile values are secrets: overwritten when the notice goes, however the handler ends.
      struct wipe_values_t {
        kxmessages::notice_senddata_t& n;
        ~wipe_values_t() {
          for (kxmessages::profileitem_t& item : n.datatofillin.profileitems) tracecore::wipe(item.value);
        }
      } wipe{n};
      kxmessages::decode(n, block);
      onsenddata(n);
      break;
    }
    default:
      break;  // traced by name above, handled nowhere
  }
}

void ffcomm_t::dispatch_action_request(WPARAM reply, LPARAM operation) {
  KXSCOPE("ffwinproc::WM::actionrequest");
  const auto op = static_cast<std::uint32_t>(operation);
  if (op == kxmessages::op_dofillin || op == kxmessages::op_checklogin || op == kxmessages::op_starttraining ||
      op == kxmessages::op_cacheupdated)
    KXTRACE("'`I06`'VLTMESSAGE::%s()", kxmessages::operation_name(op));
  switch (op) {
    case kxmessages::op_dofillin: {
      kxmessages::fillin_reply_context_t context;
      context.browser_window = id_of(browser_);
      context.reply_window = static_cast<kxmessages::window_id>(reply);
      onfillin(context);
      break;
    }
    case kxmessages::op_checklogin: {
      kxmessages::checklogon_reply_context_t context;
      context.browser_window = id_of(browser_);
      context.reply_window = static_cast<kxmessages::window_id>(reply);
      onchecklogon(context);
      break;
    }
    case kxmessages::op_starttraining: onstarttraining(); break;
    case kxmessages::op_cacheupdated: oncacheupdated(); break;
    case kxmessages::op_fingeractivity:
      feedback_->handle_message(registered(kxmsg::actionrequest_frhook), reply, operation);
      break;
    default:
      break;
  }
}

void ffcomm_t::run_menu_command(LPARAM command) {
  KXSCOPE_IF(tracecore::cat_window_class, "ffwin::windowproc");
  switch (command) {
    case iconcmd_addprofile: onaddprofile(); break;
    case iconcmd_editprofile: oneditprofile(); break;
    case iconcmd_startFLM: onstartFLM(); break;
    case iconcmd_dontprompttrainG: ondontprompttrainG(); break;
    case iconcmd_dontprompttrainL: ondontprompttrainL(); break;
    case iconcmd_help: onhelp(); break;
    case iconcmd_spawndashboard:
      if (agent_)
        ffipc::forward_message(agent_, registered(kxmsg::agent_spawn_dashboard), reinterpret_cast<WPARAM>(browser_), 0);
      break;
    case iconcmd_showiconsettings: onshowiconsettings(); break;
    case iconcmd_requestfillin: onrequestfillin(); break;
    case iconcmd_mousestate_dblclk: {
      KXSCOPE("ICONMENUCOMMAND::mousestate_dblclk");
      if (thepage_is_trained())
        onrequestfillin();
      else if (thescreen_is_passwordchange())
        onstarttrainingpsw();
      else
        onstarttraining();
      break;
    }
    case iconcmd_starttrainingpsw: onstarttrainingpsw(); break;
    default: break;  // iconcmd_product and anything unknown
  }
}

LRESULT ffcomm_t::menu_request(LPARAM what) {
  if (what == 4) return thepage_is_trained() ? 1 : 0;
  if (what != 3) return 0;
  const bool trained = thepage_is_trained();
  const bool passwordchange = !trained && thescreen_is_passwordchange();
  return static_cast<LRESULT>(menu_state_word(trained, passwordchange, feedback_->menu_flag(), menu_switches()));
}

LRESULT ffcomm_t::windowproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_CREATE || msg == WM_DESTROY) {
    KXSCOPE_IF(tracecore::cat_window_class, "ffwinproc");
    if (tracecore::category_on(tracecore::cat_window_class)) KXTRACE("%s", msg == WM_CREATE ? "WM_CREATE" : "WM_DESTROY");
    return 0;
  }
  if (msg == registered(kxmsg::hook_ffwm)) {
    dispatch_hook(lparam);
    return 0;
  }
  if (msg == registered(kxmsg::fbiconmenu_command)) {
    run_menu_command(lparam);
    return 0;
  }
  if (msg == registered(kxmsg::fbiconmenu_request)) return menu_request(lparam);

  if (tracecore::category_on(tracecore::cat_alien_messages)) {
    KXSCOPE("agntproc");
    KXTRACE("%s", message_name(msg).c_str());
  } else if (tracecore::category_on(tracecore::cat_alien_messages_quiet) && msg != WM_SETCURSOR && msg != WM_NCHITTEST) {
    KXSCOPE("agntproc");
    KXTRACE("%s", message_name(msg).c_str());
  }
  if (msg == WM_ACTIVATE || msg == WM_SHOWWINDOW || msg == WM_WINDOWPOSCHANGED)
    return feedback_->handle_message(msg, wparam, lparam);
  if (msg == registered(kxmsg::agent_request)) {
    dispatch_agent_request(wparam);
    return 0;
  }
  if (msg == registered(kxmsg::actionrequest_frhook)) {
    dispatch_action_request(wparam, lparam);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK ffcomm_t::class_windowproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  try {
    if (msg == WM_CREATE) {
      auto* self = static_cast<ffcomm_t*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      // A window of this class made by anyone but createwindow has no object behind it.
      if (!self) return DefWindowProcW(hwnd, msg, wparam, lparam);
      if (tracecore::category_on(tracecore::cat_window_class))
        KXTRACE("'`I02`'WM_CREATE, this=%p", static_cast<void*>(self));
      if (!SetPropW(hwnd, prop(atoms().this_), self)) KXERROR_LAST("cannot subclass fbv");
      self->comm_.reset(hwnd);
      return self->windowproc(hwnd, msg, wparam, lparam);
    }
    if (msg == WM_DESTROY) {
      auto* self = static_cast<ffcomm_t*>(GetPropW(hwnd, prop(atoms().this_)));
      if (self) {
        self->windowproc(hwnd, msg, wparam, lparam);
        static_cast<void>(self->comm_.release());  // it is being destroyed already
        RemovePropW(hwnd, prop(atoms().this_));
      } else {
        KXERROR("was not fbv");
      }
      const LRESULT r = DefWindowProcW(hwnd, msg, wparam, lparam);
      if (tracecore::category_on(tracecore::cat_window_class))
        KXTRACE("'`I02`'WM_DESTROY, this=%p", static_cast<void*>(self));
      return r;
    }
    auto* self = static_cast<ffcomm_t*>(GetPropW(hwnd, prop(atoms().this_)));
    return self ? self->windowproc(hwnd, msg, wparam, lparam) : DefWindowProcW(hwnd, msg, wparam, lparam);
  } catch (const errors::com_error& e) {
    KXERROR_CODE(e.Error(), "--2-- ff::wndproc %s", e.ErrorMessage().c_str());
  } catch (const std::exception& e) {
    KXERROR("--1-- ff::wndproc: %s", e.what());
  } catch (...) {
    KXERROR("--3-- ff::wndproc");
  }
  return 0;
}

}  // namespace ffagent_window
