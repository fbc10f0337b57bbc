// A stand-in for the browser: makes the browser's windows, loads the component the way the browser
// does, and plays a session of interface calls on a page, printing each call and its result.
//
//   browser.exe [--dll PATH] [--page SNAPSHOT.json] [--fake-agent] [--calls A,B,...]
//
// --calls takes Initialize, Uninitialize, OnLoad, OnUnload, OnActivate, OnDeactivate, OnProfileLink,
// OnWindowLoad, OnWindowUnload, OnDOMNodeModified, QuickLinkToProfileLink (default: Initialize,
// OnLoad, OnActivate, OnDeactivate, Uninitialize). --fake-agent puts up a window that looks like the
// agent's for as long as the session runs.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "peers/browser/ComponentHost.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/utf.h"
#include "xpcom/nsStringAPI.h"

namespace {

constexpr const char* kDefaultCalls = "Initialize,OnLoad,OnActivate,OnDeactivate,Uninitialize";
constexpr const char* kDefaultPage =
    "<html><body><form id='login' name='login' action='/signin'>"
    "<label for='user'>User name</label><input id='user' name='user' type='text'>"
    "<label for='pass'>Password</label><input id='pass' name='pass' type='password'>"
    "<input type='submit' value='Sign in'></form></body></html>";

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) if (!item.empty()) out.push_back(item);
  return out;
}

int usage() {
  std::fprintf(stderr, "usage: browser [--dll PATH] [--page SNAPSHOT.json] [--fake-agent] [--calls A,B,...]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring dll = kxbrowser::module_directory() + L"MozillaKXAgentClient.dll";
  std::string page_file, calls = kDefaultCalls;
  bool fake_agent = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--dll" && i + 1 < argc) dll = argv[++i];
    else if (a == L"--page" && i + 1 < argc) page_file = tracecore::to_utf8(std::wstring_view(argv[++i]));
    else if (a == L"--calls" && i + 1 < argc) calls = tracecore::to_utf8(std::wstring_view(argv[++i]));
    else if (a == L"--fake-agent") fake_agent = true;
    else return usage();
  }

  std::unique_ptr<snapdom::page_t> chrome, page;
  try {
    chrome = snapdom::page_t::from_html("<window><browser id='content' type='content'></browser></window>",
                                        "chrome://browser/content/browser.xul");
    page = page_file.empty() ? snapdom::page_t::from_html(kDefaultPage, "https://login.example.test/signin?next=%2F")
                             : snapdom::page_t::load_file(page_file);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "browser: %s\n", e.what());
    return 1;
  }

  kxbrowser::browser_windows_t windows;
  std::optional<kxbrowser::fake_agent_window_t> agent;
  if (fake_agent) agent.emplace();

  kxbrowser::component_host_t host(dll);
  if (!host.loaded()) {
    std::fprintf(stderr, "browser: %s\n", host.error().c_str());
    return 1;
  }
  nsCOMPtr<IKXAgentClient> client;
  const nsresult created = host.create(client);
  std::printf("create %s -> 0x%08X\n", KXAGENTCLIENT_CONTRACTID, static_cast<unsigned>(created));
  if (created != NS_OK || !client) return 1;

  nsISupports* browser = chrome->element_by_id("content");
  nsISupports* document = page->document();
  nsString uri(u"kxprofile://example.test/1234"), out;
  PRBool flag = PR_FALSE;
  for (const std::string& call : split(calls)) {
    nsresult rv = NS_ERROR_NOT_IMPLEMENTED;
    if (call == "Initialize") rv = client->Initialize(nullptr);
    else if (call == "Uninitialize") rv = client->Uninitialize(nullptr);
    else if (call == "OnLoad") rv = client->OnLoad(browser, document, nullptr);
    else if (call == "OnUnload") rv = client->OnUnload(browser, document, nullptr);
    else if (call == "OnActivate") rv = client->OnActivate(browser, document, nullptr);
    else if (call == "OnDeactivate") rv = client->OnDeactivate(nullptr);
    else if (call == "OnProfileLink") rv = client->OnProfileLink(browser, document, uri, out, &flag);
    else if (call == "OnWindowLoad") rv = client->OnWindowLoad(browser, document, uri, &flag);
    else if (call == "OnWindowUnload") rv = client->OnWindowUnload(browser, document, uri, &flag);
    else if (call == "OnDOMNodeModified") rv = client->OnDOMNodeModified(page->element_by_id("user"), &flag);
    else if (call == "QuickLinkToProfileLink") rv = client->QuickLinkToProfileLink(uri, out);
    else {
      std::fprintf(stderr, "browser: unknown call %s\n", call.c_str());
      return 2;
    }
    std::printf("%s -> 0x%08X\n", call.c_str(), static_cast<unsigned>(rv));
    // Let the communication window see its messages, as the browser's message loop would.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  client = nullptr;  // the last release destroys the component
  std::printf("released\n");
  return 0;
}
