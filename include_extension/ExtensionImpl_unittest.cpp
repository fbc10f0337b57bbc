// The component on the logon road with the agent stand-in as a second process: recognition through
// the agent's lookup cache, the fill-in round trip down to the page's submit, the call gate, aborted
// requests, notices for other documents, the agent's version gate and unload.
#include "include_extension/ExtensionImpl.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "agentcomm/AgentMessages.h"
#include "include_extension/Utils.h"
#include "environment/Paths.h"
#include "manifest/ManifestReader.h"
#include "peers/agent/AgentDriver.h"
#include "peers/browser/ComponentHost.h"
#include "peers/dom/SnapshotDom.h"
#include "tests/support/WineTestSupport.h"
#include "tracecore/testing.h"
#include "tracecore/utf.h"

namespace {

namespace fs = std::filesystem;
using ffagent_window::feedback_window_t;
using serialization::CMemoryObjectEx;
using snapdom::page_t;

std::string source_dir() {
  const char* root = std::getenv("KX_SOURCE_DIR");
  return root ? root : ".";
}

std::unique_ptr<page_t> fixture(const std::string& name) {
  return page_t::load_file(source_dir() + "/tests/pages/" + name + ".json");
}

std::unique_ptr<ffagent_window::feedback_i> quiet_feedback() { return std::make_unique<feedback_window_t>(); }

// The component made the way the module makes it, with the quiet feedback stand-in.
struct component_ref_t {
  component_ref_t() {
    void* raw = nullptr;
    EXPECT_EQ(NS_OK, CreateKXAgentClient(nullptr, NS_GET_IID(IKXAgentClient), &raw, &quiet_feedback));
    client = nsCOMPtr<IKXAgentClient>::adopt(static_cast<IKXAgentClient*>(raw));
  }
  CExtensionImpl* operator->() const { return static_cast<CExtensionImpl*>(client.get()); }
  nsCOMPtr<IKXAgentClient> client;
};

class LogonRoad : public ::testing::Test {
 protected:
  // The agent with the sign-in page's manifest in its store, under each of |names|.
  void start_agent(std::optional<std::uint32_t> version = std::nullopt, bool vault = true,
                   std::vector<std::string> names = {"login.kxm"}) {
    dir_ = std::make_unique<kxtest::scratch_dir_t>(L"logonroad");
    auto options = kxagent::options_in(dir_->path());
    fs::create_directories(fs::path(options.store));
    for (const std::string& name : names)
      fs::copy_file(fs::path(source_dir() + "/tests/pages/fill/login.kxm"), fs::path(options.store) / name);
    options.version = version;
    if (!vault) options.vault = dir_->path() + L"\\no_vault.json";
    agent_ = std::make_unique<kxagent::agent_process_t>(options);
    ASSERT_TRUE(agent_->running());
  }

  // Initialize, and wait for the agent's version announcement.
  void initialize() {
    ASSERT_EQ(NS_OK, component_.client->Initialize(nullptr));
    ASSERT_TRUE(IsWindow(component_->comm_window()));
    ASSERT_TRUE(kxagent::pump_until([&] { return delivered("NOTICE::kxaversion") > 0; }, 10000));
    kxagent::pump_until([] { return false; }, 100);
  }

  void activate(page_t& page) {
    ASSERT_EQ(NS_OK, component_.client->OnLoad(browser(), page.document(), nullptr));
    ASSERT_EQ(NS_OK, component_.client->OnActivate(browser(), page.document(), nullptr));
  }

  // A fixture page, loaded and activated.
  std::unique_ptr<page_t> open(const std::string& name) {
    auto page = fixture(name);
    activate(*page);
    return page;
  }

  nsISupports* browser() const { return chrome_->element_by_id("content"); }
  feedback_window_t& quiet() const { return static_cast<feedback_window_t&>(component_->feedback()); }

