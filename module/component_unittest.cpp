// The component library as the browser loads it: module record, creation, the interface methods'
// guards and gate, and the trace exports. Runs under Wine; tracing goes to a scratch folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "peers/browser/ComponentHost.h"
#include "peers/dom/SnapshotDom.h"
#include "tests/support/WineTestSupport.h"
#include "xpcom/nsStringAPI.h"

namespace {

using kxbrowser::component_host_t;

class ComponentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registry_ = new kxtest::tracing_registry_t();
    dir_ = new kxtest::scratch_dir_t(L"component");
    registry_->trace_to(dir_->path());
    host_ = new component_host_t(L"MozillaKXAgentClient.dll");
  }
  static void TearDownTestSuite() {
    delete host_;  // unloads the library: its trace file closes
    delete dir_;
    delete registry_;
  }

  void SetUp() override {
    ASSERT_TRUE(host_->loaded()) << host_->error();
    page_ = snapdom::page_t::from_html("<form id='f'><input id='user' type='text'><input type='password'></form>",
                                       "https://login.example.test/signin?session=1");
    chrome_ = snapdom::page_t::from_html("<browser id='content'></browser>", "chrome://browser/content/browser.xul");
    start_ = trace_records().size();
  }

  // Records written since the test started (date and time records left out).
  static std::vector<tracecore::decoded_record_t> trace_records() {
    const auto files = dir_->files(L"*.trc3");
    if (files.empty()) return {};
    auto file = kxtest::read_trace(files[0]);
    EXPECT_EQ(file.stop, "");
    return kxtest::content_records(file);
  }
  std::vector<tracecore::decoded_record_t> new_records() const {
    auto all = trace_records();
    return std::vector<tracecore::decoded_record_t>(all.begin() + std::min(start_, all.size()), all.end());
  }
  bool traced(char kind, const std::string& text) const {
    for (const auto& r : new_records())
      if (r.kind == kind && r.text == text) return true;
    return false;
  }
  bool traced_prefix(char kind, const std::string& prefix) const {
    for (const auto& r : new_records())
      if (r.kind == kind && r.text.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
  std::string dump() const {
    std::string out;
    for (const auto& r : new_records()) out += std::string(1, r.kind) + " " + r.text + "\n";
    return out;
  }

  nsCOMPtr<IKXAgentClient> create() const {
    nsCOMPtr<IKXAgentClient> client;
    EXPECT_EQ(host_->create(client), NS_OK);
    return client;
  }

  nsISupports* browser() const { return chrome_->element_by_id("content"); }
  nsISupports* document() const { return page_->document(); }

  static kxtest::tracing_registry_t* registry_;
  static kxtest::scratch_dir_t* dir_;
  static component_host_t* host_;
  std::unique_ptr<snapdom::page_t> page_, chrome_;
  size_t start_ = 0;
};

kxtest::tracing_registry_t* ComponentTest::registry_ = nullptr;
kxtest::scratch_dir_t* ComponentTest::dir_ = nullptr;
component_host_t* ComponentTest::host_ = nullptr;

TEST_F(ComponentTest, ModuleRecordNamesOneClassOneContractOneCategory) {
  const mozilla::Module* m = host_->module();
  EXPECT_EQ(m->mVersion, 20u);
  ASSERT_NE(m->mCIDs[0].cid, nullptr);
  EXPECT_FALSE(m->mCIDs[0].service);
  EXPECT_NE(m->mCIDs[0].constructorProc, nullptr);
  EXPECT_EQ(m->mCIDs[1].cid, nullptr);
  const std::string contract = m->mContractIDs[0].contractid;
  EXPECT_EQ(contract.front(), '@');
  EXPECT_NE(contract.find("/kxagentclient;20.0"), std::string::npos);
  EXPECT_TRUE(m->mContractIDs[0].cid->Equals(*m->mCIDs[0].cid));
  EXPECT_EQ(m->mContractIDs[1].contractid, nullptr);
  EXPECT_STREQ(m->mCategoryEntries[0].category, "my-category");
  EXPECT_STREQ(m->mCategoryEntries[0].entry, "my-key");
  EXPECT_EQ(m->mCategoryEntries[0].value, contract);
  EXPECT_EQ(m->mCategoryEntries[1].category, nullptr);
  EXPECT_EQ(m->getFactoryProc, nullptr);
  EXPECT_EQ(m->loadProc, nullptr);
  EXPECT_EQ(m->unloadProc, nullptr);
}

TEST_F(ComponentTest, AggregationIsRefusedWithANullResult) {
  auto ctor = host_->constructor_for(KXAGENTCLIENT_CONTRACTID);
  ASSERT_NE(ctor, nullptr);
  nsCOMPtr<IKXAgentClient> outer = create();
  void* result = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(ctor(outer, NS_GET_IID(IKXAgentClient), &result), NS_ERROR_NO_AGGREGATION);
  EXPECT_EQ(result, nullptr);
}

TEST_F(ComponentTest, AnUnknownInterfaceIsRefused) {
  auto ctor = host_->constructor_for(KXAGENTCLIENT_CONTRACTID);
  const nsIID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* result = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(ctor(nullptr, other, &result), NS_ERROR_NO_INTERFACE);
  EXPECT_EQ(result, nullptr);

  nsCOMPtr<IKXAgentClient> client = create();
  result = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(client->QueryInterface(other, &result), NS_ERROR_NO_INTERFACE);
  EXPECT_EQ(result, nullptr);
}

TEST_F(ComponentTest, SupportsAndTheClientInterfaceAreOneObject) {
  nsCOMPtr<IKXAgentClient> client = create();
  nsISupports* supports = nullptr;
  ASSERT_EQ(client->QueryInterface(NS_GET_IID(nsISupports), reinterpret_cast<void**>(&supports)), NS_OK);
  EXPECT_EQ(static_cast<void*>(supports), static_cast<void*>(client.get()));
  // AddRef and Release report the count: the QueryInterface above took one.
  EXPECT_EQ(supports->Release(), 1u);
  EXPECT_EQ(client->AddRef(), 2u);
  EXPECT_EQ(client->Release(), 1u);
}

struct GatedCall {
  const char* scope;
  std::function<nsresult(IKXAgentClient*, nsISupports* browser, nsISupports* doc, PRBool* out, nsAString& uri)> call;
  bool has_out;
};

TEST_F(ComponentTest, GatedMethodsBeforeInitializeOnlyTraceAndLeaveOutValuesAlone) {
  const GatedCall calls[] = {
      {"Mozilla::OnLoad", [](IKXAgentClient* c, nsISupports* b, nsISupports* d, PRBool*, nsAString&) { return c->OnLoad(b, d, nullptr); }, false},
      {"Mozilla::OnUnlo", [](IKXAgentClient* c, nsISupports* b, nsISupports* d, PRBool*, nsAString&) { return c->OnUnload(b, d, nullptr); }, false},
      {"Mozilla::OnActi", [](IKXAgentClient* c, nsISupports* b, nsISupports* d, PRBool*, nsAString&) { return c->OnActivate(b, d, nullptr); }, false},
      {"Mozilla::OnDeacti", [](IKXAgentClient* c, nsISupports*, nsISupports*, PRBool*, nsAString&) { return c->OnDeactivate(nullptr); }, false},
      {"Mozilla::OnProfileLink", [](IKXAgentClient* c, nsISupports* b, nsISupports* d, PRBool* o, nsAString& u) {
         nsString in(u"kxprofile://x");
         return c->OnProfileLink(b, d, in, u, o); }, true},
      {"Mozilla::OnWindowLoad", [](IKXAgentClient* c, nsISupports* b, nsISupports* d, PRBool* o, nsAString& u) { return c->OnWindowLoad(b, d, u, o); }, true},
      {"Mozilla::OnWindowUnload", [](IKXAgentClient* c, nsISupports* b, nsISupports* d, PRBool* o, nsAString& u) { return c->OnWindowUnload(b, d, u, o); }, true},
      {"Mozilla::OnDOMNodeModified", [](IKXAgentClient* c, nsISupports* b, nsISupports*, PRBool* o, nsAString&) { return c->OnDOMNodeModified(b, o); }, true},
  };
  nsCOMPtr<IKXAgentClient> client = create();
  for (const auto& g : calls) {
    SCOPED_TRACE(g.scope);
    start_ = trace_records().size();
    PRBool out = 7;
    nsString uri(u"untouched");
    EXPECT_EQ(g.call(client, browser(), document(), &out, uri), NS_OK);
    EXPECT_EQ(out, 7);
    EXPECT_EQ(uri.view(), u"untouched");
    const auto records = new_records();
    ASSERT_EQ(records.size(), 3u) << dump();
    EXPECT_EQ(records[0].kind, '>');
    EXPECT_EQ(records[0].text, g.scope);
    EXPECT_EQ(records[1].text, "'`I04`'Invalid KXAgent");
    EXPECT_EQ(records[2].kind, '<');
  }
}

TEST_F(ComponentTest, InitializeWithoutAnAgentTracesTheErrorReturnsOkAndStaysIdle) {
  nsCOMPtr<IKXAgentClient> client = create();
  EXPECT_EQ(client->Initialize(nullptr), NS_OK);
  EXPECT_TRUE(traced_prefix('U', "'`I09`'APP: ")) << dump();
  EXPECT_TRUE(traced_prefix('U', "'`I09`'DLL: ")) << dump();
  EXPECT_TRUE(traced_prefix('E', "-2147418113 com ")) << "the raised E_UNEXPECTED is caught\n" << dump();
  EXPECT_FALSE(traced('U', "'`I09`'done")) << "start-up ends at the error";
  start_ = trace_records().size();
  EXPECT_EQ(client->OnLoad(browser(), document(), nullptr), NS_OK);
  EXPECT_TRUE(traced('U', "'`I04`'Invalid KXAgent")) << dump();
  EXPECT_EQ(client->Uninitialize(nullptr), NS_OK);
}

TEST_F(ComponentTest, TheMissingAgentIsTracedInFullOnceThenShort) {
  nsCOMPtr<IKXAgentClient> first = create(), second = create();
  first->Initialize(nullptr);
  second->Initialize(nullptr);
  const auto records = new_records();
  int full = 0, short_form = 0;
  for (const auto& r : records) {
    full += r.text == "'`I04`'KXAgent not running";
    short_form += r.text == "'`I04`'NoKXAgent";
  }
  // The full text belongs to the first miss in the life of the library, which may have been an
  // earlier test's.
  EXPECT_LE(full, 1);
  EXPECT_EQ(full + short_form, 2) << dump();
  EXPECT_GE(short_form, 1);
}

TEST_F(ComponentTest, WithAnAgentWindowTheMethodsDoTheirWork) {
  kxbrowser::browser_windows_t windows;
  kxbrowser::fake_agent_window_t agent;
  nsCOMPtr<IKXAgentClient> client = create();
  EXPECT_EQ(client->Initialize(nullptr), NS_OK);
  EXPECT_TRUE(traced('U', "'`I09`'done")) << dump();
  EXPECT_TRUE(traced('U', "'`I02`'window created. all done.")) << dump();
  start_ = trace_records().size();
  EXPECT_EQ(client->OnLoad(browser(), document(), nullptr), NS_OK);
  EXPECT_TRUE(traced_prefix('U', "'`I0A`'Loaded document [")) << dump();
  bool cut = false;
  for (const auto& r : new_records())
    cut |= r.text.find("https://login.example.test/signin + params ...") != std::string::npos;
  EXPECT_TRUE(cut) << "the query is cut from the traced URL\n" << dump();

  start_ = trace_records().size();
  EXPECT_EQ(client->OnLoad(nullptr, document(), nullptr), NS_OK);
  EXPECT_TRUE(traced('E', "0 null webbrowser")) << dump();
  EXPECT_EQ(client->OnLoad(browser(), nullptr, nullptr), NS_OK);
  EXPECT_TRUE(traced('E', "0 null document")) << dump();

  start_ = trace_records().size();
  PRBool out = 7;
  EXPECT_EQ(client->OnDOMNodeModified(nullptr, &out), NS_OK);
  EXPECT_EQ(out, 7) << "a node that is not an element leaves the out value";
  EXPECT_TRUE(traced('U', "NSOK(NSPTR(cpdomelement)) = 0x80004003 [975 : ExtensionImpl]")) << dump();

  EXPECT_EQ(client->Uninitialize(nullptr), NS_OK);
}

TEST_F(ComponentTest, GetTraceInfoListsFourteenEntries) {
  auto get = host_->export_of<const char* (*)()>("gettraceinfo");
  ASSERT_NE(get, nullptr);
  const std::string text = get();
  int entries = 0;
  for (size_t pos = 0; (pos = text.find("]# ", pos)) != std::string::npos; ++pos) ++entries;
  EXPECT_EQ(entries, 14) << text;
  EXPECT_NE(text.find("#..kxffcli..#"), std::string::npos);
}

TEST_F(ComponentTest, SetTraceInfoChangesTheMaskAndZeroRemovesTheValue) {
  auto set = host_->export_of<const char*(__stdcall*)(const char*)>("settraceinfo");
  ASSERT_NE(set, nullptr);
  const std::string reply = set("#..kxffcli..#\n8 #[80]# core: label detection\n9 #[100]# core: control creation\n");
  EXPECT_NE(reply.find("0x180"), std::string::npos) << reply;
  EXPECT_EQ(registry_->number(L"vlt_kxffcli"), 0x180u);
  set("#..all..#\n1 #[01]# do not trace\n");
  EXPECT_FALSE(registry_->has(L"vlt_kxffcli"));
}

TEST_F(ComponentTest, AttachingRegistersThePrivateDialogClass) {
  WNDCLASSW mine{}, dialog{};
  ASSERT_TRUE(GetClassInfoW(host_->library(), L"KX_IDV_MS_DIALOG", &mine));
  ASSERT_TRUE(GetClassInfoW(nullptr, MAKEINTATOM(32770), &dialog));
  EXPECT_EQ(mine.lpfnWndProc, dialog.lpfnWndProc);
  EXPECT_EQ(mine.cbWndExtra, dialog.cbWndExtra);
}

TEST_F(ComponentTest, LastKnownVersionIsZeroBeforeAnyAnnouncement) {
  auto get = host_->export_of<int (*)()>("get_lastknownversion");
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(get(), 0);
}

}  // namespace
