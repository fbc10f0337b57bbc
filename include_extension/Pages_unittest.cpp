// The page side over the committed snapshots of the fixture pages in tests/pages (rendered by
// Chromium, see docs/snapshot-format.md).
#include <cstdlib>

#include <gtest/gtest.h>

#include "include_extension/Controls.h"
#include "manifest/Escape.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/utf.h"

namespace {

using snapdom::event_record_t;
using snapdom::page_t;
using events_t = std::vector<event_record_t>;

std::unique_ptr<page_t> fixture(const std::string& name) {
  const char* root = std::getenv("KX_SOURCE_DIR");
  return page_t::load_file(std::string(root ? root : ".") + "/tests/pages/" + name + ".json");
}

// "type parent-frame? formname composed 'dispname'"
std::vector<std::string> describe(const ffcontrols& controls) {
  std::vector<std::string> out;
  for (const ffcontrol& c : controls.list())
    out.push_back(ffcontrol_type_name(c.type) + (c.parent.empty() ? "" : " (frame)") + " " + c.composed + " '" +
                  c.dispname + "'" + (c.value.empty() ? "" : " =" + c.value));
  return out;
}

struct page_case_t {
  const char* page;
  std::vector<std::string> controls;
};

class Fixtures : public ::testing::TestWithParam<page_case_t> {};

TEST_P(Fixtures, ControlsAndLabels) {
  auto page = fixture(GetParam().page);
  ffcontrols controls;
  controls.build(page->document());
  controls.label();
  EXPECT_EQ(GetParam().controls, describe(controls));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Fixtures,
    ::testing::Values(
        page_case_t{"login",
                    {"edit login.username.username 'Email or username'", "psw login.password.password 'Password'",
                     "check login.remember.remember 'Keep me signed in' =0"}},
        page_case_t{"login_iframe",
                    {"edit (frame) logon.customer.customer 'Customer number:'", "psw (frame) logon.pin.pin 'PIN:'",
                     "edit site-search..q ''"}},
        page_case_t{"table_labels",
                    {"edit frmLogin..txtUser 'User\xC2\xA0ID:'", "psw frmLogin..txtPass 'Password:'",
                     "check frmLogin..chkSave 'Save my User ID' =0"}},
        page_case_t{"two_submits", {"edit auth.user.username 'Username:'", "psw auth.pass.password 'Password:'"}},
        page_case_t{"registration",
                    {"edit register.first.first_name 'First name'", "edit register.last.last_name 'Last name'",
                     "edit register.email.email 'Email address'", "radio register.g_f.gender 'Gender:' =0",
                     "radio register.g_m.gender 'Female' =0", "psw register.pw1.password 'Choose a password'",
                     "psw register.pw2.password_confirm 'Repeat password'",
                     "check register.news.newsletter 'Send me offers by email' =1",
                     "check register.terms.terms 'I accept the terms' =0", "listbx register.country.country 'Country' =France"}},
        page_case_t{"password_change",
                    {"psw chpw.oldpw.oldpw 'Current password'", "psw chpw.newpw.newpw 'New password'",
                     "psw chpw.newpw2.newpw2 'Confirm new password'"}},
        // Hidden, display:none and zero-size text inputs are dropped; a zero-size password input stays.
        page_case_t{"hidden_inputs",
                    {"edit .search.search 'Portal .offscreen { width: 0; height: 0; border: 0; padding: 0; }'",
                     "edit portal-login.login.login 'Login'", "psw portal-login.pass.pass 'Password'",
                     "psw portal-login..pass_shadow ''", "edit .quickcode. 'Quick code:'"}},
        page_case_t{"guid_forms",
                    {"edit #kx#<;)lid=.ctl00_user.ctl00$user 'User name:'",
                     "psw #kx#<;)lid=.ctl00_pwd.ctl00$pwd 'Password:'", "edit feedback.fb.fb 'Feedback'"}},
        // The inner input of the textbox "loginTextbox" has no id: its empty id is the control's.
        page_case_t{"xul_textbox",
                    {"edit proxyauth..proxyuser 'User name:'", "psw proxyauth.pwinner. 'Password:'"}}),
    [](const auto& info) { return std::string(info.param.page); });

TEST(FixturePages, FrameControlsCarryTheFrameAddress) {
  auto page = fixture("login_iframe");
  ffcontrols controls;
  controls.build(page->document());
  ASSERT_FALSE(controls.list().empty());
  EXPECT_EQ("https://www.harborsavings.example/banking/login_frame.html", controls.list()[0].parent);
}

// A form whose fields are the page's controls with the given ids (or names), filled from |values|.
struct fill_case_t {
  const char* page;
  std::vector<std::string> keys;
  std::vector<std::string> values;
  events_t tail;  // the events after the values
};

class FixtureFill : public ::testing::TestWithParam<fill_case_t> {};

TEST_P(FixtureFill, FillsAndSubmitsLikeAUser) {
  const auto& c = GetParam();
  auto page = fixture(c.page);
  ffcontrols controls;
  controls.build(page->document());
  ManifestForm form;
  form.detection.names = manifest::joinNames(controls.strings());
  fffilldata data{1, {}};
  for (std::size_t i = 0; i < c.keys.size(); ++i) {
    ManifestField f;
    f.type = field_edit;
    f.dbname = "db" + std::to_string(i);
    for (const ffcontrol& ctl : controls.list())
      if (tracecore::to_utf8(ctl.m_esId) == c.keys[i] || tracecore::to_utf8(ctl.m_esName) == c.keys[i]) f.path = ctl.name;
    form.fields.push_back(f);
    data.profileitems.push_back({f.dbname, -1, c.values[i]});
  }
  EXPECT_EQ(NS_OK, controls.send(&form, data));
  const auto& ev = page->events();
  ASSERT_GE(ev.size(), c.tail.size());
  EXPECT_EQ(c.tail, events_t(ev.end() - static_cast<std::ptrdiff_t>(c.tail.size()), ev.end())) << page->events_json();
}

INSTANTIATE_TEST_SUITE_P(
    Pages, FixtureFill,
    ::testing::Values(
        fill_case_t{"login_iframe",
                    {"customer", "pin"},
                    {"4711", "1234"},
                    {{"value", "frame0:input#pin", "1234"},
                     {"focus", "frame0:input", ""},
                     {"click", "frame0:input", ""},
                     {"submit", "frame0:form[name=logon]", "frame0:input"}}},
        fill_case_t{"table_labels",
                    {"txtUser", "txtPass"},
                    {"jdoe", "pw"},
                    {{"focus", "input[name=btnGo]", ""},
                     {"click", "input[name=btnGo]", ""},
                     {"submit", "form[name=frmLogin]", "input[name=btnGo]"}}},
        fill_case_t{"two_submits",
                    {"user", "pass"},
                    {"jdoe", "pw"},
                    {{"keydown", "input#pass", "13"},
                     {"keypress", "input#pass", "13"},
                     {"click", "input[name=login]", ""},
                     {"submit", "form#auth", "input[name=login]"},
                     {"keyup", "input#pass", "13"}}},
        // The only submit control is a <button>, which the search for submit inputs does not see.
        fill_case_t{"registration",
                    {"first", "email", "pw1", "pw2"},
                    {"Ann", "ann@example.com", "pw", "pw"},
                    {{"value", "input#pw2", "pw"},
                     {"keydown", "input#pw2", "13"},
                     {"keypress", "input#pw2", "13"},
                     {"click", "button", ""},
                     {"submit", "form#register", "button"},
                     {"keyup", "input#pw2", "13"}}}),
    [](const auto& info) { return std::string(info.param.page); });

TEST(FixturePages, PasswordChangePageGetsOldThenNew) {
  auto page = fixture("password_change");
  ffcontrols controls;
  controls.build(page->document());
  EXPECT_EQ(NS_OK, controls.changePassword({1, {{"old", -1, "old-pw"}, {"new", -1, "new-pw"}}}));
  const events_t expected = {{"focus", "input#oldpw", ""}, {"value", "input#oldpw", "old-pw"},
                             {"focus", "input#newpw", ""}, {"value", "input#newpw", "new-pw"},
                             {"focus", "input#newpw2", ""}, {"value", "input#newpw2", "new-pw"}};
  EXPECT_EQ(expected, page->events());
}

}  // namespace
