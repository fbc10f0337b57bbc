// A stand-in for the browser: makes the browser's windows, loads the component the way the browser
// does, and plays a session of interface calls on pages, printing each call and its result.
//
//   browser.exe [--dll PATH] [--page SNAPSHOT.json] [--fake-agent] [--calls A,B,...]
//   browser.exe [--dll PATH] [--page SNAPSHOT.json] [--fake-agent] --script SESSION.json
//
// --calls takes Initialize, Uninitialize, OnLoad, OnUnload, OnActivate, OnDeactivate, OnProfileLink,
// OnWindowLoad, OnWindowUnload, OnDOMNodeModified, QuickLinkToProfileLink (default: Initialize,
// OnLoad, OnActivate, OnDeactivate, Uninitialize). --fake-agent puts up a window that looks like the
// agent's for as long as the session runs.
//
// --script plays a JSON array of steps and prints one JSON line per step (the format is in the
// README): {"call": NAME, "page": FILE, "uri": TEXT, "node": ID}, {"wait": MILLISECONDS},
// {"agent": OPERATION} (the agent stand-in sends that action request to the component), {"dump": true};
// any step may carry a "note", which its line repeats.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "agentcomm/AgentMessages.h"
#include "environment/LookupCache.h"
#include "include_extension/PageState.h"
#include "include_extension/Recognition.h"
#include "manifest/ManifestReader.h"
#include "peers/agent/AgentCommands.h"
#include "peers/browser/ComponentHost.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/utf.h"
#include "xpcom/nsIDOMElement.h"
#include "xpcom/nsIDOMHTMLDocument.h"
#include "xpcom/nsStringAPI.h"

namespace {

using json = nlohmann::ordered_json;

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
  std::fprintf(stderr,
               "usage: browser [--dll PATH] [--page SNAPSHOT.json] [--fake-agent] [--calls A,B,... | --script FILE.json]\n");
  return 2;
}

std::string hex(nsresult rv) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(rv));
  return text;
}

// Dispatches this thread's messages for |ms| milliseconds, as the browser's message loop would.
void pump(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
}

// The session: the component, the browser element and the pages the steps name.
class session_t {
 public:
  session_t(IKXAgentClient* client, snapdom::page_t& chrome, std::unique_ptr<snapdom::page_t> first, HWND top)
      : client_(client), chrome_(chrome), top_(top) {
    current_ = first.get();
    pages_[""] = std::move(first);
  }

  // One step; false for a step that cannot be played.
  bool play(std::size_t index, const json& step) {
    json out;
    out["step"] = index;
    if (step.contains("note")) out["note"] = step["note"];
    if (step.contains("page") && !select_page(step["page"].get<std::string>(), out)) return emit(out), false;
    if (step.contains("wait")) {
      out["wait"] = step["wait"];
      pump(step["wait"].get<DWORD>());
    } else if (step.contains("agent")) {
      out["agent"] = step["agent"];
      if (!ask_agent(step["agent"].get<std::string>(), out)) return emit(out), false;
      pump(50);
    } else if (step.contains("dump")) {
      out["dump"] = dump();
    } else if (step.contains("call")) {
      if (!call(step, out)) return emit(out), false;
    } else {
      out["error"] = "a step needs call, wait, agent or dump";
      return emit(out), false;
    }
    out["browser"] = attributes(chrome_.element_by_id("content"));
    out["document"] = document_attributes();
    out["events"] = new_events();
    emit(out);
    return true;
  }

