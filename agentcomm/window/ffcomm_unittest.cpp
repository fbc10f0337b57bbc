// The communication window with the agent stand-in in a process of its own: announcement at creation,
// notices and action requests reaching their slots, hook messages, icon menu commands, replies and
// the call gate.
#include "agentcomm/window/ffcomm.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/window/AgentCalls.h"
#include "peers/agent/AgentDriver.h"
#include "tests/support/WineTestSupport.h"
#include "tracecore/com_error.h"
#include "tracecore/testing.h"
#include "tracecore/win_handles.h"

namespace ffagent_window {
namespace {

using ffipc::kxmsg;
using ffipc::registered;
using serialization::CMemoryObjectEx;

// A component stand-in that records what reached each slot.
class recording_comm_t final : public ffcomm_t {
 public:
  ~recording_comm_t() { destroy_window(); }

  std::vector<std::string> calls;
  kxmessages::fillin_reply_context_t fillin;
  kxmessages::checklogon_reply_context_t checklogon;
  kxmessages::notice_requestaborted_t aborted;
  kxmessages::notice_kxaversion_t version;
  kxmessages::notice_highlight_t highlight;
  kxmessages::notice_senddata_t senddata;
  bool trained = false, passwordchange = false, logon = false;
  menu_switches_t switches;
  std::function<void()> throw_in_starttraining;

  feedback_window_t& quiet() { return static_cast<feedback_window_t&>(feedback()); }

  bool called(const std::string& slot) const { return std::find(calls.begin(), calls.end(), slot) != calls.end(); }

  void onfillin(kxmessages::fillin_reply_context_t& r) override {
    calls.push_back("onfillin");
    fillin = r;
    reply_fillin(r, true);
  }
  void onrequestaborted(const kxmessages::notice_requestaborted_t& n) override { calls.push_back("onrequestaborted"); aborted = n; }
  void onkxagentversion(const kxmessages::notice_kxaversion_t& n) override { calls.push_back("onkxagentversion"); version = n; }
  void onhighlight(const kxmessages::notice_highlight_t& n) override { calls.push_back("onhighlight"); highlight = n; }
  void onsenddata(const kxmessages::notice_senddata_t& n) override { calls.push_back("onsenddata"); senddata = n; }
  void onchecklogon(kxmessages::checklogon_reply_context_t& r) override {
    calls.push_back("onchecklogon");
    checklogon = r;
    reply_checklogon(r, trained, logon);
  }
  void onstarttraining() override {
    calls.push_back("onstarttraining");
    if (throw_in_starttraining) throw_in_starttraining();
  }
  void oncacheupdated() override { calls.push_back("oncacheupdated"); }
  void onreserved() override { calls.push_back("onreserved"); }
  void onaddprofile() override { calls.push_back("onaddprofile"); }
  void oneditprofile() override { calls.push_back("oneditprofile"); }
  void onstartFLM() override { calls.push_back("onstartFLM"); }
  void ondontprompttrainG() override { calls.push_back("ondontprompttrainG"); }
  void ondontprompttrainL() override { calls.push_back("ondontprompttrainL"); }
  void onshowiconsettings() override { calls.push_back("onshowiconsettings"); }
  void onrequestfillin() override { calls.push_back("onrequestfillin"); }
  void onstarttrainingpsw() override { calls.push_back("onstarttrainingpsw"); }
  void onhelp() override { calls.push_back("onhelp"); }
  bool thepage_is_trained() override { return trained; }
  bool thescreen_is_passwordchange() override { return passwordchange; }
  bool thepage_is_goodforlogon() override { return logon; }
  void thepage_manifestoptions(std::wstring& key, std::wstring& location) override { key.clear(); location.clear(); }

 protected:
  menu_switches_t menu_switches() override { return switches; }
};

// A top-level window like the browser's.
class browser_window_t {
 public:
  browser_window_t() {
    static const ATOM cls = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"MozillaWindowClass";
      return RegisterClassExW(&wc);
    }();
    (void)cls;
    hwnd_ = CreateWindowExW(0, L"MozillaWindowClass", L"Test page", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~browser_window_t() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_;
};

// The component's table of current operations per document.
class registry_t final : public operation_registry_i {
 public:
  bool try_begin(kxmessages::document_id_t docid, std::int32_t operation, std::int32_t& current) override {
    auto [it, fresh] = table.try_emplace(docid.value(), operation);
    current = it->second;
    return fresh;
  }
  void cancel(kxmessages::document_id_t docid) override { table.erase(docid.value()); }
  std::map<std::uint32_t, std::int32_t> table;
};

class CommWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new kxtest::scratch_dir_t(L"commwindow");
    agent_ = new kxagent::agent_process_t(kxagent::options_in(dir_->path()));
  }
  static void TearDownTestSuite() {
    delete agent_;
    delete dir_;
  }

