// The agent stand-in: a process with the agent's window ("Kestrix Desk Agent"), its server channel
// (mutex, events, the 4096-byte buffer), a manifest store with the lookup cache over it, and a demo
// vault. It serves the component's server calls, announces its version to each communication window
// that tells it where replies go, answers fill-in data requests from the vault (each client, that
// is each browser window, at its own reply window), and delivers any notice or action request a
// test asks for. Everything it receives goes to a JSON-lines log.
//
//   kxagent.exe [--store DIR] [--log FILE] [--vault FILE] [--version HEX] [--no-fingers]
//   kxagent.exe --stop        asks the running agent to quit and waits for it
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <deque>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "agentcomm/AgentMessages.h"
#include "agentcomm/transport/KernelObjects.h"
#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/transport/ServerRecords.h"
#include "agentcomm/transport/Transport.h"
#include "peers/agent/AgentCommands.h"
#include "peers/agent/AgentLog.h"
#include "peers/agent/AgentStore.h"
#include "peers/agent/AgentVault.h"
#include "tracecore/utf.h"
#include "tracecore/win_handles.h"

namespace {

using kxagent::log_t;
using kxagent::message_label;
using kxagent::store_t;
using kxagent::to_json;
using kxagent::vault_t;
using nlohmann::json;
using serialization::CMemoryObjectEx;
using tracecore::to_utf8;
namespace fs = std::filesystem;

constexpr const wchar_t* kAgentName = L"Kestrix Desk Agent";
constexpr UINT kRunDeliveries = WM_APP + 1;

struct options_t {
  std::wstring store;
  std::wstring log;
  std::wstring vault;
  std::uint32_t version = 0x03140918;
  bool fingers = true;
};

HWND hwnd_of(std::uint32_t value) { return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value))); }
std::uint32_t u32_of(HWND h) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h)); }

// --- the agent ---

struct delivery_t {
  enum kind_t { notice, action } kind = notice;
  HWND comm = nullptr;      // the communication window; null: the one the reply window names
  HWND reply_to = nullptr;  // for a notice without a comm window: the window whose "KXMAX_FFClient" names it
  std::uint32_t code = 0;   // notice code or operation
  HWND reply = nullptr;     // action: the requester's reply window
  std::vector<std::uint8_t> block;
};

class agent_t {
 public:
  explicit agent_t(const options_t& o)
      : options_(o), log_(o.log), store_(o.store), vault_(o.vault), version_(o.version) {}

  bool start(HINSTANCE instance);
  int run();

  LRESULT window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  void serve();
  static DWORD WINAPI serve_thread(void* self) {
    static_cast<agent_t*>(self)->serve();
    return 0;
  }
  void handle_record(std::span<std::uint8_t> buffer);
  void handle_block(const ffipc::block_record_t& r);
  void queue(delivery_t d);
  void run_deliveries();
  void deliver(const delivery_t& d);
  void command(std::uint32_t cmd, std::span<const std::uint8_t> data);
  // After the store changed: "cacheupdated" to every component that told us where replies go.
  void announce_cache_update();
  // Keeps |window| as the reply window of a client in process |pid| (block 6).
  void keep_reply_window(HWND window, std::uint32_t pid);
  // Where the answer to a request of process |pid| for the browser window |targetwnd| goes.
  HWND reply_window_for(std::uint32_t pid, std::int32_t targetwnd);

  template <class M>
  void queue_notice(HWND reply_to, const M& message) {
    CMemoryObjectEx block;
    kxmessages::encode(message, block);
    delivery_t d;
    d.reply_to = reply_to;
    d.code = M::code;
    d.block.assign(block.bytes().begin(), block.bytes().end());
    queue(std::move(d));
  }

  options_t options_;
  log_t log_;
  store_t store_;
  vault_t vault_;
  std::atomic<std::uint32_t> version_;
  std::atomic<bool> noack_{false};
  std::atomic<bool> hold_{false};  // deliveries are kept until released
  std::atomic<bool> die_{false};
  // Every window announced with block 6 and the process that announced it, the latest last: one
  // per client (browser window), so that each gets the answers to its own requests.
  struct reply_window_t {
    HWND window;
    std::uint32_t pid;
  };
  std::mutex replies_lock_;
  std::vector<reply_window_t> reply_windows_;