 private:
  static void emit(const json& line) {
    std::printf("%s\n", line.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
    std::fflush(stdout);
  }

  bool select_page(const std::string& file, json& out) {
    auto it = pages_.find(file);
    if (it == pages_.end()) {
      try {
        it = pages_.emplace(file, snapdom::page_t::load_file(file)).first;
      } catch (const std::exception& e) {
        out["error"] = std::string("cannot load the page: ") + e.what();
        return false;
      }
    }
    current_ = it->second.get();
    out["page"] = file;
    return true;
  }

  bool call(const json& step, json& out) {
    const std::string name = step["call"].get<std::string>();
    out["call"] = name;
    nsISupports* browser = chrome_.element_by_id("content");
    nsISupports* document = current_->document();
    const nsString uri(tracecore::to_utf16(step.value("uri", std::string())));
    nsString result_uri;
    PRBool flag = PR_FALSE;
    nsresult rv;
    if (name == "Initialize") rv = client_->Initialize(nullptr);
    else if (name == "Uninitialize") rv = client_->Uninitialize(nullptr);
    else if (name == "OnLoad") rv = client_->OnLoad(browser, document, nullptr);
    else if (name == "OnUnload") rv = client_->OnUnload(browser, document, nullptr);
    else if (name == "OnActivate") rv = client_->OnActivate(browser, document, nullptr);
    else if (name == "OnDeactivate") rv = client_->OnDeactivate(nullptr);
    else if (name == "OnProfileLink") rv = client_->OnProfileLink(browser, document, uri, result_uri, &flag);
    else if (name == "OnWindowLoad") rv = client_->OnWindowLoad(browser, document, uri, &flag);
    else if (name == "OnWindowUnload") rv = client_->OnWindowUnload(browser, document, uri, &flag);
    else if (name == "OnDOMNodeModified")
      rv = client_->OnDOMNodeModified(current_->element_by_id(step.value("node", std::string("user"))), &flag);
    else if (name == "QuickLinkToProfileLink") rv = client_->QuickLinkToProfileLink(uri, result_uri);
    else {
      out["error"] = "unknown call";
      return false;
    }
    out["rv"] = hex(rv);
    if (name == "OnProfileLink" || name == "QuickLinkToProfileLink") out["outURI"] = tracecore::to_utf8(result_uri.view());
    if (name == "OnProfileLink" || name == "OnDOMNodeModified") out["result"] = flag != PR_FALSE;
    if (name == "OnWindowLoad" || name == "OnWindowUnload") out["handled"] = flag != PR_FALSE;
    // Let the communication window see its messages.
    pump(0);
    return true;
  }

  // Has the agent stand-in send the component an action request ("dofillin", "checklogin",
  // "starttraining", "cacheupdated"); the agent's own window takes the reply.
  bool ask_agent(const std::string& operation, json& out) {
    std::uint32_t code = 0;
    for (std::uint32_t c = 1; c <= 10 && code == 0; ++c)
      if (operation == kxmessages::operation_name(c)) code = c;
    HWND agent = FindWindowExW(nullptr, nullptr, L"Kestrix Desk Agent", L"Kestrix Desk Agent");
    HWND comm = static_cast<HWND>(GetPropW(top_, L"KXMAX_FFClient"));
    if (code == 0 || !agent || !comm) {
      out["error"] = code == 0 ? "unknown operation" : !agent ? "no agent stand-in" : "no communication window";
      return false;
    }
    const std::uint32_t args[3] = {static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(comm)), code, 0};
    COPYDATASTRUCT cds{};
    cds.dwData = kxagent::cmd_action;
    cds.cbData = sizeof args;
    cds.lpData = const_cast<std::uint32_t*>(args);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(agent, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 5000, &answer);
    out["sent"] = answer != 0;
    return true;
  }

  static json attributes(nsISupports* element) {
    json out = json::object();
    for (const auto& [name, value] : snapdom::page_t::attributes(element)) out[name] = value;
    return out;
  }

  json document_attributes() const {
    nsCOMPtr<nsIDOMElement> root;
    current_->document()->GetDocumentElement(getter_AddRefs(root));
    return attributes(root);
  }

  json new_events() {
    json out = json::array();
    std::size_t& seen = seen_[current_];
    const auto& events = current_->events();
    for (std::size_t i = seen; i < events.size(); ++i)
      out.push_back({{"type", events[i].type}, {"target", events[i].target}, {"detail", events[i].detail}});
    seen = events.size();
    return out;
  }

