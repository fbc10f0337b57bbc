// The component's requests to the agent and its use of the answers, over the snapshot DOM: which
// page state a profile operation runs on, the control a highlight names, and what an answer fills
// (or refuses to fill) on the page it arrives for.
#include "include_extension/AgentRequests.h"

#include <gtest/gtest.h>

#include "manifest/Escape.h"
#include "manifest/ManifestWriter.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"
#include "tracecore/utf.h"

namespace kxext::requests {
namespace {

using fillguard::refusal_t;
using snapdom::page_t;

const char kLoginUrl[] = "https://www.bank.example/login";
const char kLoginForm[] =
    R"(<form id="login"><input id="user" name="user"><input type="password" id="pass" name="pass"></form>)";
const char kChangeForm[] =
    R"(<form id="change"><input type="password" id="old" name="old"><input type="password" id="new" name="new">)"
    R"(<input type="password" id="again" name="again"></form>)";

// A manifest whose one form describes the "user" and "pass" controls of |page| (context 0, field
// accids 1 and 2), for |form_url|.
Manifest login_manifest(nsIDOMDocument* document, const std::string& form_url = kLoginUrl) {
  ffcontrols controls;
  controls.build(document);
  ManifestForm form;
  form.detection.names = manifest::joinNames(controls.strings());
  form.detection.web_murl = form_url;
  form.detection.web_checkurl = true;
  std::int32_t accid = 0;
  for (const char* key : {"user", "pass"}) {
    ManifestField f;
    f.type = field_edit;
    f.password = std::string(key) == "pass";
    f.useit = true;
    f.dbname = key;
    f.displayname = key;
    f.accid = ++accid;
    for (const ffcontrol& c : controls.list())
      if (c.m_esId == tracecore::to_utf16(key)) f.path = c.name;
    form.fields.push_back(f);
  }
  Manifest m;
  m.filePath = u"bank.kxm";
  m.forms.push_back(form);
  m.slot = 0;
  return m;
}

std::vector<std::string> valued(const page_t& page) {
  std::vector<std::string> out;
  for (const auto& e : page.events())
    if (e.type == "value") out.push_back(e.target + "=" + e.detail);
  return out;
}

kxmessages::notice_senddata_t answer_with(std::vector<std::pair<const char*, const char16_t*>> values) {
  kxmessages::notice_senddata_t n;
  for (const auto& [dbname, value] : values) {
    kxmessages::profileitem_t item;
    item.dbname = dbname;
    item.memid = -1;
    item.value = value;
    n.datatofillin.profileitems.push_back(item);
  }
  return n;
}

// ---- what the component asks ----

TEST(AgentRequests, RequestsNameTheManifestAsTheAgentKnowsItAndCarryTheHeader) {
  Manifest alien;
  alien.alien = true;
  alien.filePath = u"shared.kxm";
  alien.slot = 2;
  kxmessages::callheader_t header;
  header.targetwnd = header.activewnd = 0x1234;

  const kxmessages::block_filldata_request_t fill = fill_in_request(header, alien, 5);
  EXPECT_EQ(fill.callheader, header);
  EXPECT_EQ(fill.manifestprofileID.manifestfilename, u"alien|shared.kxm");
  EXPECT_EQ(fill.manifestprofileID.currentformindex, 2);
  EXPECT_EQ(fill.manifestprofileID.profileindex, 5);

  // A profile operation never names a profile: the agent asks the user.
  const kxmessages::block_profile_operation_t edit = modify_request(header, modify_op_t::edit_profile, alien);
  EXPECT_EQ(edit.operation, 3);
  EXPECT_EQ(edit.manifestprofileID.profileindex, -1);
  EXPECT_EQ(modify_request(header, modify_op_t::add_profile, alien).operation, 1);

  training_plan_t plan;
  plan.domainmanifestnames = "a.kxm\nb.kxm";
  plan.xml = "<manifest/>";
  EXPECT_EQ(new_manifest_request(header, plan).newmanifestasstring, "<manifest/>");
  EXPECT_EQ(change_password_request(header, plan).domainmanifestnames, "a.kxm\nb.kxm");
}

TEST(AgentRequests, AProfileOperationNeedsARecognisedPage) {
  auto page = page_t::from_html(kLoginForm, kLoginUrl);
  PageState recognised;
  recognised.manifests.push_back(login_manifest(page->document()));
  recognised.recognized.push_back({&recognised.manifests.front(), &recognised.manifests.front().forms.front(), {}, 0});
  const PageState unrecognised;

  struct case_t {
    const char* name;
    modify_op_t op;
    const PageState* cached;
    bool allowed;
    const char* trace;  // null: nothing of its own
    char level = 'U';
  };
  const case_t cases[] = {
      {.name = "add, recognised", .op = modify_op_t::add_profile, .cached = &recognised, .allowed = true, .trace = nullptr},
      {.name = "add, nothing recognised any more", .op = modify_op_t::add_profile, .cached = &unrecognised,
       .allowed = false, .trace = "page is not recognized anymore"},
      {.name = "add, no state", .op = modify_op_t::add_profile, .cached = nullptr, .allowed = false, .trace = nullptr},
      {.name = "edit, recognised", .op = modify_op_t::edit_profile, .cached = &recognised, .allowed = true, .trace = nullptr},
      {.name = "edit, nothing recognised", .op = modify_op_t::edit_profile, .cached = &unrecognised, .allowed = false,
       .trace = "null page state", .level = 'E'},
      {.name = "edit, no state", .op = modify_op_t::edit_profile, .cached = nullptr, .allowed = false,
       .trace = "null page state", .level = 'E'},
  };
  for (const case_t& c : cases) {
    tracecore::testing::capture_t trace;
    EXPECT_EQ(may_modify(c.op, c.cached), c.allowed) << c.name;
    if (c.trace)
      EXPECT_TRUE(trace.contains(c.level, c.trace)) << c.name << trace.dump();
    else
      EXPECT_EQ(trace.dump().find("page"), std::string::npos) << c.name << trace.dump();
  }
}

// ---- the highlight ----

TEST(AgentRequests, HighlightFindsTheControlOfTheFieldTheAgentNames) {
  auto page = page_t::from_html(kLoginForm, kLoginUrl);
  Manifest m = login_manifest(page->document());
  // A first form without the field: the search goes on to the form that has it.
  ManifestForm other;
  other.fields.push_back(ManifestField());
  other.fields.back().accid = 7;
  other.fields.back().path = "nowhere";
  m.forms.insert(m.forms.begin(), other);

  ffcontrols controls;
  controls.build(page->document());
  const ffcontrol* pass = highlight_control(m, 2, controls);
  ASSERT_NE(pass, nullptr);
  EXPECT_EQ(pass->m_esId, u"pass");
  EXPECT_EQ(highlight_control(m, 7, controls), nullptr) << "a field that matches no control";

  tracecore::testing::capture_t trace;
  EXPECT_EQ(highlight_control(m, 99, controls), nullptr);
  EXPECT_TRUE(trace.contains('E', "field not found by accid")) << trace.dump();
  auto empty = page_t::from_html("<p>nothing</p>", kLoginUrl);
  ffcontrols none;
  none.build(empty->document());
  EXPECT_EQ(highlight_control(m, 2, none), nullptr);
  EXPECT_TRUE(trace.contains('E', "no field in doc")) << trace.dump();
}

// ---- the answers ----

// The page an answer arrives on, the request it answers, and what the fill did.
struct answer_case_t {
  const char* name;
  std::string html = kLoginForm;
  std::string page_url = kLoginUrl;                 // where the page is when the answer arrives
  std::int32_t operation = op_preparefillindata;
  bool requested_here = true;                       // the request was made for this document
  bool keeps_document = true;                       // the request kept its document's identity
  std::string answer_manifest;                      // "": none, "login": the login form as text
  std::vector<std::pair<const char*, const char16_t*>> values = {{"user", u"alice"}, {"pass", u"secret"}};
  refusal_t refused = refusal_t::none;
  std::vector<std::string> valued = {"input#user=alice", "input#pass=secret"};
};

TEST(AgentRequests, AnAnswerFillsOnlyThePageItWasAskedFor) {
  const answer_case_t cases[] = {
      {.name = "the request's own manifest"},
      {.name = "the manifest the answer brings", .answer_manifest = "login"},
      {.name = "an answer whose manifest does not read", .answer_manifest = "<manifest",
       .refused = refusal_t::bad_answer, .valued = {}},
      {.name = "a request that kept no document", .keeps_document = false, .refused = refusal_t::no_document,
       .valued = {}},
      {.name = "another document with the same ID", .requested_here = false, .refused = refusal_t::other_document,
       .valued = {}},
      {.name = "the tab went to another site", .page_url = "https://www.bank-login.example/login",
       .refused = refusal_t::url_mismatch, .valued = {}},
      {.name = "the page went to http", .page_url = "http://www.bank.example/login",
       .refused = refusal_t::insecure_page, .valued = {}},
      {.name = "a password change", .html = kChangeForm, .operation = op_changepassword,
       .values = {{"oldpassword", u"old1"}, {"newpassword", u"new2"}},
       .valued = {"input#old=old1", "input#new=new2", "input#again=new2"}},
  };
  for (const answer_case_t& c : cases) {
    SCOPED_TRACE(c.name);
    // The request was made on the login page at its own URL ...
    auto asked = page_t::from_html(c.html, kLoginUrl);
    auto elsewhere = page_t::from_html(c.html, kLoginUrl);
    PendingRequest pending;
    pending.currentoperation = c.operation;
    if (c.operation != op_changepassword) pending.manifest = login_manifest(asked->document());
    if (c.keeps_document) pending.document = do_QueryInterface(asked->document());
    pending.url = tracecore::to_utf16(kLoginUrl);

    kxmessages::notice_senddata_t answer = answer_with(c.values);
    if (c.answer_manifest == "login") {
      Manifest text = login_manifest(asked->document());
      std::string xml;
      manifest::manifestToText(text, xml);
      answer.manifestasstring = tracecore::to_utf16(xml);
    } else {
      answer.manifestasstring = tracecore::to_utf16(c.answer_manifest);
    }

    // ... and arrives on |filled| at |page_url|.
    page_t& filled = c.requested_here ? *asked : *elsewhere;
    const fillguard::fill_result_t result =
        use_answer(pending, answer, {filled.document(), tracecore::to_utf16(c.page_url)});
    EXPECT_EQ(result.refused, c.refused) << fillguard::refusal_name(result.refused);
    EXPECT_EQ(valued(filled), c.valued);
    if (!c.requested_here) EXPECT_TRUE(valued(*asked).empty());
  }
}

}  // namespace
}  // namespace kxext::requests