  HWND window_ = nullptr;
  UINT probe_ = 0;
  tracecore::unique_handle mutex_, buffer_ready_, data_ready_, stop_, buffer_, thread_;
  tracecore::unique_view view_;

  std::mutex deliveries_lock_;
  std::deque<delivery_t> deliveries_;
};

agent_t* g_agent = nullptr;

LRESULT CALLBACK class_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return g_agent ? g_agent->window_proc(hwnd, msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

bool agent_t::start(HINSTANCE instance) {
  const ffipc::channel_t& ch = ffipc::channel(1);
  // The channel's objects: the mutex with the component's access list, events the component may
  // wait for and set, and the buffer.
  ffipc::object_security_t event_security(ffipc::event_access);
  mutex_.reset(CreateMutexW(ffipc::mutex_security().attributes(), FALSE, ch.mutex));
  buffer_ready_.reset(CreateEventW(event_security.attributes(), FALSE, FALSE, ch.buffer_ready));
  data_ready_.reset(CreateEventW(event_security.attributes(), FALSE, FALSE, ch.data_ready));
  buffer_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, ffipc::mapping_security().attributes(), PAGE_READWRITE, 0,
                                   ch.size, ch.buffer));
  for (HANDLE h : {mutex_.get(), buffer_ready_.get(), data_ready_.get(), buffer_.get()})
    if (h) ffipc::apply_low_label(h);
  if (buffer_) view_.reset(MapViewOfFile(buffer_.get(), FILE_MAP_WRITE, 0, 0, 0));
  stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!mutex_ || !buffer_ready_ || !data_ready_ || !view_ || !stop_) {
    log_.write({{"kind", "error"}, {"text", "cannot create the server channel"}, {"error", GetLastError()}});
    return false;
  }

  probe_ = RegisterWindowMessageW(kxagent::kProbeMessage);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &class_proc;
  wc.hInstance = instance;
  wc.lpszClassName = kAgentName;
  if (!RegisterClassExW(&wc)) return false;
  // A top-level window, never shown: FindWindowExW finds it, message-only windows it would not.
  window_ = CreateWindowExW(0, kAgentName, kAgentName, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (!window_) return false;
  // Windows of lower integrity may send it the probe and the replies.
  ChangeWindowMessageFilterEx(window_, WM_COPYDATA, MSGFLT_ALLOW, nullptr);

  thread_.reset(CreateThread(nullptr, 0, &agent_t::serve_thread, this, 0, nullptr));
  log_.write({{"kind", "started"},
              {"pid", GetCurrentProcessId()},
              {"window", u32_of(window_)},
              {"version", version_.load()},
              {"lookup_entries", store_.entries()}});
  return static_cast<bool>(thread_);
}

int agent_t::run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  SetEvent(stop_.get());
  WaitForSingleObject(thread_.get(), 5000);
  log_.write({{"kind", "stopped"}});
  return 0;
}

void agent_t::serve() {
  const HANDLE waits[2] = {data_ready_.get(), stop_.get()};
  for (;;) {
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return;
    if (die_.load()) {
      log_.write({{"kind", "dying"}});
      ExitProcess(3);
    }
    handle_record(std::span<std::uint8_t>(static_cast<std::uint8_t*>(view_.get()), ffipc::buffer_size));
    if (noack_.load()) {
      log_.write({{"kind", "noack"}});
      continue;
    }
    SetEvent(buffer_ready_.get());
  }
}