  int delivered(const std::string& notice) const {
    int n = 0;
    for (const auto& e : agent_->log_of("delivered")) n += e.value("notice", "") == notice;
    return n;
  }
  // The results the agent passed on to the requester of "dofillin", in order.
  std::vector<int> fillin_replies() const {
    std::vector<int> out;
    for (const auto& e : agent_->log_of("forward"))
      if (e.value("message", "") == "WM_KX_FBVIEW_FILLINREPLY") out.push_back(e.value("lparam", 0));
    return out;
  }
  int blocks(int code) const {
    int n = 0;
    for (const auto& e : agent_->log_of("block")) n += e.value("code", 0) == code;
    return n;
  }

  static bool submitted(const page_t& page) {
    for (const auto& e : page.events())
      if (e.type == "submit") return true;
    return false;
  }
  static std::vector<std::string> values(const page_t& page) {
    std::vector<std::string> out;
    for (const auto& e : page.events())
      if (e.type == "value") out.push_back(e.target + "=" + e.detail);
    return out;
  }

  kxmessages::fillin_reply_context_t reply_to_agent() const {
    kxmessages::fillin_reply_context_t r;
    r.browser_window = reinterpret_cast<kxmessages::window_id>(windows_.top());
    r.reply_window = reinterpret_cast<kxmessages::window_id>(agent_->window());
    return r;
  }

  template <class M>
  void send_notice(const M& message) {
    CMemoryObjectEx block;
    kxmessages::encode(message, block);
    agent_->notice(component_->comm_window(), M::code, block);
  }

  void TearDown() override {
    if (component_.client) component_.client->Uninitialize(nullptr);
  }