  // The page state of the current document as the component computes it: its document ID, and the
  // recognition of the page over the agent's lookup cache.
  json dump() const {
    json out;
    nsIDOMDocument* doc = current_->document();
    out["docid"] = kxext::document_id_text(kxext::get_assoc(doc, false));
    nsCOMPtr<nsIDOMHTMLDocument> html = do_QueryInterface(doc);
    nsString url;
    if (html) html->GetURL(url);
    out["url"] = tracecore::to_utf8(url.view());
    const kxext::recognition_sources_t sources{
        [](std::u16string_view u, bool traceOn) { return lookupcache::cached_url(u, traceOn); },
        [](std::u16string_view name, Manifest& m) { return loadM_properly(name, m); }};
    kxext::PageState state;
    kxext::recognition_stop stop;
    kxext::recognize_page(doc, std::u16string(url.view()), sources, state, &stop);
    out["stop"] = kxext::recognition_stop_name(stop);
    json forms = json::array();
    for (const kxext::FormCandidate& c : state.recognized) {
      const std::uint32_t score = c.status.score();
      char text[16];
      std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(score));
      forms.push_back({{"manifest", tracecore::to_utf8(c.manifest->filePath)},
                       {"form", c.form->context.name},
                       {"score", text},
                       {"scoreText", kxext::score_text(score)}});
    }
    out["recognized"] = std::move(forms);
    return out;
  }

  IKXAgentClient* client_;
  snapdom::page_t& chrome_;
  HWND top_;
  std::map<std::string, std::unique_ptr<snapdom::page_t>> pages_;
  snapdom::page_t* current_ = nullptr;
  std::map<const snapdom::page_t*, std::size_t> seen_;
};

int play_calls(IKXAgentClient* client, snapdom::page_t& chrome, snapdom::page_t& page, const std::string& calls) {
  nsISupports* browser = chrome.element_by_id("content");
  nsISupports* document = page.document();
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
    else if (call == "OnDOMNodeModified") rv = client->OnDOMNodeModified(page.element_by_id("user"), &flag);
    else if (call == "QuickLinkToProfileLink") rv = client->QuickLinkToProfileLink(uri, out);
    else {
      std::fprintf(stderr, "browser: unknown call %s\n", call.c_str());
      return 2;
    }
    std::printf("%s -> 0x%08X\n", call.c_str(), static_cast<unsigned>(rv));
    pump(0);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring dll = kxbrowser::module_directory() + L"MozillaKXAgentClient.dll";
  std::string page_file, calls = kDefaultCalls, script_file;
  bool fake_agent = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--dll" && i + 1 < argc) dll = argv[++i];
    else if (a == L"--page" && i + 1 < argc) page_file = tracecore::to_utf8(std::wstring_view(argv[++i]));
    else if (a == L"--calls" && i + 1 < argc) calls = tracecore::to_utf8(std::wstring_view(argv[++i]));
    else if (a == L"--script" && i + 1 < argc) script_file = tracecore::to_utf8(std::wstring_view(argv[++i]));
    else if (a == L"--fake-agent") fake_agent = true;
    else return usage();
  }

  json script;
  if (!script_file.empty()) {
    std::ifstream in(script_file, std::ios::binary);
    script = json::parse(in, nullptr, false);
    if (script.is_discarded() || !script.is_array()) {
      std::fprintf(stderr, "browser: %s is not a JSON array of steps\n", script_file.c_str());
      return 2;
    }
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
  if (script_file.empty()) std::printf("create %s -> 0x%08X\n", KXAGENTCLIENT_CONTRACTID, static_cast<unsigned>(created));
  if (created != NS_OK || !client) return 1;

  int rc = 0;
  if (script_file.empty()) {
    rc = play_calls(client, *chrome, *page, calls);
  } else {
    session_t session(client, *chrome, std::move(page), windows.top());
    for (std::size_t i = 0; i < script.size() && rc == 0; ++i)
      if (!session.play(i, script[i])) rc = 2;
  }
  client = nullptr;  // the last release destroys the component
  if (script_file.empty()) std::printf("released\n");
  return rc;
}