void agent_t::handle_record(std::span<std::uint8_t> buffer) {
  switch (ffipc::record_kind_of(buffer)) {
    case ffipc::record_forward: {
      const auto r = ffipc::read_forward_record(buffer);
      if (!r) break;
      DWORD_PTR result = 0;
      const LRESULT sent = SendMessageTimeoutW(hwnd_of(r->target), r->message, r->wparam,
                                               static_cast<LPARAM>(static_cast<std::int32_t>(r->lparam)),
                                               SMTO_NORMAL, 10000, &result);
      ffipc::put_u32(buffer, ffipc::forward_result_offset, static_cast<std::uint32_t>(result));
      log_.write({{"kind", "forward"},
                  {"pid", r->pid},
                  {"target", r->target},
                  {"message", message_label(r->message)},
                  {"wparam", r->wparam},
                  {"lparam", r->lparam},
                  {"delivered", sent != 0},
                  {"result", static_cast<std::uint32_t>(result)}});
      return;
    }
    case ffipc::record_text: {
      const auto r = ffipc::read_text_record(buffer);
      if (!r) break;
      ffipc::mapping_t text = ffipc::mapping_t::open(ffipc::channel(1).text, FILE_MAP_READ);
      const std::string_view body =
          text ? ffipc::read_nul_terminated({text.data(), text.size()}) : std::string_view();
      json entry = {{"kind", "text"}, {"pid", r->pid}, {"target", r->target}, {"message", message_label(r->message)},
                    {"name", r->name}, {"length", body.size()}, {"mapped", static_cast<bool>(text)}};
      if (r->message == ffipc::registered(ffipc::kxmsg::agent_manifest)) {
        const fs::path stored = store_.store(r->name, body);
        entry["stored"] = to_utf8(stored.u16string());
        entry["lookup_entries"] = store_.entries();
        if (!stored.empty() && stored.extension() == ".kxm") announce_cache_update();
      } else {
        entry["text"] = std::string(body.substr(0, 256));
      }
      log_.write(std::move(entry));
      return;
    }
    case ffipc::record_block: {
      const auto r = ffipc::read_block_record(buffer);
      if (!r) break;
      handle_block(*r);
      return;
    }
    default:
      break;
  }
  log_.write({{"kind", "bad_record"}, {"record_kind", ffipc::record_kind_of(buffer)}});
}

void agent_t::handle_block(const ffipc::block_record_t& r) {
  ffipc::mapping_t mapping = ffipc::mapping_t::open(ffipc::channel(1).block_to_agent, FILE_MAP_READ);
  json entry = {{"kind", "block"}, {"pid", r.pid}, {"target", r.target}, {"message", message_label(r.message)},
                {"code", r.code}};
  const auto payload =
      mapping ? ffipc::read_length_prefixed({mapping.data(), mapping.size()}) : std::nullopt;
  if (!payload) {
    entry["error"] = mapping ? "length exceeds the mapping" : "no block mapping";
    log_.write(std::move(entry));
    return;
  }
  entry["length"] = payload->size();
  serialization::fake_memblock_t block(payload->data(), static_cast<std::uint32_t>(payload->size()));
  // The stand-in has no dialogs for training, editing or password changes: it ends such a request
  // at once, so that the component's page is free for the next one.
  auto answer_to = [&](const kxmessages::callheader_t& header) {
    HWND reply = reply_window_for(r.pid, header.targetwnd);
    entry["reply_to"] = u32_of(reply);
    return reply;
  };
  auto end_request = [&](const kxmessages::callheader_t& header) {
    kxmessages::notice_requestaborted_t done;
    done.requestID = header.requestID;
    queue_notice(answer_to(header), done);
    entry["answer"] = "NOTICE::requestaborted";
  };
  auto decode = [&](auto message) {
    entry["loaded"] = kxmessages::decode(message, block);
    entry["decoded"] = to_json(message);
    return message;
  };
  switch (r.code) {
    case kxmessages::block_filldata_request: {
      const auto m = decode(kxmessages::block_filldata_request_t{});
      kxmessages::notice_senddata_t answer;
      answer.requestID = m.callheader.requestID;
      const std::string stored = store_.read(m.manifestprofileID.manifestfilename);
      if (vault_.find(m.manifestprofileID.manifestfilename, m.manifestprofileID.profileindex, stored,
                      m.manifestprofileID.currentformindex, answer.datatofillin)) {
        answer.manifestasstring = tracecore::to_utf16(stored);
        queue_notice(answer_to(m.callheader), answer);
        entry["answer"] = "NOTICE::senddata";
      } else {
        end_request(m.callheader);
      }
      break;
    }
    case kxmessages::block_newmanifest: {
      const auto m = decode(kxmessages::block_newmanifest_t{});
      if (!m.newmanifestasstring.empty()) {
        const std::string name = "trained_" + std::to_string(static_cast<std::uint32_t>(m.callheader.requestID)) + ".kxm";
        entry["stored"] = to_utf8(store_.store(name, m.newmanifestasstring).u16string());
        announce_cache_update();
      }
      end_request(m.callheader);
      break;
    }
    case kxmessages::block_profile_operation: end_request(decode(kxmessages::block_profile_operation_t{}).callheader); break;
    case kxmessages::block_domain_manifests: end_request(decode(kxmessages::block_domain_manifests_t{}).callheader); break;
    case kxmessages::block_highlight: decode(kxmessages::block_highlight_t{}); break;
    case kxmessages::block_replyto: {
      const auto m = decode(kxmessages::block_replyto_t{});
      HWND reply = hwnd_of(static_cast<std::uint32_t>(m.replytowindow));
      keep_reply_window(reply, r.pid);
      kxmessages::notice_kxaversion_t version;
      version.version = static_cast<std::int32_t>(version_.load());
      queue_notice(reply, version);
      entry["answer"] = "NOTICE::kxaversion";
      break;
    }
    default:
      entry["error"] = "unknown block code";
      break;
  }
  log_.write(std::move(entry));
}