  kxbrowser::browser_windows_t windows_;
  std::unique_ptr<page_t> chrome_ =
      page_t::from_html("<window><browser id='content' type='content'></browser></window>", "chrome://browser/content/browser.xul");
  std::unique_ptr<kxtest::scratch_dir_t> dir_;
  std::unique_ptr<kxagent::agent_process_t> agent_;
  component_ref_t component_;
};

TEST_F(LogonRoad, FillInReachesTheControlsAndSubmitsTheForm) {
  tracecore::testing::capture_t trace;
  start_agent();
  initialize();
  ASSERT_TRUE(component_->agent_ready());
  auto page = open("login");
  EXPECT_NE("", GetDocAttr(page->document(), kxext::kDocIdAttr));
  EXPECT_TRUE(component_->thepage_is_trained()) << trace.dump();
  EXPECT_TRUE(trace.has('U', "Recognized 1 form(s)")) << trace.dump();
  auto& feedback = quiet();
  EXPECT_TRUE(feedback.shown());
  EXPECT_EQ(0, feedback.mode());
  EXPECT_EQ(L"northwind.example", feedback.domain());
  EXPECT_FALSE(IsRectEmpty(&feedback.attach_rect())) << "the icon points at the password field";

  agent_->action(component_->comm_window(), kxmessages::op_dofillin);
  ASSERT_TRUE(kxagent::pump_until([&] { return submitted(*page); }, 10000)) << trace.dump();
  EXPECT_EQ((std::vector<std::string>{"input#username=demo.user", "input#password=demo-password-1"}), values(*page));
  EXPECT_EQ((std::vector<int>{50}), fillin_replies());
  EXPECT_EQ(0u, component_->request_table().size()) << "the answered request is gone";
}

TEST_F(LogonRoad, BusyGateRefusesASecondCallWhileTheFirstIsPending) {
  tracecore::testing::capture_t trace;
  start_agent();
  initialize();
  auto page = open("login");
  // The agent's answer waits in this thread's queue until messages are pumped again.
  auto first = reply_to_agent(), second = reply_to_agent();
  component_->onfillin(first);
  component_->onfillin(second);
  EXPECT_TRUE(trace.has('E', "0 busy preparefillindata")) << trace.dump();
  EXPECT_EQ(1, blocks(kxmessages::block_filldata_request)) << "the second call sent nothing";
  ASSERT_TRUE(kxagent::pump_until([&] { return submitted(*page); }, 10000));
  EXPECT_EQ((std::vector<int>{50, 51}), fillin_replies());

  // Answered: the page is free again.
  auto third = reply_to_agent();
  component_->onfillin(third);
  EXPECT_EQ(2, blocks(kxmessages::block_filldata_request));
}

TEST_F(LogonRoad, AbortedRequestFreesTheDocument) {
  tracecore::testing::capture_t trace;
  start_agent(std::nullopt, /*vault=*/false);  // no profile: the agent aborts every fill-in
  initialize();
  auto page = open("login");
  auto reply = reply_to_agent();
  component_->onfillin(reply);
  EXPECT_EQ(1u, component_->request_table().size());
  ASSERT_TRUE(kxagent::pump_until([&] { return delivered("NOTICE::requestaborted") > 0; }, 10000));
  kxagent::pump_until([&] { return component_->request_table().size() == 0; }, 2000);
  EXPECT_EQ(0u, component_->request_table().size());
  EXPECT_TRUE(trace.contains('U', "v_.requestID = ")) << trace.dump();
  auto again = reply_to_agent();
  component_->onfillin(again);
  EXPECT_FALSE(trace.has('E', "0 busy preparefillindata")) << trace.dump();
  EXPECT_FALSE(submitted(*page));
}

TEST_F(LogonRoad, NoticeForAnotherDocumentIsRefused) {
  tracecore::testing::capture_t trace;
  start_agent();
  initialize();
  auto page = open("login");
  const kxext::document_id_t id = kxext::get_assoc(page->document(), false);
  kxmessages::notice_senddata_t data;
  data.requestID = id.request_id() + 1;
  data.datatofillin.submitprofile = 1;
  data.datatofillin.profileitems.push_back({0, 0, u"User", u"intruder", "{c5374dca-d084-4cfd-a892-fe98160e5e19}", -1});
  send_notice(data);
  ASSERT_TRUE(kxagent::pump_until([&] { return delivered("NOTICE::senddata") > 0; }, 10000));
  kxagent::pump_until([] { return false; }, 200);
  EXPECT_TRUE(trace.has('U', "'`I04`'This is different document.")) << trace.dump();
  EXPECT_TRUE(values(*page).empty());
  EXPECT_FALSE(submitted(*page));
}

TEST_F(LogonRoad, OldAgentVersionGatesEveryMethodUntilANewerOne) {
  tracecore::testing::capture_t trace;
  start_agent(0x03140917u);
  initialize();
  EXPECT_FALSE(component_->agent_ready());
  EXPECT_TRUE(trace.has('E', "0 '`I04`'Invalid version. current version = 3140918, agent version = 3140917"))
      << trace.dump();
  EXPECT_EQ(0x03140917, CExtensionImpl::last_known_version()) << "kept for get_lastknownversion, refused or not";
  auto page = open("login");
  EXPECT_EQ("", GetDocAttr(page->document(), kxext::kDocIdAttr)) << "activation did nothing";
  nsString out(u"untouched");
  PRBool found = 7;
  component_.client->OnProfileLink(browser(), page->document(), nsString(u"https://a.example/?kxprofileid=3"), out, &found);
  EXPECT_EQ(7, found);
  EXPECT_EQ(u"untouched", out.view());
  EXPECT_TRUE(trace.has('U', "'`I04`'Invalid KXAgent")) << trace.dump();

  kxmessages::notice_kxaversion_t newer;
  newer.version = 0x03140918;
  send_notice(newer);
  ASSERT_TRUE(kxagent::pump_until([&] { return component_->agent_ready(); }, 10000));
  EXPECT_EQ(0x03140918, CExtensionImpl::last_known_version());
  activate(*page);
  EXPECT_NE("", GetDocAttr(page->document(), kxext::kDocIdAttr));
  EXPECT_TRUE(component_->thepage_is_trained());
}

TEST_F(LogonRoad, UnloadDropsThePageStateAndThePendingRequest) {
  tracecore::testing::capture_t trace;
  start_agent();
  initialize();
  auto page = open("login");
  auto reply = reply_to_agent();
  component_->onfillin(reply);
  ASSERT_EQ(1u, component_->request_table().size());
  ASSERT_EQ(1u, component_->page_states().size());
  ASSERT_EQ(NS_OK, component_.client->OnUnload(browser(), page->document(), nullptr));
  EXPECT_EQ(0u, component_->request_table().size());
  EXPECT_EQ(0u, component_->page_states().size());
  EXPECT_EQ("", GetDocAttr(page->document(), kxext::kDocIdAttr));
  // The late answer finds nothing to fill.
  ASSERT_TRUE(kxagent::pump_until([&] { return delivered("NOTICE::senddata") > 0; }, 10000));
  kxagent::pump_until([] { return false; }, 200);
  EXPECT_FALSE(submitted(*page));
}

TEST_F(LogonRoad, TrainingAnUnknownPageMakesItRecognised) {
  tracecore::testing::capture_t trace;
  start_agent();
  initialize();
  auto page = open("two_submits");
  EXPECT_FALSE(component_->thepage_is_trained());
  auto& feedback = quiet();
  EXPECT_EQ(1, feedback.mode()) << "the training prompt";
  agent_->action(component_->comm_window(), kxmessages::op_starttraining);
  ASSERT_TRUE(kxagent::pump_until([&] { return component_->thepage_is_trained(); }, 10000)) << trace.dump();
  EXPECT_EQ(1, blocks(kxmessages::block_newmanifest));
  EXPECT_EQ(0, feedback.mode());
}

TEST_F(LogonRoad, HighlightSendsTheVisiblePartOfTheField) {
  tracecore::testing::capture_t trace;
  start_agent();
  initialize();
  auto page = open("login");
  auto reply = reply_to_agent();
  component_->onfillin(reply);  // the request stays pending until messages are pumped
  Manifest m;
  ASSERT_TRUE(loadM_properly(tracecore::to_utf16(source_dir() + "/tests/pages/fill/login.kxm"), m));
  std::int32_t password = -1;
  for (const ManifestField& f : m.forms[0].fields)
    if (f.password) password = f.fieldId;
  kxmessages::notice_highlight_t n;
  n.requestID = kxext::get_assoc(page->document(), false).request_id();
  n.accID = password;
  n.highlightagent = 7;
  component_->onhighlight(n);
  ASSERT_EQ(1, blocks(kxmessages::block_highlight)) << trace.dump();
  const auto sent = agent_->log_of("block").back()["decoded"];
  EXPECT_EQ(7, sent["highlightagent"]);
  const auto rect = sent["accIDrect"];
  EXPECT_LT(rect[0].get<int>(), rect[2].get<int>());
  EXPECT_LT(rect[1].get<int>(), rect[3].get<int>());

  // Scrolled out of the content: nothing to show.
  page_t::set_rect(page->element_by_id("password"), 10, 5000, 300, 5020);
  component_->onhighlight(n);
  EXPECT_EQ(1, blocks(kxmessages::block_highlight));
  // No such field in the pending manifest.
  n.accID = 999;
  component_->onhighlight(n);
  EXPECT_TRUE(trace.has('E', "0 field not found by accid")) << trace.dump();
}

TEST_F(LogonRoad, TwoRecognisedFormsLetTheUserChoose) {
  tracecore::testing::capture_t trace;
  start_agent(std::nullopt, true, {"login.kxm", "login-copy.kxm"});
  initialize();
  auto page = open("login");
  auto& feedback = quiet();
  feedback.form_choice = 1;
  auto reply = reply_to_agent();
  component_->onfillin(reply);
  ASSERT_EQ(2u, feedback.choices().size()) << trace.dump();
  const std::wstring chosen = feedback.choices()[1];
  const auto asked = agent_->log_of("block").back();
  ASSERT_EQ(1, asked.value("code", 0));
  const std::string file = asked["decoded"]["manifestprofileID"]["manifestfilename"];
  EXPECT_NE(std::string::npos, file.find(tracecore::to_utf8(chosen))) << file;

  // Cancelled: no request, no reply.
  feedback.form_choice = -1;
  kxagent::pump_until([&] { return submitted(*page); }, 10000);
  const int before = blocks(kxmessages::block_filldata_request);
  auto cancelled = reply_to_agent();
  component_->onfillin(cancelled);
  EXPECT_EQ(before, blocks(kxmessages::block_filldata_request));
}

// The settings library stand-in keeps the suite's settings under HKCU\Software\Kestrix\Settings.
std::wstring setting(const wchar_t* name) {
  wchar_t value[64] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Kestrix\\Settings", name, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS)
    return L"(none)";
  return value;
}
void clear_setting(const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Kestrix\\Settings", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, name);
    RegCloseKey(key);
  }
}

