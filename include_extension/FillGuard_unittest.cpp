// The fill guard against hostile pages: decoy frames and forms, look-alike sites, downgraded
// schemes, forged document identities and navigations between the request and the answer.
#include "include_extension/FillGuard.h"

#include <gtest/gtest.h>

#include "manifest/Escape.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"
#include "tracecore/utf.h"

namespace {

using fillguard::refusal_t;
using snapdom::page_t;

const char kLoginForm[] =
    R"(<form id="login"><input id="user" name="user"><input type="password" id="pass" name="pass"></form>)";

// A page, and a manifest form whose fields are the page's "user" and "pass" controls.
struct guard_fixture_t {
  guard_fixture_t(const std::string& html, const std::string& url, std::vector<page_t::frame_html_t> frames,
                  const std::string& form_url)
      : page(page_t::from_html(html, url, std::move(frames))) {
    ffcontrols controls;
    controls.build(page->document());
    form.detection.names = manifest::joinNames(controls.strings());
    form.detection.web_murl = form_url;
    form.detection.web_checkurl = !form_url.empty();
    for (const char* key : {"user", "pass"}) {
      ManifestField f;
      f.type = field_edit;
      f.password = std::string(key) == "pass";
      f.useit = true;
      f.dbname = key;
      f.displayname = key;
      for (const ffcontrol& c : controls.list())
        if (c.m_esId == tracecore::to_utf16(key)) f.path = c.name;
      EXPECT_FALSE(f.path.empty()) << key;
      form.fields.push_back(f);
    }
  }
  fillguard::fill_target_t target() const {
    fillguard::fill_target_t t;
    t.document = page->document();
    t.requested_document = page->document();
    t.url = tracecore::to_utf16(url());
    t.requested_url = t.url;
    return t;
  }
  std::string url() const {
    nsCOMPtr<nsIDOMHTMLDocument> html = do_QueryInterface(page->document());
    nsString u;
    html->GetURL(u);
    return tracecore::to_utf8(u.view());
  }
  // The controls that received a value, in order.
  std::vector<std::string> valued() const {
    std::vector<std::string> out;
    for (const auto& e : page->events())
      if (e.type == "value") out.push_back(e.target + "=" + e.detail);
    return out;
  }
  std::unique_ptr<page_t> page;
  ManifestForm form;
};

const fffilldata kLogin = {0, {{"user", -1, "alice"}, {"pass", -1, "secret"}}};

struct guard_case_t {
  const char* name;
  std::string page_url = "https://www.bank.example/login";
  std::string html = kLoginForm;
  std::vector<page_t::frame_html_t> frames = {};
  std::string form_url = "https://www.bank.example/login";
  refusal_t refused = refusal_t::none;
  std::vector<std::string> valued = {"input#user=alice", "input#pass=secret"};
  std::vector<refusal_t> left_out = {};  // reasons of the controls left out, in order
};

void PrintTo(const guard_case_t& c, std::ostream* os) { *os << c.name; }

class FillGuard : public ::testing::TestWithParam<guard_case_t> {};

TEST_P(FillGuard, WritesOnlyWhereThePasswordBelongs) {
  const guard_case_t& c = GetParam();
  guard_fixture_t fx(c.html, c.page_url, c.frames, c.form_url);
  const fillguard::fill_result_t r = fillguard::fill(fx.target(), &fx.form, kLogin);
  EXPECT_EQ(refusal_name(r.refused), std::string(refusal_name(c.refused)));
  EXPECT_EQ(fx.valued(), c.valued) << fx.page->events_json();
  std::vector<refusal_t> reasons;
  for (const auto& l : r.controls) reasons.push_back(l.reason);
  EXPECT_EQ(reasons, c.left_out);
}

const char kHiddenFrame[] = R"(<iframe src="https://www.bank.example/decoy" style="display:none"></iframe>)";
const char kVisibleFrame[] = R"(<iframe src="https://www.other.example/login"></iframe>)";

INSTANTIATE_TEST_SUITE_P(
    HostilePages, FillGuard,
    ::testing::Values(
        guard_case_t{.name = "PlainLogin"},
        // A 0x0 frame of the same site placed before the form repeats its ids and names: the frame's
        // controls come first in the page's list, yet only the visible form gets the values.
        guard_case_t{.name = "HiddenSameOriginDecoyFrame",
                     .html = std::string(kHiddenFrame) + kLoginForm,
                     .frames = {{"https://www.bank.example/decoy", kLoginForm}},
                     .left_out = {refusal_t::hidden_frame, refusal_t::hidden_frame}},
        // A visible frame of another site repeating the form gets nothing.
        guard_case_t{.name = "VisibleForeignFrame",
                     .html = std::string(kVisibleFrame) + kLoginForm,
                     .frames = {{"https://www.other.example/login", kLoginForm}},
                     .left_out = {refusal_t::foreign_frame, refusal_t::foreign_frame}},
        // The login form lives only in a frame of the same site on another host: it is filled.
        guard_case_t{.name = "SameSiteLoginFrameOnAnotherHost",
                     .html = R"(<h1>Bank</h1><iframe src="https://auth.bank.example/frame"></iframe>)",
                     .frames = {{"https://auth.bank.example/frame", kLoginForm}},
                     .valued = {"frame0:input#user=alice", "frame0:input#pass=secret"}},
        // The login form only in a foreign frame: nothing anywhere.
        guard_case_t{.name = "LoginOnlyInForeignFrame",
                     .html = kVisibleFrame,
                     .frames = {{"https://www.other.example/login", kLoginForm}},
                     .refused = refusal_t::no_target,
                     .valued = {},
                     .left_out = {refusal_t::foreign_frame, refusal_t::foreign_frame}},
        // A hidden form with the same ids placed first: the visible one is filled.
        guard_case_t{.name = "HiddenDecoyFormFirst",
                     .html = std::string(R"(<div style="display:none">)") + kLoginForm + "</div>" + kLoginForm,
                     .valued = {"input#user@2=alice", "input#pass@2=secret"},
                     // A hidden text input is no control at all; a hidden password field is, and is left out.
                     .left_out = {refusal_t::hidden}},
        guard_case_t{.name = "LookAlikeUnderCoUk",
                     .page_url = "https://evil.co.uk/login",
                     .form_url = "https://login.bank.co.uk/login",
                     .refused = refusal_t::url_mismatch,
                     .valued = {}},
        guard_case_t{.name = "LookAlikeUnderGithubIo",
                     .page_url = "https://evil.github.io/login",
                     .form_url = "https://alice.github.io/login",
                     .refused = refusal_t::url_mismatch,
                     .valued = {}},
        guard_case_t{.name = "HttpPageForHttpsForm",
                     .page_url = "http://www.bank.example/login",
                     .refused = refusal_t::insecure_page,
                     .valued = {}},
        guard_case_t{.name = "SameSiteOtherHostPage", .page_url = "https://auth.bank.example/signin"}));

TEST(FillGuardIdentity, ForgedDocumentIdAndNavigationAreRefused) {
  guard_fixture_t fx(kLoginForm, "https://www.bank.example/login", {}, "https://www.bank.example/login");
  // Another document that copied the requesting document's "kxffagent_docid": its identity differs.
  auto forger = page_t::from_html(kLoginForm, "https://www.bank.example/login");
  fillguard::fill_target_t t = fx.target();
  t.requested_document = forger->document();
  EXPECT_EQ(fillguard::fill(t, &fx.form, kLogin).refused, refusal_t::other_document);

  // The same document moved to another site between the request and the answer.
  t = fx.target();
  t.requested_url = u"https://www.other.example/login";
  EXPECT_EQ(fillguard::fill(t, &fx.form, kLogin).refused, refusal_t::url_mismatch);
  // Asked over https, answered over http.
  t = fx.target();
  t.url = u"http://www.bank.example/login";
  t.requested_url = u"https://www.bank.example/login";
  EXPECT_EQ(fillguard::check_document(t, nullptr), refusal_t::insecure_page);
  EXPECT_TRUE(fx.valued().empty());
}

TEST(FillGuardPlacement, OffScreenDecoyGetsNothing) {
  guard_fixture_t fx(std::string(kLoginForm) + kLoginForm, "https://www.bank.example/login", {},
                     "https://www.bank.example/login");
  // The first form is pushed far to the left of the document.
  nsCOMPtr<nsIDOMNodeList> inputs;
  fx.page->document()->GetElementsByTagName(nsString(u"input"), getter_AddRefs(inputs));
  for (PRUint32 i = 0; i < 2; ++i) {
    nsCOMPtr<nsIDOMNode> node;
    inputs->Item(i, getter_AddRefs(node));
    nsCOMPtr<nsIDOMElement> element = do_QueryInterface(node);
    page_t::set_rect(element, -10000, 0, -9900, 20);
  }
  const fillguard::fill_result_t r = fillguard::fill(fx.target(), &fx.form, kLogin);
  EXPECT_TRUE(r.filled());
  EXPECT_EQ(fx.valued(), (std::vector<std::string>{"input#user@2=alice", "input#pass@2=secret"}));
  ASSERT_EQ(r.controls.size(), 2u);
  EXPECT_EQ(r.controls[0].reason, refusal_t::outside_document);
}

TEST(FillGuardReentry, AnAnswerArrivingDuringAFillWaitsForIt) {
  guard_fixture_t fx(kLoginForm, "https://www.bank.example/login", {}, "https://www.bank.example/login");
  // The page's script runs inside the first value write and gives the thread to a second answer.
  std::vector<refusal_t> inner;
  fx.page->on_event([&](const snapdom::event_record_t& e) {
    if (e.type != "value" || !inner.empty()) return;
    EXPECT_TRUE(fillguard::fill_running());
    const fffilldata other = {0, {{"user", -1, "mallory"}, {"pass", -1, "x"}}};
    inner.push_back(fillguard::fill(fx.target(), &fx.form, other).refused);
  });
  EXPECT_TRUE(fillguard::fill(fx.target(), &fx.form, kLogin).filled());
  EXPECT_EQ(inner, std::vector<refusal_t>{refusal_t::fill_running});
  EXPECT_EQ(fx.valued(), (std::vector<std::string>{"input#user=alice", "input#pass=secret"}));
  EXPECT_FALSE(fillguard::fill_running());
}

struct pwchange_case_t {
  const char* name;
  std::string html;
  refusal_t refused;
  std::vector<std::string> valued;
};
void PrintTo(const pwchange_case_t& c, std::ostream* os) { *os << c.name; }

class FillGuardPasswordChange : public ::testing::TestWithParam<pwchange_case_t> {};

TEST_P(FillGuardPasswordChange, OnlyVisiblePasswordFieldsOfTheDocument) {
  auto page = page_t::from_html(GetParam().html, "https://www.bank.example/pw",
                                {{"https://www.bank.example/f", R"(<input type="password" id="fp">)"}});
  fillguard::fill_target_t t;
  t.document = page->document();
  t.requested_document = page->document();
  t.url = t.requested_url = u"https://www.bank.example/pw";
  const fffilldata data = {0, {{"old", -1, "old-pw"}, {"new", -1, "new-pw"}}};
  EXPECT_EQ(fillguard::change_password(t, data).refused, GetParam().refused);
  std::vector<std::string> valued;
  for (const auto& e : page->events())
    if (e.type == "value") valued.push_back(e.target + "=" + e.detail);
  EXPECT_EQ(valued, GetParam().valued);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, FillGuardPasswordChange,
    ::testing::Values(
        pwchange_case_t{"TwoVisible", R"(<input type="password" id="a"><input type="password" id="b">)",
                        refusal_t::none, {"input#a=new-pw", "input#b=new-pw"}},
        // A hidden third field does not turn the page into an old/new/confirm page.
        pwchange_case_t{"HiddenThird",
                        R"(<input type="password" id="h" hidden><input type="password" id="a"><input type="password" id="b">)",
                        refusal_t::none, {"input#a=new-pw", "input#b=new-pw"}},
        pwchange_case_t{"Three",
                        R"(<input type="password" id="o"><input type="password" id="a"><input type="password" id="b">)",
                        refusal_t::none, {"input#o=old-pw", "input#a=new-pw", "input#b=new-pw"}},
        // A frame's password field does not count: one visible field of the document is no change page.
        pwchange_case_t{"OneAndAFrame", R"(<input type="password" id="a"><iframe src="https://www.bank.example/f"></iframe>)",
                        refusal_t::password_count, {}},
        pwchange_case_t{"Four",
                        R"(<input type="password" id="a"><input type="password" id="b"><input type="password" id="c"><input type="password" id="d">)",
                        refusal_t::password_count, {}}));

}  // namespace