// Deliveries run on the window's thread once the record has been acknowledged: the component's
// thread pumps no messages while it waits for the acknowledgement.
void agent_t::queue(delivery_t d) {
  {
    std::lock_guard<std::mutex> g(deliveries_lock_);
    deliveries_.push_back(std::move(d));
  }
  if (!hold_.load()) PostMessageW(window_, kRunDeliveries, 0, 0);
}

void agent_t::keep_reply_window(HWND window, std::uint32_t pid) {
  std::lock_guard<std::mutex> g(replies_lock_);
  std::erase_if(reply_windows_, [&](const reply_window_t& w) { return w.window == window || !IsWindow(w.window); });
  reply_windows_.push_back({window, pid});
}

// The request's own browser window when a client announced it; otherwise the window the
// requesting process announced last; otherwise the last one announced; otherwise the target window
// as the request gives it.
HWND agent_t::reply_window_for(std::uint32_t pid, std::int32_t targetwnd) {
  const HWND target = hwnd_of(static_cast<std::uint32_t>(targetwnd));
  std::lock_guard<std::mutex> g(replies_lock_);
  std::erase_if(reply_windows_, [](const reply_window_t& w) { return !IsWindow(w.window); });
  if (target && std::any_of(reply_windows_.begin(), reply_windows_.end(),
                            [&](const reply_window_t& w) { return w.window == target; }))
    return target;
  const auto of_client = std::find_if(reply_windows_.rbegin(), reply_windows_.rend(),
                                      [&](const reply_window_t& w) { return w.pid == pid; });
  if (of_client != reply_windows_.rend()) return of_client->window;
  return reply_windows_.empty() ? target : reply_windows_.back().window;
}

void agent_t::announce_cache_update() {
  std::vector<HWND> windows;
  {
    std::lock_guard<std::mutex> g(replies_lock_);
    std::erase_if(reply_windows_, [](const reply_window_t& w) { return !IsWindow(w.window); });
    for (const reply_window_t& w : reply_windows_) windows.push_back(w.window);
  }
  for (HWND w : windows) {
    delivery_t d;
    d.kind = delivery_t::action;
    d.reply_to = w;
    d.code = kxmessages::op_cacheupdated;
    queue(std::move(d));
  }
}

void agent_t::run_deliveries() {
  for (;;) {
    delivery_t d;
    {
      std::lock_guard<std::mutex> g(deliveries_lock_);
      if (deliveries_.empty()) return;
      d = std::move(deliveries_.front());
      deliveries_.pop_front();
    }
    deliver(d);
  }
}

void agent_t::deliver(const delivery_t& d) {
  HWND comm = d.comm;
  if (!comm && d.reply_to) comm = static_cast<HWND>(GetPropW(d.reply_to, L"KXMAX_FFClient"));
  json entry = {{"kind", "delivered"}, {"to", u32_of(comm)}};
  DWORD_PTR result = 0;
  LRESULT sent = 0;
  if (d.kind == delivery_t::action) {
    entry["operation"] = d.code;
    HWND reply = d.reply ? d.reply : window_;
    if (comm)
      sent = SendMessageTimeoutW(comm, ffipc::registered(ffipc::kxmsg::actionrequest_frhook),
                                 reinterpret_cast<WPARAM>(reply), d.code, SMTO_NORMAL, 30000, &result);
  } else {
    entry["notice"] = kxmessages::notice_name(d.code);
    // The payload stays mapped while the component handles the message.
    ffipc::mapping_t mapping =
        ffipc::mapping_t::create(ffipc::channel(1).block_from_agent, static_cast<std::uint32_t>(d.block.size() + 4));
    if (mapping) {
      ffipc::put_u32(mapping.bytes(), 0, static_cast<std::uint32_t>(d.block.size()));
      if (!d.block.empty()) std::memcpy(mapping.data() + 4, d.block.data(), d.block.size());
      if (comm)
        sent = SendMessageTimeoutW(comm, ffipc::registered(ffipc::kxmsg::agent_request), d.code, 0, SMTO_NORMAL,
                                   30000, &result);
    }
  }
  entry["sent"] = sent != 0;
  log_.write(std::move(entry));
}

