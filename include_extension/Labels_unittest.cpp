#include <gtest/gtest.h>

#include "include_extension/Controls.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"
#include "tracecore/utf.h"

namespace {

using snapdom::page_t;

struct label_case_t {
  const char* name;
  const char* html;
  const char* control_id;
  const char* expected;
};

std::string label_of(page_t& page, const char* id) {
  ffcontrols controls;
  controls.build(page.document());
  controls.label();
  for (const ffcontrol& c : controls.list())
    if (c.m_esId == tracecore::to_utf16(id)) return c.dispname;
  ADD_FAILURE() << "no control " << id;
  return {};
}

class Labels : public ::testing::TestWithParam<label_case_t> {};

TEST_P(Labels, TextTheUserSees) {
  auto page = page_t::from_html(GetParam().html);
  EXPECT_EQ(GetParam().expected, label_of(*page, GetParam().control_id));
  EXPECT_EQ(0u, page->outside_refs());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Labels,
    ::testing::Values(
        label_case_t{"LabelForWithInlineMarkup",
                     R"(<form><label for="u">User <b>name</b></label><br><input id="u" name="user"></form>)", "u",
                     "User name"},
        label_case_t{"LabelForMatchesTheNameCaseInsensitively",
                     R"(<form><label for="USER">Login</label><input id="u" name="user"></form>)", "u", "Login"},
        label_case_t{"LabelByControlAttribute",
                     R"(<form><label control="u" value="Via control"></label><input id="u" name="user"></form>)", "u",
                     "Via control"},
        label_case_t{"TableRowCellBeforeTheField",
                     R"(<form><table><tr><td>Row above</td></tr><tr><td>User name:</td><td><input id="u" name="u"></td></tr></table></form>)",
                     "u", "User name:"},
        label_case_t{"CheckBoxTakesTheTextAfterIt",
                     R"(<form>Options <input type="checkbox" id="c" name="c"> Remember me</form>)", "c", "Remember me"},
        label_case_t{"TextFieldNeverTakesTheTextAfterIt", R"(<form><input id="u" name="u"> after</form>)", "u", ""},
        label_case_t{"AsteriskAndBlanksAreTrimmed", "<form>\n * Email:\xC2\xA0<input id=\"e\" name=\"e\"></form>", "e",
                     "Email:"},
        label_case_t{"PrecedingInputEndsTheSearch",
                     R"(<form>A <input name="a" id="a"> B <input id="b" name="b"></form>)", "b", "B"},
        label_case_t{"NestedPrecedingInputEndsTheSearch",
                     R"(<form>Email <span><input name="a" id="a"></span> <input id="b" name="b"></form>)", "b", ""},
        label_case_t{"HiddenInputIsNoBoundary",
                     R"(<form>Name <input type="hidden" name="h" value="x"><input id="b" name="b"></form>)", "b", "Name"},
        label_case_t{"ScriptTextIsNoLabel",
                     R"(<form>Login<script>var label = "no";</script><noscript>No</noscript><input id="u" name="u"></form>)",
                     "u", "Login"},
        label_case_t{"TheWalkStaysInTheForm", R"(Outside <form><input id="u" name="u"></form>)", "u", ""},
        label_case_t{"DivWithTextIsABoundary",
                     R"(<form><div>Section</div><div>Name <input id="n" name="n"></div></form>)", "n", "Name"},
        label_case_t{"EmptyDivIsPassedThrough",
                     R"(<form><div>Your name</div><div><span></span><input id="n" name="n"></div></form>)", "n",
                     "Your name"},
        label_case_t{"RadioIgnoresLabelElements",
                     R"(<form><div>Choice<input type="radio" id="r" name="r"></div><label for="r">Far</label></form>)",
                     "r", "Choice"},
        label_case_t{"EditUsesTheSameLabelElement",
                     R"(<form><div>Choice<input id="r" name="r"></div><label for="r">Far</label></form>)", "r", "Far"},
        label_case_t{"FirstMatchingLabelWins",
                     R"(<form><label for="x">Other</label><label for="u">First</label><label for="u">Second</label><input id="u" name="u"></form>)",
                     "u", "First"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LabelCall, NullElementAndMissingNames) {
  auto page = page_t::from_html(R"(<form>Text <input id="u" name="u"></form>)");
  std::string text = "old";
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, ffcontrol::label(nullptr, ctl_edit, u"a", u"b", text));
  nsCOMPtr<nsIDOMHTMLElement> e = do_QueryInterface(page->element_by_id("u"));
  tracecore::testing::capture_t trace;
  EXPECT_EQ(NS_ERROR_FAILURE, ffcontrol::label(e, ctl_edit, u"", u"", text));
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(trace.has('U', "m_esName and m_esId are empty")) << trace.dump();
  // Radio buttons do not look at label elements and so need no name.
  EXPECT_EQ(NS_OK, ffcontrol::label(e, ctl_radio, u"", u"", text));
  EXPECT_EQ("Text", text);
  EXPECT_TRUE(trace.has('U', "'`I08`'Done with label = 'Text', ns = 0x0")) << trace.dump();
}

TEST(LabelCall, StopsAreTraced) {
  auto page = page_t::from_html(R"(<form id="f"><input id="u" name="u"></form>)");
  tracecore::testing::capture_t trace;
  label_of(*page, "u");
  EXPECT_TRUE(trace.has('U', R"(LabelStatus = stop, StopFindLabel = 1, Node = <form id="f"></form>)")) << trace.dump();
}

// A form of 300 children: the walks find their start through the child list's index, in both
// directions, and take what a scan of a short list takes.
TEST(LabelCall, LongChildListsLabelAsShortOnes) {
  std::string html = "<form>";
  for (int k = 0; k < 100; ++k) {
    const std::string n = std::to_string(k);
    html += "<span>A" + n + "</span> <input id='t" + n + "' name='t" + n + "'><input type='checkbox' id='c" + n +
            "' name='c" + n + "'> <span>B" + n + "</span> ";
  }
  auto page = page_t::from_html(html + "</form>");
  EXPECT_EQ("B49 A50", label_of(*page, "t50"));
  EXPECT_EQ("B50 A51", label_of(*page, "c50"));
  EXPECT_EQ("A0", label_of(*page, "t0"));
  EXPECT_EQ("B99", label_of(*page, "c99"));
  EXPECT_EQ(0u, page->outside_refs());
}

}  // namespace
