#include <gtest/gtest.h>

#include "include_extension/Controls.h"
#include "manifest/Escape.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"
#include "tracecore/utf.h"

namespace {

using snapdom::event_record_t;
using snapdom::page_t;
using events_t = std::vector<event_record_t>;

// A page, its controls and a manifest form whose fields point at controls of the page.
struct fill_fixture_t {
  explicit fill_fixture_t(const std::string& html) : page(page_t::from_html(html)) {
    controls.build(page->document());
    form.detection.names = manifest::joinNames(controls.strings());
  }
  // A field for the control whose id (or else name) is |key|.
  fill_fixture_t& field(const char* key, const char* dbname, FieldType type = field_edit, std::int32_t fieldId = -1) {
    ManifestField f;
    f.type = type;
    f.dbname = dbname;
    f.displayname = key;
    f.fieldId = fieldId;
    const std::u16string k = tracecore::to_utf16(key);
    for (const ffcontrol& c : controls.list())
      if (c.m_esId == k || (c.m_esId.empty() && c.m_esName == k)) f.path = c.name;
    EXPECT_FALSE(f.path.empty()) << key;
    form.fields.push_back(f);
    return *this;
  }
  nsresult send(fffilldata data) {
    page->clear_events();
    return controls.send(&form, data);
  }
  std::unique_ptr<page_t> page;
  ffcontrols controls;
  ManifestForm form;
};

const fffilldata kLogin = {1, {{"user", -1, "alice"}, {"pass", -1, "secret"}}};

struct submit_case_t {
  const char* name;
  const char* buttons;  // markup after the user and password fields inside form "f"
  events_t after_fill;  // events after the two values are in
};

class Submit : public ::testing::TestWithParam<submit_case_t> {};

TEST_P(Submit, OneButtonIsClickedElseEnterInThePasswordField) {
  fill_fixture_t fx(std::string(R"(<form id="f"><input id="u" name="u"><input type="password" id="p" name="p">)") +
                    GetParam().buttons + "</form><form id=\"g\"><input type=\"submit\" id=\"other\"></form>");
  fx.field("u", "user").field("p", "pass");
  EXPECT_EQ(NS_OK, fx.send(kLogin));
  events_t expected = {{"focus", "input#u", ""},
                       {"value", "input#u", "alice"},
                       {"focus", "input#p", ""},
                       {"value", "input#p", "secret"}};
  expected.insert(expected.end(), GetParam().after_fill.begin(), GetParam().after_fill.end());
  EXPECT_EQ(expected, fx.page->events()) << fx.page->events_json();
  EXPECT_EQ(fx.controls.list().size(), fx.page->outside_refs());  // the controls keep their elements
}

const events_t kEnterInPassword = {{"keydown", "input#p", "13"}, {"keypress", "input#p", "13"}, {"keyup", "input#p", "13"}};

INSTANTIATE_TEST_SUITE_P(
    Forms, Submit,
    ::testing::Values(
        submit_case_t{"OneSubmitInput", R"(<input type="submit" id="go">)",
                      {{"focus", "input#go", ""}, {"click", "input#go", ""}, {"submit", "form#f", "input#go"}}},
        // Two submit inputs: none is clicked; the browser's own Enter handling then uses the first.
        submit_case_t{"TwoSubmitInputs", R"(<input type="submit" id="go"><input type="submit" id="reg">)",
                      {{"keydown", "input#p", "13"},
                       {"keypress", "input#p", "13"},
                       {"click", "input#go", ""},
                       {"submit", "form#f", "input#go"},
                       {"keyup", "input#p", "13"}}},
        submit_case_t{"ButtonAndImage", R"(<input type="button" id="b"><input type="image" id="img">)",
                      {{"focus", "input#img", ""}, {"click", "input#img", ""}, {"submit", "form#f", "input#img"}}},
        submit_case_t{"OneButtonInput", R"(<input type="button" id="b">)",
                      {{"focus", "input#b", ""}, {"click", "input#b", ""}}},
        submit_case_t{"TwoButtonInputs", R"(<input type="button" id="b1"><input type="button" id="b2">)", kEnterInPassword},
        submit_case_t{"TwoButtonsThenSubmit",
                      R"(<input type="button" id="b1"><input type="button" id="b2"><input type="button" id="b3"><input type="submit" id="go">)",
                      {{"focus", "input#go", ""}, {"click", "input#go", ""}, {"submit", "form#f", "input#go"}}},
        submit_case_t{"HiddenSubmitIsIgnored", R"(<input type="submit" id="h" style="display:none">)",
                      {{"keydown", "input#p", "13"},
                       {"keypress", "input#p", "13"},
                       {"click", "input#h", ""},
                       {"submit", "form#f", "input#h"},
                       {"keyup", "input#p", "13"}}},
        submit_case_t{"NoButtons", "", kEnterInPassword}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Fill, EnterStaysInThePasswordFieldWhenATextFieldFollows) {
  fill_fixture_t fx(R"(<form id="f"><input id="u" name="u"><input type="password" id="p" name="p"><input id="x" name="x"></form>)");
  fx.field("u", "user").field("p", "pass").field("x", "extra");
  fffilldata data = kLogin;
  data.profileitems.push_back({"extra", -1, "more"});
  EXPECT_EQ(NS_OK, fx.send(data));
  const auto& ev = fx.page->events();
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ((event_record_t{"focus", "input#p", ""}), ev[ev.size() - 4]);
  EXPECT_EQ((event_record_t{"keydown", "input#p", "13"}), ev[ev.size() - 3]);
}

TEST(Fill, ValueWritesAreTraced) {
  fill_fixture_t fx(R"(<form id="f"><input id="u" name="u"></form>)");
  fx.field("u", "user", field_edit, 3);
  tracecore::testing::capture_t trace;
  EXPECT_EQ(NS_OK, fx.send({0, {{"user", -1, "alice"}}}));
  EXPECT_TRUE(trace.has('U', R"(Sent value for <edit> <input id="u" name="u">)")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "field_ = user:3, profileitem_ = user:-1")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "rv = 0x0")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I08`'done ns = 0x0")) << trace.dump();
}

TEST(Fill, WithoutPasswordEnterGoesToTheLastTextField) {
  fill_fixture_t fx(R"(<form id="f"><input id="a" name="a"><input id="b" name="b"></form>)");
  fx.field("a", "user").field("b", "pass");
  EXPECT_EQ(NS_OK, fx.send(kLogin));
  EXPECT_EQ((event_record_t{"keydown", "input#b", "13"}), fx.page->events()[4]);
}

TEST(Fill, UnresolvedFieldStopsWithoutSubmitting) {
  fill_fixture_t fx(R"(<form id="f"><input id="u" name="u"><input type="password" id="p" name="p"><input type="submit"></form>)");
  fx.field("u", "user");
  ManifestField ghost;
  ghost.type = field_edit;
  ghost.displayname = "Ghost";
  ghost.dbname = "pass";
  ghost.path = "[sid]0.7..";  // an index the form's names table does not have
  fx.form.fields.push_back(ghost);
  fx.field("p", "pass");
  tracecore::testing::capture_t trace;
  EXPECT_EQ(NS_ERROR_FAILURE, fx.send(kLogin));
  const events_t expected = {{"focus", "input#u", ""}, {"value", "input#u", "alice"}};
  EXPECT_EQ(expected, fx.page->events());
  EXPECT_TRUE(trace.has('U', "'`I04`'unresolved field Ghost")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I04`'ns = 0x80004005")) << trace.dump();
}

TEST(Fill, ButtonFieldsAreNeverFilled) {
  fill_fixture_t fx(R"(<form id="f"><input id="u" name="u"><input type="checkbox" id="c" name="c"></form>)");
  fx.field("u", "user").field("c", "user", field_button);
  tracecore::testing::capture_t trace;
  EXPECT_EQ(NS_OK, fx.send({0, {{"user", -1, "1"}}}));
  EXPECT_EQ((events_t{{"focus", "input#u", ""}, {"value", "input#u", "1"}}), fx.page->events());
  EXPECT_TRUE(trace.contains('U', "'`I01`'IE field skipped: <button>, useit = 0, isbtn = 1, path = [sid]")) << trace.dump();
}

struct value_case_t {
  const char* name;
  const char* html;
  const char* value;
  events_t expected;
};

class Values : public ::testing::TestWithParam<value_case_t> {};

TEST_P(Values, WrittenAsTheControlTakesThem) {
  fill_fixture_t fx(GetParam().html);
  fx.field("x", "v");
  EXPECT_EQ(NS_OK, fx.send({0, {{"v", -1, GetParam().value}}}));
  EXPECT_EQ(GetParam().expected, fx.page->events()) << fx.page->events_json();
}

INSTANTIATE_TEST_SUITE_P(
    Controls, Values,
    ::testing::Values(
        value_case_t{"CheckBoxOn", R"(<form><input type="checkbox" id="x"></form>)", "1",
                     {{"focus", "input#x", ""}, {"checked", "input#x", "true"}}},
        value_case_t{"CheckBoxOffByAnyOtherValue", R"(<form><input type="checkbox" id="x" checked></form>)", "true",
                     {{"focus", "input#x", ""}, {"checked", "input#x", "false"}}},
        value_case_t{"Radio", R"(<form><input type="radio" id="x" name="r"></form>)", "1",
                     {{"focus", "input#x", ""}, {"checked", "input#x", "true"}}},
        value_case_t{"SelectByTextIgnoringCase",
                     R"(<form><select id="x"><option>France</option><option>Spain</option></select></form>)", "SPAIN",
                     {{"focus", "select#x", ""}, {"selectedIndex", "select#x", "1"}}},
        value_case_t{"SelectAlreadyRight",
                     R"(<form><select id="x"><option>France</option><option>Spain</option></select></form>)", "france",
                     {{"focus", "select#x", ""}}},
        value_case_t{"SelectWithoutTheValueLosesItsSelection",
                     R"(<form><select id="x"><option>France</option><option>Spain</option></select></form>)", "Italy",
                     {{"focus", "select#x", ""}, {"selectedIndex", "select#x", "-1"}}},
        value_case_t{"EmptyValueNeverMatchesAnOption",
                     R"(<form><select id="x"><option>France</option></select></form>)", "",
                     {{"focus", "select#x", ""}, {"selectedIndex", "select#x", "-1"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Fill, ItemChoiceByDbnameAndMemid) {
  fill_fixture_t fx(R"(<form><input id="a" name="a"><input id="b" name="b"></form>)");
  fx.field("a", "user", field_edit, 4).field("b", "other");
  // The first item of the dbname whose memid is -1 or the field's id; no item: nothing written.
  EXPECT_EQ(NS_OK, fx.send({0, {{"user", 3, "wrong"}, {"user", 4, "right"}, {"user", -1, "later"}}}));
  EXPECT_EQ((events_t{{"focus", "input#a", ""}, {"value", "input#a", "right"}}), fx.page->events());
}

TEST(Fill, FailedWriteTriesTheNextMatchingControl) {
  // Two controls with the same composed name share one identity.
  fill_fixture_t fx(R"(<form name="f"><input name="u"></form><form name="f"><input name="u"></form>)");
  ASSERT_EQ(2u, fx.controls.list().size());
  ManifestField f;
  f.type = field_edit;
  f.dbname = "user";
  f.path = fx.controls.list()[0].name;
  fx.form.fields.push_back(f);
  fx.page->fail_call("SetValue", 1, NS_ERROR_UNEXPECTED);
  EXPECT_EQ(NS_OK, fx.send({0, {{"user", -1, "alice"}}}));
  // Focus on the first, its write fails; focus on the second and its value.
  ASSERT_EQ(3u, fx.page->events().size()) << fx.page->events_json();
  EXPECT_EQ((event_record_t{"value", "input[name=u]", "alice"}), fx.page->events().back());

  fx.page->fail_call("SetValue", 0, NS_ERROR_UNEXPECTED);
  EXPECT_EQ(NS_ERROR_UNEXPECTED, fx.send({0, {{"user", -1, "alice"}}}));
}

TEST(Fill, ErrorsOfTheSubmitStep) {
  tracecore::testing::capture_t trace;
  {
    fill_fixture_t fx(R"(<form><input id="u" name="u"></form>)");
    EXPECT_EQ(NS_ERROR_INVALID_POINTER, fx.controls.send(nullptr, kLogin));
    EXPECT_TRUE(trace.has('E', "0 no current form")) << trace.dump();
  }
  {
    // Only a check box was filled: there is nothing to press Enter in.
    fill_fixture_t fx(R"(<form><input type="checkbox" id="c"></form>)");
    fx.field("c", "user");
    EXPECT_EQ(NS_ERROR_INVALID_POINTER, fx.send({1, {{"user", -1, "1"}}}));
    EXPECT_TRUE(trace.has('E', "0 no document to submit")) << trace.dump();
  }
  {
    fill_fixture_t fx(R"(<form><input id="u" name="u"></form>)");
    fx.field("u", "user");
    fx.page->fail_call("CreateEvent", 2, NS_ERROR_FAILURE);
    EXPECT_EQ(NS_ERROR_INVALID_POINTER, fx.send(kLogin));
    EXPECT_TRUE(trace.contains('E', ", 0x0, 0x")) << trace.dump();
    EXPECT_EQ(2u, fx.page->events().size());  // the value only: no key event was sent
  }
  {
    fill_fixture_t fx(R"(<form><input id="u" name="u"><input id="v" name="v"></form>)");
    fx.field("u", "user");
    fx.page->fail_call("DispatchEvent", 2, 0x80530009);
    EXPECT_EQ(0x80530009u, fx.send(kLogin));
    EXPECT_EQ((event_record_t{"keydown", "input#u", "13"}), fx.page->events().back());
  }
  {
    fill_fixture_t fx(R"(<form><input id="u" name="u"></form>)");
    fx.field("u", "user");
    EXPECT_EQ(NS_OK, fx.send({0, {{"user", -1, "a"}}}));
    EXPECT_EQ(2u, fx.page->events().size());  // no submission asked for
  }
}

TEST(KeyboardEvent, CreationSteps) {
  auto page = page_t::from_html("<p>x</p>");
  nsCOMPtr<nsIDOMEvent> ev;
  EXPECT_EQ(NS_OK, CFireFoxControls::CreateKeyboardEvent(page->document(), u"keyup", 13, ev));
  nsCOMPtr<nsIDOMKeyEvent> key = do_QueryInterface(ev);
  ASSERT_TRUE(key);
  PRUint32 code = 0;
  key->GetKeyCode(&code);
  EXPECT_EQ(13u, code);
  tracecore::testing::capture_t trace;
  page->fail_call("InitKeyEvent", 1, NS_ERROR_FAILURE);
  EXPECT_EQ(NS_ERROR_FAILURE, CFireFoxControls::CreateKeyboardEvent(page->document(), u"keyup", 13, ev));
  EXPECT_FALSE(ev);
  EXPECT_TRUE(trace.has('E', "0 InitKeyEvent failed")) << trace.dump();
  page->null_result("CreateEvent", 0);
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, CFireFoxControls::CreateKeyboardEvent(page->document(), u"keyup", 13, ev));
  EXPECT_TRUE(trace.has('E', "0 no cpdomevent")) << trace.dump();
  EXPECT_NE(NS_OK, CFireFoxControls::CreateKeyboardEvent(nullptr, u"keyup", 13, ev));
  EXPECT_TRUE(trace.has('E', "0 no cpdomwindow")) << trace.dump();
  key = nullptr;
  EXPECT_EQ(0u, page->outside_refs());
}

struct pwchange_case_t {
  const char* name;
  int passwords;                         // password fields on the page
  std::size_t items;                     // profile items the agent sends
  nsresult rv = NS_OK;
  std::vector<std::string> values = {};  // written, in order
};

class PasswordChange : public ::testing::TestWithParam<pwchange_case_t> {};

TEST_P(PasswordChange, FilledByPosition) {
  std::string html = R"(<form><input name="user">)";
  for (int i = 0; i < GetParam().passwords; ++i) html += "<input type=\"password\" name=\"p" + std::to_string(i) + "\">";
  fill_fixture_t fx(html + "</form>");
  fffilldata data{1, {}};
  for (std::size_t i = 0; i < GetParam().items; ++i) data.profileitems.push_back({"d", -1, "v" + std::to_string(i)});
  EXPECT_EQ(GetParam().rv, fx.controls.changePassword(data));
  std::vector<std::string> values;
  for (const auto& e : fx.page->events())
    if (e.type == "value") values.push_back(e.detail);
    else EXPECT_EQ("focus", e.type);  // nothing is submitted
  EXPECT_EQ(GetParam().values, values);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PasswordChange,
    ::testing::Values(
        pwchange_case_t{.name = "TwoFieldsBothGetTheNewPassword", .passwords = 2, .items = 2, .values = {"v1", "v1"}},
        pwchange_case_t{.name = "ThreeFieldsOldThenNew", .passwords = 3, .items = 3, .values = {"v0", "v1", "v1"}},
        pwchange_case_t{.name = "FourFields", .passwords = 4, .items = 2, .values = {"v0", "v1", "v1", "v1"}},
        pwchange_case_t{.name = "OnePasswordField", .passwords = 1, .items = 2, .rv = NS_ERROR_UNEXPECTED},
        pwchange_case_t{.name = "OneItem", .passwords = 3, .items = 1, .rv = NS_ERROR_UNEXPECTED}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
