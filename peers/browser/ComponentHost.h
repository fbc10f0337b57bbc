// Loads the component library the way the browser does: reads NSModule, checks the module version,
// finds the contract ID and creates the component through the class entry's constructor.
#pragma once

#include <windows.h>

#include <string>

#include "tracecore/win_handles.h"
#include "xpcom/IKXAgentClient.h"
#include "xpcom/Module.h"
#include "xpcom/nsCOMPtr.h"

namespace kxbrowser {

class component_host_t {
 public:
  // Loads |dll|; on failure error() says why.
  explicit component_host_t(const std::wstring& dll);
  ~component_host_t();
  component_host_t(const component_host_t&) = delete;
  component_host_t& operator=(const component_host_t&) = delete;

  bool loaded() const { return module_ != nullptr; }
  const std::string& error() const { return error_; }
  const mozilla::Module* module() const { return module_; }
  HMODULE library() const { return library_.get(); }

  // The class entry's constructor for the contract ID (null when there is none).
  mozilla::Module::ConstructorProcPtr constructor_for(const char* contract) const;
  // Creates the component and queries IKXAgentClient; returns the constructor's result.
  nsresult create(nsCOMPtr<IKXAgentClient>& out) const;

  template <class Fn>
  Fn export_of(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library_.get(), name)));
  }

 private:
  tracecore::unique_hmodule library_;
  const mozilla::Module* module_ = nullptr;
  std::string error_;
};

// The browser's windows for the calling thread: a "MozillaWindowClass" top-level window with a
// visible "MozillaContentWindowClass" child.
class browser_windows_t {
 public:
  browser_windows_t();
  ~browser_windows_t();
  HWND top() const { return top_; }
  HWND content() const { return content_; }

 private:
  HWND top_ = nullptr;
  HWND content_ = nullptr;
};

// A window that looks like the agent's to the component ("Kestrix Desk Agent" as class and title),
// owned by a thread of its own that pumps its messages. Lets the component start when the agent
// process is not running.
class fake_agent_window_t {
 public:
  fake_agent_window_t();
  ~fake_agent_window_t();
  HWND hwnd() const { return hwnd_; }

 private:
  HANDLE thread_ = nullptr;
  DWORD thread_id_ = 0;
  HWND hwnd_ = nullptr;
};

std::wstring module_directory();  // of the running executable, with a trailing backslash

}  // namespace kxbrowser
