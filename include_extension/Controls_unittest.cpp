#include "include_extension/Controls.h"

#include <map>

#include <gtest/gtest.h>

#include <set>

#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"

namespace {

using snapdom::page_t;

struct summary_t {
  std::string type;
  std::string parent;
  std::string formname;
  std::string composed;
  std::string value;
  bool operator==(const summary_t&) const = default;
};

std::ostream& operator<<(std::ostream& os, const summary_t& s) {
  return os << "{" << s.type << ", '" << s.parent << "', '" << s.formname << "', '" << s.composed << "', '" << s.value
            << "'}";
}

std::vector<summary_t> summarize(const ffcontrols& controls) {
  std::vector<summary_t> out;
  for (const ffcontrol& c : controls.list())
    out.push_back({ffcontrol_type_name(c.type), c.parent, c.formname, c.composed, c.value});
  return out;
}

std::vector<summary_t> build(const std::string& html) {
  auto page = page_t::from_html(html);
  ffcontrols controls;
  controls.build(page->document());
  return summarize(controls);
}

TEST(Enumeration, FrameControlsComeFirstWithTheFrameUri) {
  auto page = page_t::from_html(
      R"(<form name="top"><input name="q"></form><iframe src="https://login.example.test/frame"></iframe>
         <select name="lang"><option>en</option></select>)",
      "https://www.example.test/",
      {{"https://login.example.test/frame",
        R"(<form name="login"><input name="user"><input type="password" name="pass"></form>)"}});
  ffcontrols controls;
  controls.build(page->document());
  const std::vector<summary_t> expected = {
      {"edit", "https://login.example.test/frame", "login", "login..user", ""},
      {"psw", "https://login.example.test/frame", "login", "login..pass", ""},
      {"edit", "", "top", "top..q", ""},
      {"listbx", "", "", "..lang", "en"},
  };
  EXPECT_EQ(expected, summarize(controls));
  controls = ffcontrols();
  EXPECT_EQ(0u, page->outside_refs());
}

struct kind_case_t {
  const char* name;
  const char* html;
  std::vector<summary_t> expected;
};

class ControlKinds : public ::testing::TestWithParam<kind_case_t> {};