TEST_F(LogonRoad, TrainingPromptSwitchesOffForAllPagesOrForOne) {
  clear_setting(L"show_training_prompt");
  start_agent();
  initialize();
  auto page = fixture("two_submits");
  auto& feedback = quiet();

  // The icon settings dialog closed with "show": nothing changes.
  activate(*page);
  ASSERT_TRUE(feedback.shown());
  feedback.icon_choice = 0;
  component_->onshowiconsettings();
  EXPECT_EQ(L"(none)", setting(L"show_training_prompt"));
  activate(*page);
  EXPECT_TRUE(feedback.shown());

  // "Not for this page": the URL is left out while the browser runs.
  feedback.icon_choice = 1;
  component_->onshowiconsettings();
  EXPECT_FALSE(feedback.shown());
  activate(*page);
  EXPECT_FALSE(feedback.shown()) << "a suppressed URL";

  // "Never": the setting is written off as "-1".
  auto other = open("table_labels");
  ASSERT_TRUE(feedback.shown());
  component_->ondontprompttrainG();
  EXPECT_EQ(L"-1", setting(L"show_training_prompt"));
  activate(*other);
  EXPECT_FALSE(feedback.shown());
  // A recognised page still shows its icon.
  auto login = open("login");
  EXPECT_TRUE(feedback.shown());
  EXPECT_EQ(0, feedback.mode());
  clear_setting(L"show_training_prompt");
}

