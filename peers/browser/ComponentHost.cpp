#include "peers/browser/ComponentHost.h"

#include <cstring>

#include "tracecore/utf.h"

namespace kxbrowser {

component_host_t::component_host_t(const std::wstring& dll) {
  library_.reset(LoadLibraryW(dll.c_str()));
  if (!library_) {
    error_ = "cannot load " + tracecore::to_utf8(dll) + " (error " + std::to_string(GetLastError()) + ")";
    return;
  }
  auto* record = export_of<const mozilla::Module* const*>("NSModule");
  if (!record || !*record) {
    error_ = "no NSModule export";
    return;
  }
  if ((*record)->mVersion != mozilla::Module::kVersion) {
    error_ = "module version " + std::to_string((*record)->mVersion) + ", expected 20";
    return;
  }
  module_ = *record;
}

component_host_t::~component_host_t() = default;

mozilla::Module::ConstructorProcPtr component_host_t::constructor_for(const char* contract) const {
  if (!module_) return nullptr;
  for (auto* c = module_->mContractIDs; c && c->contractid; ++c) {
    if (std::strcmp(c->contractid, contract) != 0) continue;
    for (auto* e = module_->mCIDs; e && e->cid; ++e)
      if (e->cid->Equals(*c->cid)) return e->constructorProc;
  }
  return nullptr;
}

nsresult component_host_t::create(nsCOMPtr<IKXAgentClient>& out) const {
  auto ctor = constructor_for(KXAGENTCLIENT_CONTRACTID);
  if (!ctor) return NS_ERROR_FACTORY_NOT_REGISTERED;
  return ctor(nullptr, NS_GET_IID(IKXAgentClient), reinterpret_cast<void**>(out.StartAssignment()));
}

namespace {

LRESULT CALLBACK plain_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CLOSE) {
    DestroyWindow(hwnd);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void register_class(const wchar_t* name) {
  WNDCLASSW wc{};
  if (GetClassInfoW(GetModuleHandleW(nullptr), name, &wc)) return;
  wc.lpfnWndProc = plain_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  RegisterClassW(&wc);
}

constexpr UINT kQuit = WM_APP + 1;

DWORD WINAPI agent_thread(void* param) {
  auto* out = static_cast<HWND*>(param);
  register_class(L"Kestrix Desk Agent");
  HWND hwnd = CreateWindowExW(0, L"Kestrix Desk Agent", L"Kestrix Desk Agent", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  InterlockedExchangePointer(reinterpret_cast<void**>(out), hwnd);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == kQuit) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
  return 0;
}

}  // namespace

browser_windows_t::browser_windows_t() {
  register_class(L"MozillaWindowClass");
  register_class(L"MozillaContentWindowClass");
  top_ = CreateWindowExW(0, L"MozillaWindowClass", L"Stand-in browser", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
  content_ = CreateWindowExW(0, L"MozillaContentWindowClass", L"", WS_CHILD | WS_VISIBLE, 0, 0, 800, 560, top_,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
}

browser_windows_t::~browser_windows_t() {
  if (IsWindow(top_)) DestroyWindow(top_);
}

fake_agent_window_t::fake_agent_window_t() {
  thread_ = CreateThread(nullptr, 0, agent_thread, &hwnd_, 0, &thread_id_);
  for (int i = 0; i < 500 && !InterlockedCompareExchangePointer(reinterpret_cast<void**>(&hwnd_), nullptr, nullptr); ++i)
    Sleep(2);
}

fake_agent_window_t::~fake_agent_window_t() {
  if (!thread_) return;
  PostThreadMessageW(thread_id_, kQuit, 0, 0);
  WaitForSingleObject(thread_, 5000);
  CloseHandle(thread_);
}

std::wstring module_directory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

}  // namespace kxbrowser