TEST_P(ControlKinds, TypesValuesAndWhatIsDropped) { EXPECT_EQ(GetParam().expected, build(GetParam().html)); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ControlKinds,
    ::testing::Values(
        kind_case_t{"EmailIsEditHiddenIsDropped",
                    R"(<form id="f"><input type="EMAIL" name="e"><input type="hidden" name="h"><input type="submit" name="s"></form>)",
                    {{"edit", "", "f", "f..e", ""}}},
        kind_case_t{"ZeroSizePasswordStaysZeroSizeTextGoes",
                    R"(<form id="f"><input name="t" style="display: none"><input type="password" name="p" hidden></form>)",
                    {{"psw", "", "f", "f..p", ""}}},
        kind_case_t{"NoNameNoIdIsDropped", R"(<form id="f"><input type="text"><input id="x"></form>)",
                    {{"edit", "", "f", "f.x.", ""}}},
        kind_case_t{"ChecksAndRadios",
                    R"(<form id="f"><input type="checkbox" name="c" checked><input type="radio" name="r"></form>)",
                    {{"check", "", "f", "f..c", "1"}, {"radio", "", "f", "f..r", "0"}}},
        kind_case_t{"MultipleSelectHasNoValue",
                    R"(<form id="f"><select name="m" multiple><option selected>a</option></select></form>)",
                    {{"listbx", "", "f", "f..m", ""}}},
        kind_case_t{"OrderIsInputsTextboxesSelects",
                    R"(<select name="s"><option>x</option></select><textbox id="tb"><input anonid="input" id="in"></textbox><input name="i">)",
                    {{"edit", "", "", "..i", ""}, {"edit", "", "", ".in.", ""}, {"listbx", "", "", "..s", "x"}}},
        kind_case_t{"DotsInPartsBecomeUnderscores", R"(<form name="a.b"><input id="c.d" name="e.f"></form>)",
                    {{"edit", "", "a.b", "a_b.c_d.e_f", ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Enumeration, SelectOptionsAndSelectedValue) {
  auto page = page_t::from_html(
      R"(<form id="f"><select name="country"><option>France</option><option selected>Spain</option><option></option><option>Italy</option></select></form>)");
  ffcontrols controls;
  controls.build(page->document());
  ASSERT_EQ(1u, controls.list().size());
  // The empty option has no text node: it is skipped.
  EXPECT_EQ((std::vector<std::string>{"France", "Spain", "Italy"}), controls.list()[0].options);
  EXPECT_EQ("Spain", controls.list()[0].value);
}

struct form_name_case_t {
  const char* name;
  const char* form_attrs;
  const char* expected;
};

class FormNameRule : public ::testing::TestWithParam<form_name_case_t> {};

TEST_P(FormNameRule, NameThenIdThenMarker) {
  for (const char* control : {R"(<input name="u">)", R"(<select name="u"><option>a</option></select>)"}) {
    const auto got = build(std::string("<form ") + GetParam().form_attrs + ">" + control + "</form>");
    ASSERT_EQ(1u, got.size()) << control;
    EXPECT_EQ(GetParam().expected, got[0].formname) << control;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormNameRule,
    ::testing::Values(form_name_case_t{"Name", R"(name="login" id="x")", "login"},
                      form_name_case_t{"IdWhenNoName", R"(id="f")", "f"},
                      form_name_case_t{"GuidNameFallsBackToId", R"(name="{3F2504E0-4F89-11D3-9A0C-0305E82C3301}" id="f")", "f"},
                      form_name_case_t{"BothGuids",
                                       R"(name="{3f2504e0-4f89-11d3-9a0c-0305e82c3301}" id="{00000000-0000-0000-C000-000000000046}")",
                                       kUnnamedFormMarker},
                      form_name_case_t{"BothEmpty", "", kUnnamedFormMarker},
                      form_name_case_t{"GuidWithoutBracesIsAName", R"(name="3F2504E0-4F89-11D3-9A0C-0305E82C3301")",
                                       "3F2504E0-4F89-11D3-9A0C-0305E82C3301"},
                      form_name_case_t{"BadGuidDigitIsAName", R"(name="{3F2504E0-4F89-11D3-9A0C-0305E82C330G}")",
                                       "{3F2504E0-4F89-11D3-9A0C-0305E82C330G}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Enumeration, InputOutsideAnyForm) {
  auto page = page_t::from_html(R"(<input name="search" id="q">)");
  tracecore::testing::capture_t trace;
  ffcontrols controls;
  controls.build(page->document());
  ASSERT_EQ(1u, controls.list().size());
  EXPECT_EQ("", controls.list()[0].formname);
  EXPECT_EQ(".q.search", controls.list()[0].composed);
  EXPECT_TRUE(trace.has('U', R"('`I04`'UNNAMED form <input name="search" id="q">)")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I08`'Total <input> = 1.")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I06`'Building for: https://www.example.test/")) << trace.dump();
}

TEST(Enumeration, VisibilityAndCheckTraces) {
  auto page = page_t::from_html(R"(<form id="f"><input name="t" hidden><input type="password" name="p" hidden></form>)");
  tracecore::testing::capture_t trace;
  ffcontrols controls;
  controls.build(page->document());
  EXPECT_TRUE(trace.has('U', "isVisible() failed as result of getRect()")) << trace.dump();
  EXPECT_TRUE(trace.has('U', R"(  An element: <input name="t" hidden="">)")) << trace.dump();
  EXPECT_TRUE(trace.has('U', R"('`I08`'Check 'unknown': <input name="t" hidden="">)")) << trace.dump();
  EXPECT_TRUE(trace.has('U', R"('`I08`'Check 'psw': <input type="password" name="p" hidden="">)")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I08`'-----")) << trace.dump();
}

TEST(Identity, EncodedWithThePageStringTable) {
  auto page = page_t::from_html(
      R"(<form name="f1"><input id="login" name="user"><input type="password" id="pw" name="pass"></form>
         <form name="f1"><input id="login" name="user"></form>)");
  ffcontrols controls;
  controls.build(page->document());
  ASSERT_EQ(3u, controls.list().size());
  EXPECT_EQ("[sid]0.1.2..", controls.list()[0].name);
  EXPECT_EQ("[sid]0.3.2..", controls.list()[1].name);
  EXPECT_EQ("[sid]0.1.2..", controls.list()[2].name);  // the same composed name, the same identity
  EXPECT_EQ((ffstring_table{"101", "f1.login.user", "f1", "f1.pw.pass"}), controls.strings());
  EXPECT_NE(-1, controls.list()[0].memID);
}

TEST(Identity, EncodingRules) {
  ffstring_table t;
  EXPECT_EQ("", encodeControlIdentity(0, "a", "b", "", "", t));
  EXPECT_EQ("", encodeControlIdentity(0x101, "", "", "", "", t));
  EXPECT_TRUE(t.empty());
  for (int i = 0; i < 17; ++i) t.push_back("s" + std::to_string(i));
  EXPECT_EQ("[sid]11.12...", encodeControlIdentity(0x101, ".x.y", "", "", "", t));  // hexadecimal indexes
}

TEST(Textbox, InnerInputIsTheElementAndItsIdWins) {
  auto page = page_t::from_html(
      R"(<textbox id="outer"><input anonid="input" id="inner" name="n"></textbox><textbox id="only"><input anonid="input" name="m"></textbox>)");
  ffcontrols controls;
  controls.build(page->document());
  ASSERT_EQ(2u, controls.list().size());
  EXPECT_EQ("input#inner", page_t::describe(controls.list()[0].element));
  EXPECT_EQ(".inner.n", controls.list()[0].composed);
  // The inner input has no id: its empty id replaces the textbox's, as in manifests trained on such
  // pages.
  EXPECT_EQ("..m", controls.list()[1].composed);
}

TEST(MemId, UniquePerControlOfOneEnumeration) {
  std::string html;
  for (int i = 0; i < 50; ++i) html += "<input name=\"f" + std::to_string(i) + "\">";
  auto page = page_t::from_html(html);
  ffcontrols controls;
  controls.build(page->document());  // well within one millisecond, as a rule
  ASSERT_EQ(50u, controls.list().size());
  std::set<std::int32_t> ids;
  for (const ffcontrol& c : controls.list()) ids.insert(c.memID);
  EXPECT_EQ(50u, ids.size());
  EXPECT_EQ(0u, ids.count(-1));
}

TEST(HasFirefoxControls, BelowAnElement) {
  auto page = page_t::from_html(
      R"(<div id="a"><input type="hidden" name="h"><input name="x"></div><div id="b"><input type="submit" name="s"></div>)");
  tracecore::testing::capture_t trace;
  EXPECT_TRUE(ffcontrols::HasFirefoxControls(page->element_by_id("a")));
  EXPECT_TRUE(trace.has('U', R"('`I08`'pdomnode = <input name="x">)")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I02`'ok = 1")) << trace.dump();
  EXPECT_FALSE(ffcontrols::HasFirefoxControls(page->element_by_id("b")));
  EXPECT_TRUE(trace.has('U', "'`I08`'Total <select> = 0, rv = 0")) << trace.dump();
  EXPECT_FALSE(ffcontrols::HasFirefoxControls(nullptr));
  EXPECT_TRUE(trace.has('E', "0 pdomelement_ is null")) << trace.dump();
  EXPECT_EQ(0u, page->outside_refs());
}

TEST(Enumeration, FailedFrameWalkKeepsWhatWasFound) {
  // The second frame's document cannot be read: the walk of the top document ends there, and the
  // controls found so far and those of the top document remain.
  auto page = page_t::from_html(
      R"(<iframe src="https://www.example.test/a"></iframe><iframe src="https://ads.example.net/"></iframe>
         <iframe src="https://www.example.test/c"></iframe><input name="top">)",
      "https://www.example.test/",
      {{"https://www.example.test/a", R"(<input name="a">)"}, {"https://www.example.test/c", R"(<input name="c">)"}});
  ffcontrols controls;
  controls.build(page->document());
  std::vector<std::string> names;
  for (const auto& c : controls.list()) names.push_back(c.composed);
  EXPECT_EQ((std::vector<std::string>{"..a", "..top"}), names);
}

TEST(Enumeration, NullItemsAndDocumentsAreSkipped) {
  auto page = page_t::from_html(R"(<iframe src="https://www.example.test/f"></iframe><input name="a"><input name="b">)",
                                "https://www.example.test/", {{"https://www.example.test/f", R"(<input name="c">)"}});
  page->null_result("nsIDOMWindow::GetDocument", 1);
  page->null_result("nsIDOMNodeList::Item", 1);
  tracecore::testing::capture_t trace;
  ffcontrols controls;
  controls.build(page->document());
  ASSERT_EQ(1u, controls.list().size());
  EXPECT_EQ("..b", controls.list()[0].composed);
  EXPECT_TRUE(trace.has('E', "0 null document")) << trace.dump();
  EXPECT_TRUE(trace.has('E', "0 null element: 0")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I08`'Total <input> = 2.")) << trace.dump();

  controls.build(nullptr);
  EXPECT_TRUE(controls.list().empty());
  ffcontrol none;
  ffstring_table strings;
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, none.build(page->document(), nullptr, strings));
  EXPECT_FALSE(none.isValid());
}

// Every DOM call made while enumerating, labelling and filling a page is made to fail (and to yield
// an empty pointer) in turn: nothing may crash, leak a reference or throw.
TEST(Enumeration, EveryDomCallMayFail) {
  const char* html = R"(<iframe src="https://www.example.test/f"></iframe>
      <form name="login"><table><tr><td>User</td><td><input name="user" id="u"></td></tr></table>
      <label for="p">Password</label><input type="password" name="p" id="p"><input type="checkbox" name="c">
      <select name="s"><option>a</option></select><textbox id="t"><input anonid="input" name="tb"></textbox>
      <input type="submit" id="go"></form>)";
  const std::vector<page_t::frame_html_t> frames = {{"https://www.example.test/f", R"(<input name="inner">)"}};
  std::vector<std::string> calls;
  {
    auto page = page_t::from_html(html, "https://www.example.test/", frames);
    page->record_calls(true);
    ffcontrols controls;
    controls.build(page->document());
    controls.label();
    calls = page->calls();
  }
  ASSERT_GT(calls.size(), 100u);
  std::map<std::string, int> seen;
  for (std::size_t k = 0; k < calls.size(); ++k) {
    const int nth = ++seen[calls[k]];
    for (bool null_out : {false, true}) {
      auto page = page_t::from_html(html, "https://www.example.test/", frames);
      if (null_out) page->null_result(calls[k], nth);
      else page->fail_call(calls[k], nth, NS_ERROR_FAILURE);
      {
        ffcontrols controls;
        controls.build(page->document());
        controls.label();
        for (auto& c : controls.list()) (void)c.getRect();
      }
      EXPECT_EQ(0u, page->outside_refs()) << calls[k] << " #" << nth << (null_out ? " (null)" : "");
    }
  }
}

}  // namespace