  void SetUp() override {
    ASSERT_TRUE(agent_->running()) << "the agent stand-in did not start";
    ASSERT_TRUE(comm_.createwindow(browser_.hwnd()));
    // The agent answers the announcement with its version; wait for it so that every test starts
    // from a quiet window.
    ASSERT_TRUE(kxagent::pump_until([&] { return comm_.called("onkxagentversion"); }, 10000));
    comm_.calls.clear();
  }

  template <class M>
  void send_notice(const M& message) {
    CMemoryObjectEx block;
    kxmessages::encode(message, block);
    agent_->notice(comm_.comm_window(), M::code, block);
  }
  bool wait_for(const std::string& slot) {
    return kxagent::pump_until([&] { return comm_.called(slot); }, 10000);
  }
  // The agent's log entries of window messages with that name.
  std::vector<nlohmann::json> agent_got(const std::string& message) const {
    std::vector<nlohmann::json> out;
    for (auto& e : agent_->log_of("window_message"))
      if (e["message"] == message) out.push_back(e);
    return out;
  }
  LRESULT menu(UINT message, LPARAM lparam) { return SendMessageW(comm_.comm_window(), registered(message == 0 ? kxmsg::fbiconmenu_command : kxmsg::fbiconmenu_request), 0, lparam); }

  static kxtest::scratch_dir_t* dir_;
  static kxagent::agent_process_t* agent_;
  browser_window_t browser_;
  recording_comm_t comm_;
};
kxtest::scratch_dir_t* CommWindowTest::dir_ = nullptr;
kxagent::agent_process_t* CommWindowTest::agent_ = nullptr;

std::uintptr_t id(HWND h) { return reinterpret_cast<std::uintptr_t>(h); }

TEST_F(CommWindowTest, CreationMarksTheBrowserWindowAndAnnouncesTheReplyWindow) {
  EXPECT_EQ(GetPropW(browser_.hwnd(), L"KXMAX_FFClient"), comm_.comm_window());
  EXPECT_EQ(GetPropW(browser_.hwnd(), L"KXMAX_HkLoaded"), reinterpret_cast<HANDLE>(1));
  EXPECT_EQ(GetPropW(comm_.comm_window(), L"KXMAX_This"), static_cast<ffcomm_t*>(&comm_));
  EXPECT_EQ(comm_.agent_window(), agent_->window());
  bool announced = false;
  for (const auto& e : agent_->log_of("block"))
    if (e["code"] == 6 && e["decoded"]["replytowindow"] == static_cast<std::int32_t>(id(browser_.hwnd()))) announced = true;
  EXPECT_TRUE(announced);
  EXPECT_EQ(comm_.version.version, 0x03140918);  // the stand-in's default

  comm_.destroy_window();
  EXPECT_EQ(GetPropW(browser_.hwnd(), L"KXMAX_FFClient"), nullptr);
  EXPECT_EQ(GetPropW(browser_.hwnd(), L"KXMAX_HkLoaded"), nullptr);
  EXPECT_EQ(comm_.comm_window(), nullptr);
}

TEST_F(CommWindowTest, ASecondInstanceUsesTheRegisteredClass) {
  browser_window_t other_browser;
  recording_comm_t other;
  ASSERT_TRUE(other.createwindow(other_browser.hwnd()));
  EXPECT_TRUE(wait_for("onkxagentversion") || kxagent::pump_until([&] { return other.called("onkxagentversion"); }, 10000));
  EXPECT_NE(other.comm_window(), comm_.comm_window());
}

// A second creation on the same object takes the first window down, with the marks on its browser
// window, instead of leaving it behind with a pointer to the object.
TEST_F(CommWindowTest, ASecondCreationReplacesTheFirstWindow) {
  const HWND first = comm_.comm_window();
  browser_window_t other_browser;
  ASSERT_TRUE(comm_.createwindow(other_browser.hwnd()));
  EXPECT_FALSE(IsWindow(first)) << "the first window is left behind";
  ASSERT_TRUE(IsWindow(comm_.comm_window()));
  EXPECT_EQ(GetPropW(comm_.comm_window(), L"KXMAX_This"), static_cast<ffcomm_t*>(&comm_));
  EXPECT_EQ(GetPropW(browser_.hwnd(), L"KXMAX_FFClient"), nullptr);
  EXPECT_EQ(GetPropW(browser_.hwnd(), L"KXMAX_HkLoaded"), nullptr);
  EXPECT_EQ(GetPropW(other_browser.hwnd(), L"KXMAX_FFClient"), comm_.comm_window());
  EXPECT_TRUE(wait_for("onkxagentversion"));
  comm_.destroy_window();
}

// The class is there while any communication window of the module is, and is registered again
// for the next one.
TEST_F(CommWindowTest, TheClassGoesWithTheLastWindowAndComesBackWithTheNext) {
  const auto class_registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    return GetClassInfoExW(tracecore::this_module(), L"KX_LocalAgentFF", &wc) != 0;
  };
  browser_window_t other_browser;
  recording_comm_t other;
  ASSERT_TRUE(other.createwindow(other_browser.hwnd()));
  ASSERT_TRUE(kxagent::pump_until([&] { return other.called("onkxagentversion"); }, 10000));