void set_setting(const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Kestrix\\Settings", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
}

TEST_F(LogonRoad, QuickLinkOpensTheSiteAndFillsInItsProfile) {
  tracecore::testing::capture_t trace;
  start_agent();
  // Quick link 2: the sign-in page with the vault's second profile; its manifest among the user's
  // templates.
  const fs::path templates(kxpaths::user_templates_directory());
  fs::create_directories(templates);
  fs::copy_file(fs::path(source_dir() + "/tests/pages/fill/login.kxm"), templates / "login.kxm",
                fs::copy_options::overwrite_existing);
  const std::wstring store = dir_->path() + L"\\quicklinks.txt";
  std::ofstream(fs::path(store), std::ios::binary)
      << "[shortcutrecord]\r\nname=Northwind Mail\r\nurl=https://mail.northwind.example/login\r\n"
         "manifest=idv::login.kxm\r\nprofile=1\r\n";
  set_setting(L"quicklink_filename", store);
  initialize();

  nsString link;
  component_.client->QuickLinkToProfileLink(nsString(u"kxql://open/#id=2"), link);
  EXPECT_EQ(u"https://mail.northwind.example/login?kxprofileid=1", link.view()) << trace.dump();
  nsString missing;
  component_.client->QuickLinkToProfileLink(nsString(u"kxql://open/#id=3"), missing);
  EXPECT_EQ(u"", missing.view());
  EXPECT_TRUE(trace.has('E', "0 Failed to convert QL # = 3")) << trace.dump();

  nsString target;
  PRBool found = PR_FALSE;
  auto page = fixture("login");
  component_.client->OnProfileLink(browser(), page->document(), link, target, &found);
  EXPECT_TRUE(found);
  EXPECT_EQ(u"https://mail.northwind.example/login", target.view());
  nsCOMPtr<nsIDOMElement> tab = do_QueryInterface(browser());
  nsString kept;
  tab->GetAttribute(nsString(u"kxffagent_profileid"), kept);
  EXPECT_EQ(u"1", kept.view());

  // The tab shows another site first: the profile is bound to the quick link's host, so it is gone.
  auto other = open("two_submits");
  bool present = true;
  tab->HasAttribute(nsString(u"kxffagent_profileid"), &present);
  EXPECT_FALSE(present);
  activate(*page);
  kxagent::pump_until([] { return false; }, 300);
  EXPECT_TRUE(values(*page).empty()) << "a profile dropped by the navigation fills nothing";

  // The quick link again: the sign-in page takes the profile and is filled in with it.
  component_.client->QuickLinkToProfileLink(nsString(u"kxql://open/#id=2"), link);
  component_.client->OnProfileLink(browser(), page->document(), link, target, &found);
  auto fresh = fixture("login");
  activate(*fresh);
  tab->HasAttribute(nsString(u"kxffagent_profileid"), &present);
  EXPECT_FALSE(present);
  ASSERT_TRUE(kxagent::pump_until([&] { return submitted(*fresh); }, 10000)) << trace.dump();
  EXPECT_EQ((std::vector<std::string>{"input#username=second.user", "input#password=demo-password-2"}), values(*fresh));
  EXPECT_EQ(1, agent_->log_of("block").back()["decoded"]["manifestprofileID"]["profileindex"].get<int>());

  // A page's own "?kxprofileid=" (a link the component never produced): the parameter goes, no
  // profile is kept, and the page is not filled without being asked.
  const int asked = blocks(1);
  component_.client->OnProfileLink(browser(), page->document(),
                                   nsString(u"https://mail.northwind.example/login?kxprofileid=1"), target, &found);
  EXPECT_TRUE(found);
  EXPECT_EQ(u"https://mail.northwind.example/login", target.view());
  tab->HasAttribute(nsString(u"kxffagent_profileid"), &present);
  EXPECT_FALSE(present);
  auto lured = fixture("login");
  activate(*lured);
  kxagent::pump_until([] { return false; }, 300);
  EXPECT_EQ(asked, blocks(1)) << "no fill-in data was asked for";
  EXPECT_TRUE(values(*lured).empty());
  clear_setting(L"quicklink_filename");
}