void agent_t::command(std::uint32_t cmd, std::span<const std::uint8_t> data) {
  auto arg = [&](std::uint32_t i) { return ffipc::get_u32(data, 4 * i); };
  json entry = {{"kind", "command"}, {"command", cmd}};
  switch (cmd) {
    case kxagent::cmd_notice: {
      delivery_t d;
      d.comm = hwnd_of(arg(0));
      d.code = arg(1);
      if (data.size() > 8) d.block.assign(data.begin() + 8, data.end());
      queue(std::move(d));
      break;
    }
    case kxagent::cmd_action: {
      delivery_t d;
      d.kind = delivery_t::action;
      d.comm = hwnd_of(arg(0));
      d.code = arg(1);
      d.reply = hwnd_of(arg(2));
      queue(std::move(d));
      break;
    }
    case kxagent::cmd_noack: noack_.store(arg(0) != 0); break;
    case kxagent::cmd_hold:
      hold_.store(arg(0) != 0);
      if (!hold_.load()) PostMessageW(window_, kRunDeliveries, 0, 0);
      break;
    case kxagent::cmd_die_in_call: die_.store(true); break;
    case kxagent::cmd_version: version_.store(arg(0)); break;
    case kxagent::cmd_quit: PostMessageW(window_, WM_CLOSE, 0, 0); break;
    default: entry["error"] = "unknown command"; break;
  }
  log_.write(std::move(entry));
}

LRESULT agent_t::window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    command(static_cast<std::uint32_t>(cds->dwData),
            std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(cds->lpData), cds->lpData ? cds->cbData : 0));
    return 1;
  }
  if (msg == kRunDeliveries) {
    run_deliveries();
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  if (msg == probe_) {
    log_.write({{"kind", "window_message"}, {"message", "KX_STANDIN_PROBE"}, {"wparam", wp}, {"lparam", lp}});
    return static_cast<LRESULT>(wp + static_cast<WPARAM>(lp));
  }
  if (msg >= 0xC000 && msg <= 0xFFFF) {
    const std::string name = message_label(msg);
    if (name != std::to_string(msg)) {
      log_.write({{"kind", "window_message"},
                  {"message", name},
                  {"wparam", static_cast<std::uint64_t>(wp)},
                  {"lparam", static_cast<std::int64_t>(lp)}});
      if (msg == ffipc::registered(ffipc::kxmsg::agent_hasfingers)) return options_.fingers ? 1 : 0;
      return 0;
    }
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

options_t parse(int argc, wchar_t** argv) {
  options_t o;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  o.store = std::wstring(temp) + L"kxagent\\store";
  for (int i = 1; i + 1 < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--store") o.store = argv[++i];
    else if (a == L"--log") o.log = argv[++i];
    else if (a == L"--vault") o.vault = argv[++i];
    else if (a == L"--version") o.version = static_cast<std::uint32_t>(std::wcstoul(argv[++i], nullptr, 0));
  }
  for (int i = 1; i < argc; ++i)
    if (std::wstring(argv[i]) == L"--no-fingers") o.fingers = false;
  return o;
}

}  // namespace

// Asks the running agent to quit; 0 when it ended (or none was running).
int stop_running_agent() {
  HWND window = FindWindowExW(nullptr, nullptr, kAgentName, kAgentName);
  if (!window) return 0;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  tracecore::unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
  COPYDATASTRUCT cds{};
  cds.dwData = kxagent::cmd_quit;
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 5000, &result);
  return process && WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0 ? 1 : 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--stop") return stop_running_agent();
  const options_t options = parse(argc, argv);
  if (FindWindowExW(nullptr, nullptr, kAgentName, kAgentName)) {
    std::fputs("kxagent: an agent is running already\n", stderr);
    return 2;
  }
  agent_t agent(options);
  g_agent = &agent;
  if (!agent.start(GetModuleHandleW(nullptr))) {
    std::fputs("kxagent: cannot start\n", stderr);
    return 1;
  }
  const int rc = agent.run();
  g_agent = nullptr;
  return rc;
}