  comm_.destroy_window();
  EXPECT_TRUE(class_registered()) << "another window of the class lives";
  SendMessageW(other.comm_window(), registered(kxmsg::fbiconmenu_command), 0, iconcmd_addprofile);
  EXPECT_TRUE(other.called("onaddprofile")) << "and still works";

  other.destroy_window();
  EXPECT_FALSE(class_registered()) << "the last window took the class with it";

  comm_.calls.clear();
  ASSERT_TRUE(comm_.createwindow(browser_.hwnd()));
  EXPECT_TRUE(class_registered());
  EXPECT_TRUE(wait_for("onkxagentversion"));
}

TEST_F(CommWindowTest, NoticesReachTheirSlotsWithTheirDecodedPayload) {
  kxmessages::notice_requestaborted_t aborted;
  aborted.requestID = 0x51;
  send_notice(aborted);
  ASSERT_TRUE(wait_for("onrequestaborted"));
  EXPECT_EQ(comm_.aborted, aborted);

  kxmessages::notice_highlight_t highlight;
  highlight.requestID = 7;
  highlight.accID = 12;
  highlight.highlightagent = 3;
  send_notice(highlight);
  ASSERT_TRUE(wait_for("onhighlight"));
  EXPECT_EQ(comm_.highlight, highlight);

  kxmessages::notice_senddata_t data;
  data.requestID = 0x2a;
  data.manifestasstring = u"<manifest/>";
  data.ischangepasswordprofile = true;
  data.datatofillin.profilename = u"Main \u00e9";
  data.datatofillin.profileitems = {{0, 0, u"User", u"ann", "user", 1}, {1, 0, u"Password", u"s3cret", "password", 2}};
  send_notice(data);
  ASSERT_TRUE(wait_for("onsenddata"));
  EXPECT_EQ(comm_.senddata, data);
}