TEST_F(LogonRoad, AnswerForAnotherDocumentWithTheSameIdFillsNothing) {
  tracecore::testing::capture_t trace;
  start_agent();
  initialize();
  auto page = open("login");
  const std::string id = GetDocAttr(page->document(), kxext::kDocIdAttr);
  // The agent's answer is held back; meanwhile another document with the same names, which copied
  // the first one's "kxffagent_docid", becomes active.
  agent_->hold_deliveries(true);
  component_->onrequestfillin();
  ASSERT_TRUE(kxagent::pump_until([&] { return blocks(1) > 0; }, 10000)) << trace.dump();
  auto forger = fixture("login");
  SetDocAttr(forger->document(), kxext::kDocIdAttr, id);
  activate(*forger);
  agent_->hold_deliveries(false);
  ASSERT_TRUE(kxagent::pump_until([&] { return delivered("NOTICE::senddata") > 0; }, 10000)) << trace.dump();
  kxagent::pump_until([] { return false; }, 300);
  EXPECT_TRUE(trace.has('U', "'`I04`'fill refused: not the document of the request")) << trace.dump();
  EXPECT_TRUE(values(*forger).empty());
  EXPECT_TRUE(values(*page).empty());
}

TEST_F(LogonRoad, CallThatNeverReachedTheAgentLeavesThePageFree) {
  tracecore::testing::capture_t trace;
  start_agent();
  initialize();
  auto page = open("login");
  auto reply = reply_to_agent();
  agent_.reset();  // the agent quits
  component_->onfillin(reply);
  // Without the agent its lookup cache is gone too: the page is unknown now, and training is tried.
  EXPECT_TRUE(trace.has('E', "0 '`I04`'call_KXAgent: createmani did not reach the agent")) << trace.dump();
  EXPECT_EQ(0u, component_->request_table().size());
}

}  // namespace