TEST_F(CommWindowTest, NoticesWithoutHandlersAreTracedOnly) {
  tracecore::testing::capture_t trace;
  CMemoryObjectEx empty;
  agent_->notice(comm_.comm_window(), 5, empty);
  agent_->notice(comm_.comm_window(), 9, empty);
  ASSERT_TRUE(kxagent::pump_until([&] { return trace.has('U', "'`I06`'unknown NOTICE"); }, 10000)) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I06`'NOTICE::senddata2")) << trace.dump();
  EXPECT_TRUE(comm_.calls.empty());
}

TEST_F(CommWindowTest, ABlockThatDoesNotLoadStillReachesTheHandlerWithInitialValues) {
  CMemoryObjectEx garbage("not a block", 11);
  agent_->notice(comm_.comm_window(), kxmessages::notice_highlightID, garbage);
  ASSERT_TRUE(wait_for("onhighlight"));
  EXPECT_EQ(comm_.highlight, kxmessages::notice_highlight_t{});
}

TEST_F(CommWindowTest, FillInRequestGetsItsReplyContextAndTheRequesterItsReply) {
  agent_->action(comm_.comm_window(), kxmessages::op_dofillin);
  ASSERT_TRUE(wait_for("onfillin"));
  EXPECT_EQ(comm_.fillin.reply_window, id(agent_->window()));
  EXPECT_EQ(comm_.fillin.browser_window, id(browser_.hwnd()));
  EXPECT_EQ(comm_.fillin.profileindex, -1);
  const auto replies = agent_got("WM_KX_FBVIEW_FILLINREPLY");
  ASSERT_FALSE(replies.empty());
  EXPECT_EQ(replies.back()["lparam"], 50);
  EXPECT_EQ(replies.back()["wparam"], id(browser_.hwnd()));
}

struct checklogon_case_t {
  const char* name;
  bool trained, logon;
  int result;
};
class CheckLogon : public CommWindowTest, public ::testing::WithParamInterface<checklogon_case_t> {};

TEST_P(CheckLogon, ReplyCarriesTheResult) {
  comm_.trained = GetParam().trained;
  comm_.logon = GetParam().logon;
  const std::size_t before = agent_got("WM_KX_FBVIEW_CHECKLOGONREPLY").size();
  agent_->action(comm_.comm_window(), kxmessages::op_checklogin);
  ASSERT_TRUE(wait_for("onchecklogon"));
  const auto replies = agent_got("WM_KX_FBVIEW_CHECKLOGONREPLY");
  ASSERT_EQ(replies.size(), before + 1);
  EXPECT_EQ(replies.back()["lparam"], GetParam().result);
  EXPECT_EQ(comm_.checklogon.result, 59) << "the handler saw the fresh context";
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckLogon,
                         ::testing::Values(checklogon_case_t{"trained", true, true, 62},
                                           checklogon_case_t{"logon", false, true, 60},
                                           checklogon_case_t{"neither", false, false, 61}),
                         [](const auto& info) { return std::string(info.param.name); });

struct action_case_t {
  const char* name;
  std::uint32_t operation;
  const char* slot;  // nullptr: no slot
  bool feedback;
};
class ActionRequest : public CommWindowTest, public ::testing::WithParamInterface<action_case_t> {};

TEST_P(ActionRequest, ReachesItsSlotOrNone) {
  const auto& c = GetParam();
  const unsigned before = comm_.quiet().messages();
  // Sent in this process: the dispatch is synchronous.
  SendMessageW(comm_.comm_window(), registered(kxmsg::actionrequest_frhook), 0, c.operation);
  if (c.slot) {
    EXPECT_EQ(comm_.calls, std::vector<std::string>{c.slot});
  } else {
    EXPECT_TRUE(comm_.calls.empty());
  }
  EXPECT_EQ(comm_.quiet().messages() - before, c.feedback ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ActionRequest,
    ::testing::Values(action_case_t{"starttraining", 4, "onstarttraining", false},
                      action_case_t{"cacheupdated", 5, "oncacheupdated", false},
                      action_case_t{"fingeractivity", 6, nullptr, true}, action_case_t{"uninit", 0, nullptr, false},
                      action_case_t{"qlfillin", 2, nullptr, false}, action_case_t{"dontshowpretrained", 7, nullptr, false},
                      action_case_t{"updatedotpvalue", 10, nullptr, false}, action_case_t{"unknown", 11, nullptr, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommWindowTest, HookMessagesAreUnwrappedFromThePointerOrTheProperties) {
  hook_message_t wrapped{comm_.comm_window(), registered(kxmsg::actionrequest_frhook), 0, kxmessages::op_cacheupdated};
  SendMessageW(comm_.comm_window(), registered(kxmsg::hook_ffwm), 0, reinterpret_cast<LPARAM>(&wrapped));
  EXPECT_EQ(comm_.calls, std::vector<std::string>{"oncacheupdated"});

  comm_.calls.clear();
  HWND comm = comm_.comm_window();
  SetPropW(comm, L"KXMAX_cw_hWnd", comm);
  SetPropW(comm, L"KXMAX_cw_uMsg", reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(registered(kxmsg::actionrequest_frhook))));
  SetPropW(comm, L"KXMAX_cw_wParam", nullptr);
  SetPropW(comm, L"KXMAX_cw_lParam", reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(kxmessages::op_starttraining)));
  SendMessageW(comm, registered(kxmsg::hook_ffwm), 0, 0);
  EXPECT_EQ(comm_.calls, std::vector<std::string>{"onstarttraining"});
  for (const wchar_t* p : {L"KXMAX_cw_hWnd", L"KXMAX_cw_uMsg", L"KXMAX_cw_wParam", L"KXMAX_cw_lParam"}) RemovePropW(comm, p);

  tracecore::testing::capture_t trace;
  comm_.calls.clear();
  SendMessageW(comm, registered(kxmsg::hook_ffwm), 0, static_cast<LPARAM>(0x10));  // not a readable pointer
  EXPECT_TRUE(trace.has('E', "0 hk recievemsg oo")) << trace.dump();
  EXPECT_TRUE(comm_.calls.empty());
}

struct command_case_t {
  const char* name;
  LPARAM command;
  bool trained = false;
  bool passwordchange = false;
  const char* slot = nullptr;  // nullptr: nothing
};
class MenuCommand : public CommWindowTest, public ::testing::WithParamInterface<command_case_t> {};

TEST_P(MenuCommand, RunsItsAction) {
  const auto& c = GetParam();
  comm_.trained = c.trained;
  comm_.passwordchange = c.passwordchange;
  menu(0, c.command);
  if (c.slot) {
    EXPECT_EQ(comm_.calls, std::vector<std::string>{c.slot});
  } else {
    EXPECT_TRUE(comm_.calls.empty()) << comm_.calls.front();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MenuCommand,
    ::testing::Values(command_case_t{.name = "addprofile", .command = iconcmd_addprofile, .slot = "onaddprofile"},
                      command_case_t{.name = "editprofile", .command = iconcmd_editprofile, .slot = "oneditprofile"},
                      command_case_t{.name = "startFLM", .command = iconcmd_startFLM, .slot = "onstartFLM"},
                      command_case_t{.name = "product_runs_nothing", .command = iconcmd_product},
                      command_case_t{.name = "dontprompttrainG", .command = iconcmd_dontprompttrainG, .slot = "ondontprompttrainG"},
                      command_case_t{.name = "dontprompttrainL", .command = iconcmd_dontprompttrainL, .slot = "ondontprompttrainL"},
                      command_case_t{.name = "help", .command = iconcmd_help, .slot = "onhelp"},
                      command_case_t{.name = "iconsettings", .command = iconcmd_showiconsettings, .slot = "onshowiconsettings"},
                      command_case_t{.name = "requestfillin", .command = iconcmd_requestfillin, .slot = "onrequestfillin"},
                      command_case_t{.name = "dblclk_trained", .command = iconcmd_mousestate_dblclk, .trained = true, .passwordchange = true, .slot = "onrequestfillin"},
                      command_case_t{.name = "dblclk_passwordchange", .command = iconcmd_mousestate_dblclk, .passwordchange = true, .slot = "onstarttrainingpsw"},
                      command_case_t{.name = "dblclk_unknown_page", .command = iconcmd_mousestate_dblclk, .slot = "onstarttraining"},
                      command_case_t{.name = "starttrainingpsw", .command = iconcmd_starttrainingpsw, .slot = "onstarttrainingpsw"},
                      command_case_t{.name = "above_range", .command = iconcmd_starttrainingpsw + 1},
                      command_case_t{.name = "below_range", .command = iconcmd_addprofile - 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommWindowTest, DashboardCommandIsForwardedToTheAgent) {
  const std::size_t before = agent_got("WM_KX_AGENT_SPAWN_DASHBOARD").size();
  menu(0, iconcmd_spawndashboard);
  const auto got = agent_got("WM_KX_AGENT_SPAWN_DASHBOARD");
  ASSERT_EQ(got.size(), before + 1);
  EXPECT_EQ(got.back()["wparam"], id(browser_.hwnd()));
  EXPECT_EQ(got.back()["lparam"], 0);
}

TEST_F(CommWindowTest, MenuRequestAnswersTrainedAndTheStateWord) {
  comm_.trained = true;
  EXPECT_EQ(menu(1, 4), 1);
  comm_.trained = false;
  EXPECT_EQ(menu(1, 4), 0);
  comm_.switches.personalmode = true;
  comm_.passwordchange = true;
  EXPECT_EQ(menu(1, 3), static_cast<LRESULT>((7u & ~1u & ~2u) | 0x40 | 0x30));
  EXPECT_EQ(menu(1, 1), 0);
}

struct word_case_t {
  const char* name;
  bool trained = false;
  bool passwordchange = false;
  bool flag = false;
  menu_switches_t switches = {};
  std::uint32_t word;
};
class MenuStateWord : public ::testing::TestWithParam<word_case_t> {};

TEST_P(MenuStateWord, Case) {
  const auto& c = GetParam();
  EXPECT_EQ(menu_state_word(c.trained, c.passwordchange, c.flag, c.switches), c.word);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MenuStateWord,
    ::testing::Values(
        // No deployment switch on: base 0x83.
        word_case_t{.name = "trained_flag", .trained = true, .flag = true, .word = 0xB3},
        word_case_t{.name = "trained_noflag", .trained = true, .word = 0xB1},
        word_case_t{.name = "untrained_flag", .flag = true, .word = 0xB2},
        word_case_t{.name = "passwordchange_noflag", .passwordchange = true, .word = 0xF0},
        // Personal mode: base 7.
        word_case_t{.name = "personal_trained", .trained = true, .flag = true, .switches = {.personalmode = true}, .word = 0x37},
        word_case_t{.name = "personal_untrained", .switches = {.personalmode = true}, .word = 0x34},
        // Kiosk installed or single sign-on allowed alone: base 3.
        word_case_t{.name = "kiosk_installed", .trained = true, .flag = true, .switches = {.kioskinstalled = true}, .word = 0x33},
        word_case_t{.name = "sso_untrained", .flag = true, .switches = {.allow_sso = true}, .word = 0x32},
        // Kiosk logon or workgroup: base 0x83 again.
        word_case_t{.name = "kiosk_logon", .trained = true, .flag = true, .switches = {.kioskinstalled = true, .kiosklogon = true}, .word = 0xB3},
        word_case_t{.name = "workgroup", .passwordchange = true, .flag = true, .switches = {.deskwithworkgroup = true, .allow_sso = true}, .word = 0xF2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommWindowTest, CallGateSendsOneCallPerDocumentAndTheAgentAnswers) {
  registry_t registry;
  kxmessages::block_filldata_request_t ask;
  ask.callheader.targetwnd = ask.callheader.activewnd = static_cast<std::int32_t>(id(browser_.hwnd()));
  ask.manifestprofileID.manifestfilename = u"idv::login.kxm";
  ask.manifestprofileID.profileindex = 1;
  tracecore::testing::capture_t trace;
  ASSERT_TRUE(call_kxagent(registry, kxmessages::document_id_t(0xbeef), 3, ask));
  EXPECT_TRUE(trace.has('U', "'`I0B`'call_KXAgent for preparefillindata")) << trace.dump();
  EXPECT_EQ(ask.callheader.requestID, 0xbeef);
  const auto sent = agent_->log_of("block").back();
  EXPECT_EQ(sent["code"], 1);
  EXPECT_EQ(sent["decoded"]["callheader"]["requestID"], 0xbeef);

  // The demo vault's second profile comes back as the fill-in data.
  ASSERT_TRUE(wait_for("onsenddata"));
  EXPECT_EQ(comm_.senddata.requestID, 0xbeef);
  ASSERT_EQ(comm_.senddata.datatofillin.profileitems.size(), 2u);
  EXPECT_EQ(comm_.senddata.datatofillin.profileitems[0].value, u"second.user");

  // The document is busy until a handler clears its operation.
  const std::size_t blocks = agent_->log_of("block").size();
  EXPECT_FALSE(call_kxagent(registry, kxmessages::document_id_t(0xbeef), 1, ask));
  EXPECT_TRUE(trace.has('E', "0 busy preparefillindata")) << trace.dump();
  EXPECT_EQ(agent_->log_of("block").size(), blocks) << "a refused call sends nothing";
  EXPECT_FALSE(call_kxagent(registry, kxmessages::document_id_t(), 3, ask)) << "a document without identity";
  EXPECT_EQ(registry.table.size(), 1u);
}

// Two browser windows, each with its communication window, announced to one agent: each gets the
// answer to its own request, also the one announced first.
TEST_F(CommWindowTest, TwoBrowserWindowsEachGetTheAnswerToTheirOwnRequest) {
  browser_window_t second_browser;
  recording_comm_t second;
  ASSERT_TRUE(second.createwindow(second_browser.hwnd()));
  ASSERT_TRUE(kxagent::pump_until([&] { return second.called("onkxagentversion"); }, 10000));

  struct client_t {
    recording_comm_t& comm;
    HWND browser;
    std::uint32_t docid;
  };
  const client_t clients[] = {{comm_, browser_.hwnd(), 0x101}, {second, second_browser.hwnd(), 0x202}};
  registry_t registry;
  for (const client_t& c : clients) {
    kxmessages::block_filldata_request_t ask;
    ask.callheader.targetwnd = ask.callheader.activewnd = static_cast<std::int32_t>(id(c.browser));
    ask.manifestprofileID.manifestfilename = u"idv::login.kxm";
    ask.manifestprofileID.profileindex = 1;
    ASSERT_TRUE(call_kxagent(registry, kxmessages::document_id_t(c.docid), 3, ask));
  }
  EXPECT_TRUE(kxagent::pump_until([&] { return comm_.called("onsenddata") && second.called("onsenddata"); }, 10000));
  for (const client_t& c : clients) {
    EXPECT_EQ(std::count(c.comm.calls.begin(), c.comm.calls.end(), "onsenddata"), 1) << c.docid;
    EXPECT_EQ(c.comm.senddata.requestID, static_cast<std::int32_t>(c.docid));
  }
}

TEST_F(CommWindowTest, UnknownManifestIsAnsweredWithRequestAborted) {
  registry_t registry;
  kxmessages::block_filldata_request_t ask;
  ask.manifestprofileID.manifestfilename = u"vlt::unknown.kxm";
  ASSERT_TRUE(call_kxagent(registry, kxmessages::document_id_t(77), 3, ask));
  ASSERT_TRUE(wait_for("onrequestaborted"));
  EXPECT_EQ(comm_.aborted.requestID, 77);
}

TEST_F(CommWindowTest, RepliesToAGoneRequesterSendNothingAndResetTheContext) {
  tracecore::testing::capture_t trace;
  browser_window_t gone;
  const HWND gone_hwnd = gone.hwnd();
  DestroyWindow(gone_hwnd);
  kxmessages::fillin_reply_context_t fillin{id(browser_.hwnd()), id(gone_hwnd), 49, -1};
  EXPECT_FALSE(reply_fillin(fillin, true));
  EXPECT_EQ(fillin.result, 49);
  kxmessages::checklogon_reply_context_t check{id(browser_.hwnd()), id(gone_hwnd), 59};
  EXPECT_FALSE(reply_checklogon(check, true, true));
  EXPECT_EQ(check.result, 59);
  EXPECT_TRUE(trace.contains('U', "'`I0E`'checklogonrequest: reply window [")) << trace.dump();
  EXPECT_TRUE(trace.contains('U', "] does not exist.")) << trace.dump();
}

TEST_F(CommWindowTest, ExceptionsInHandlersAreCaughtByTheWindowProcedure) {
  tracecore::testing::capture_t trace;
  comm_.throw_in_starttraining = [] { throw std::runtime_error("boom"); };
  EXPECT_EQ(SendMessageW(comm_.comm_window(), registered(kxmsg::actionrequest_frhook), 0, 4), 0);
  EXPECT_TRUE(trace.has('E', "0 --1-- ff::wndproc: boom")) << trace.dump();
  comm_.throw_in_starttraining = [] { throw errors::com_error(static_cast<std::int32_t>(E_FAIL)); };
  SendMessageW(comm_.comm_window(), registered(kxmsg::actionrequest_frhook), 0, 4);
  EXPECT_TRUE(trace.contains('E', "--2-- ff::wndproc")) << trace.dump();
  comm_.throw_in_starttraining = [] { throw 7; };
  SendMessageW(comm_.comm_window(), registered(kxmsg::actionrequest_frhook), 0, 4);
  EXPECT_TRUE(trace.has('E', "0 --3-- ff::wndproc")) << trace.dump();
}

TEST_F(CommWindowTest, DestroyWithoutTheObjectPropertyIsTracedAndStillDestroys) {
  tracecore::testing::capture_t trace;
  HWND comm = comm_.comm_window();
  RemovePropW(comm, L"KXMAX_This");
  DestroyWindow(comm);
  EXPECT_FALSE(IsWindow(comm));
  EXPECT_TRUE(trace.has('E', "0 was not fbv")) << trace.dump();
}

TEST_F(CommWindowTest, AStoredManifestIsFollowedByCacheUpdated) {
  EXPECT_TRUE(ffipc::send_text(agent_->window(), registered(kxmsg::agent_manifest), "idv::fresh.kxm",
                               "<?xml version=\"1.0\"?><manifest/>"));
  ASSERT_TRUE(wait_for("oncacheupdated"));
}

TEST_F(CommWindowTest, SpawnRequestsReachTheAgent) {
  const std::size_t texts = agent_->log_of("text").size();
  EXPECT_TRUE(spawn_flm("enroll", -12));
  const auto text = agent_->log_of("text");
  ASSERT_EQ(text.size(), texts + 1);
  EXPECT_EQ(text.back()["message"], "WM_KX_AGENT_SPAWN_FLM");
  EXPECT_EQ(text.back()["name"], "enroll");
  EXPECT_EQ(text.back()["text"], "-12");
  EXPECT_TRUE(spawn_help(3, 4));
  const auto help = agent_got("WM_KX_AGENT_SPAWN_HELP");
  ASSERT_FALSE(help.empty());
  EXPECT_EQ(help.back()["wparam"], 3);
  EXPECT_EQ(help.back()["lparam"], 4);
}

TEST_F(CommWindowTest, FingersAndAvatar) {
  EXPECT_TRUE(agent_has_fingers());
  EXPECT_FALSE(agent_got("WM_KX_AGENT_HASFINGERS").empty());
  tracecore::testing::capture_t trace;
  EXPECT_FALSE(gavatar_activation(true, 5));
  EXPECT_TRUE(trace.contains('U', "GAvatar not running") || trace.contains('U', "NoGAvatar")) << trace.dump();
}

// The suite's global avatar window, made on this thread so that SendMessageW reaches it directly.
struct avatar_window_t {
  static inline WPARAM wparam = 0;
  static inline LPARAM lparam = 0;
  static inline UINT message = 0;
  HWND hwnd = nullptr;
  // A window procedure is CALLBACK (__stdcall on 32-bit), which a lambda's function pointer is not.
  static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == registered(kxmsg::agent_gavatar_activation)) {
      message = m;
      wparam = w;
      lparam = l;
      return 0;
    }
    return DefWindowProcW(h, m, w, l);
  }
  avatar_window_t() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KX_GlobalAvatarClass";
    RegisterClassExW(&wc);
    hwnd = CreateWindowExW(0, L"KX_GlobalAvatarClass", L"KX_GlobalAvatar", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }
  ~avatar_window_t() { DestroyWindow(hwnd); }
};

TEST_F(CommWindowTest, AvatarActivationFindsTheAvatarWindow) {
  avatar_window_t avatar;
  ASSERT_TRUE(avatar.hwnd);
  EXPECT_TRUE(gavatar_activation(true, 77));
  EXPECT_EQ(avatar_window_t::wparam, 0x10001u);
  EXPECT_EQ(avatar_window_t::lparam, 77);
  EXPECT_TRUE(gavatar_activation(false, 5));
  EXPECT_EQ(avatar_window_t::wparam, 1u);
}

struct alien_case_t {
  const char* name;
  std::uint32_t categories;
  UINT message;
  bool traced;
};
class AlienMessages : public CommWindowTest, public ::testing::WithParamInterface<alien_case_t> {};

TEST_P(AlienMessages, AreTracedByCategory) {
  const auto& c = GetParam();
  tracecore::testing::capture_t trace(c.categories);
  SendMessageW(comm_.comm_window(), c.message, 0, 0);
  EXPECT_EQ(trace.has('>', "agntproc"), c.traced) << trace.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AlienMessages,
    ::testing::Values(alien_case_t{"all_user_message", tracecore::cat_alien_messages, WM_USER + 5, true},
                      alien_case_t{"all_nchittest", tracecore::cat_alien_messages, WM_NCHITTEST, true},
                      alien_case_t{"quiet_user_message", tracecore::cat_alien_messages_quiet, WM_USER + 5, true},
                      alien_case_t{"quiet_nchittest", tracecore::cat_alien_messages_quiet, WM_NCHITTEST, false},
                      alien_case_t{"quiet_setcursor", tracecore::cat_alien_messages_quiet, WM_SETCURSOR, false},
                      alien_case_t{"off", 0, WM_USER + 5, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommWindowTest, AWindowOfTheClassWithoutAnObjectIsHarmless) {
  tracecore::testing::capture_t trace;
  // The class is registered by the fixture's window; this one has no object behind it.
  HWND stray = CreateWindowExW(WS_EX_TOOLWINDOW, L"KX_LocalAgentFF", nullptr, WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!stray) {
    // The class belongs to the module that registered it; a test executable is that module.
    GTEST_SKIP() << "class not reachable from here";
  }
  EXPECT_EQ(SendMessageW(stray, registered(kxmsg::actionrequest_frhook), 0, 4), 0);
  EXPECT_TRUE(comm_.calls.empty());
  DestroyWindow(stray);
  EXPECT_TRUE(trace.has('E', "0 was not fbv")) << trace.dump();
}

// After the agent has gone: the suite above ended it.
TEST(CommWindowWithoutAgent, CreationIsRefusedAndTheGateKeepsNothing) {
  ASSERT_EQ(FindWindowExW(nullptr, nullptr, L"Kestrix Desk Agent", L"Kestrix Desk Agent"), nullptr);
  browser_window_t browser;
  recording_comm_t comm;
  try {
    comm.createwindow(browser.hwnd());
    ADD_FAILURE() << "no exception";
  } catch (const errors::com_error& e) {
    EXPECT_EQ(e.Error(), static_cast<std::int32_t>(E_UNEXPECTED));
  }
  EXPECT_EQ(comm.comm_window(), nullptr);
  registry_t registry;
  kxmessages::block_domain_manifests_t m;
  tracecore::testing::capture_t trace;
  EXPECT_FALSE(call_kxagent(registry, kxmessages::document_id_t(5), 4, m)) << "nothing can answer a call that never went out";
  EXPECT_EQ(registry.table.count(5), 0u) << "the document is not left busy";
  EXPECT_TRUE(trace.has('E', "0 '`I04`'call_KXAgent: changepassword did not reach the agent")) << trace.dump();
  EXPECT_TRUE(agent_has_fingers()) << "no agent: assume fingers";
}

// A window of another thread that stops handling its messages, as a hung process's would.
class hung_window_t {
 public:
  hung_window_t(const wchar_t* cls, const wchar_t* title) {
    thread_ = std::thread([this, cls, title] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = cls;
      RegisterClassExW(&wc);  // may exist already: the window belongs to this thread all the same
      hwnd_ = CreateWindowExW(0, cls, title, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
      SetEvent(made_.get());
      WaitForSingleObject(release_.get(), INFINITE);
      DestroyWindow(hwnd_);
    });
    WaitForSingleObject(made_.get(), 10000);
  }
  ~hung_window_t() {
    SetEvent(release_.get());
    thread_.join();
  }
  HWND hwnd() const { return hwnd_; }

 private:
  tracecore::unique_handle made_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  tracecore::unique_handle release_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HWND hwnd_ = nullptr;
  std::thread thread_;
};

struct hung_case_t {
  const char* name;
  const wchar_t* cls;
  const wchar_t* title;
  bool (*call)();
  bool answer;  // what the call gives without an answer
};

class HungWindow : public ::testing::TestWithParam<hung_case_t> {};

// Messages sent to the agent's or the avatar's window wait at most the window-message limit.
TEST_P(HungWindow, IsNotWaitedForBeyondTheLimit) {
  const hung_case_t& c = GetParam();
  ffipc::set_wait_limits({ffipc::kMutexLimitMs, ffipc::kAcknowledgementLimitMs, 300});
  {
    hung_window_t window(c.cls, c.title);
    ASSERT_TRUE(window.hwnd());
    tracecore::testing::capture_t trace;
    EXPECT_EQ(c.call(), c.answer);
    EXPECT_TRUE(trace.contains('E', "within 300 ms")) << trace.dump();
  }
  ffipc::set_wait_limits(ffipc::default_wait_limits);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, HungWindow,
    ::testing::Values(hung_case_t{"agent_fingers", L"Kestrix Desk Agent", L"Kestrix Desk Agent",
                                  [] { return agent_has_fingers(); }, true},
                      hung_case_t{"avatar_activation", L"KX_GlobalAvatarClass", L"KX_GlobalAvatar",
                                  [] { return gavatar_activation(true, 5); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ffagent_window
