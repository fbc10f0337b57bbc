#include "include_extension/Utils.h"

#include <gtest/gtest.h>

#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"

namespace {

using snapdom::page_t;

TEST(NsOk, TracesTheFailingExpressionAndKeepsTheCode) {
  tracecore::testing::capture_t trace;
  EXPECT_EQ(NS_OK, NSOK_AT(NS_OK, "a->B()", "x/ExtensionImpl.cpp", 7));
  EXPECT_EQ(0u, trace.records().size());
  EXPECT_EQ(NS_ERROR_FAILURE, NSOK_AT(NS_ERROR_FAILURE, "pdomnodelist->GetLength(&pdomnodelist_size)", "src/Controls.cpp", 42));
  EXPECT_TRUE(trace.has('U', "NSOK(pdomnodelist->GetLength(&pdomnodelist_size)) = 0x80004005 [42 : Controls]")) << trace.dump();
  // A success-class code with a value still counts as a failure.
  EXPECT_EQ(1u, NSOK_AT(1u, "x", "ExtensionImpl", 2041));
  EXPECT_TRUE(trace.has('U', "NSOK(x) = 0x1 [2041 : ExtensionImpl]")) << trace.dump();
  nsIDOMNode* none = nullptr;
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, NSOK(NSPTR(none)));
  EXPECT_TRUE(trace.contains('U', "NSOK(NSPTR(none)) = 0x80004003 [")) << trace.dump();
  // The positive form: the same trace, the opposite sense, and a step that runs only on success.
  const std::size_t traced = trace.records().size();
  int steps = 0;
  EXPECT_FALSE(NSDONE(NSPTR(none)) && ++steps);
  EXPECT_TRUE(trace.contains('U', "NSOK(NSPTR(none)) = 0x80004003 [")) << trace.dump();
  EXPECT_EQ(traced + 1, trace.records().size());
  EXPECT_TRUE(NSDONE(NSPTR(&steps)) && ++steps);
  EXPECT_EQ(1, steps);
}

TEST(NsOk, LongExpressionsAreCutToTheBuffer) {
  tracecore::testing::capture_t trace;
  const std::string expr(5000, 'x');
  NSOK_AT(NS_ERROR_FAILURE, expr.c_str(), "u", 1);
  ASSERT_FALSE(trace.records().empty());
  EXPECT_EQ(2047u, trace.records().back().text.size());
}

TEST(DocAttr, SetGetRemoveRoundTrip) {
  auto page = page_t::from_html("<p>x</p>");
  nsIDOMDocument* doc = page->document();
  EXPECT_EQ("", GetDocAttr(doc, u"kxffagent_docid"));
  EXPECT_TRUE(SetDocAttr(doc, u"kxffagent_docid", "1a2b"));
  EXPECT_EQ("1a2b", GetDocAttr(doc, u"kxffagent_docid"));
  EXPECT_TRUE(RemoveDocAttr(doc, u"kxffagent_docid"));
  EXPECT_EQ("", GetDocAttr(doc, u"kxffagent_docid"));
  EXPECT_EQ(0u, page->outside_refs());
}

TEST(DocAttr, RemovingAnAbsentAttributeSucceedsWithoutRemoving) {
  auto page = page_t::from_html("<p>x</p>");
  page->record_calls(true);
  EXPECT_TRUE(RemoveDocAttr(page->document(), u"kxffagent_docid"));
  for (const auto& c : page->calls()) EXPECT_NE("nsIDOMElement::RemoveAttribute", c);
  EXPECT_TRUE(page->events().empty());
}

TEST(DocAttr, DocumentWithoutRootElement) {
  auto page = page_t::load_json(R"({"url":"https://a.test/","document":{"children":[]}})");
  tracecore::testing::capture_t trace;
  EXPECT_EQ("", GetDocAttr(page->document(), u"a"));
  EXPECT_FALSE(SetDocAttr(page->document(), u"a", "1"));
  EXPECT_FALSE(RemoveDocAttr(page->document(), u"a"));
  EXPECT_EQ(3u, trace.records().size()) << trace.dump();
  for (const auto& r : trace.records()) EXPECT_EQ("0 null element", r.text);
}

struct named_failure_t {
  const char* method;
  const char* trace;
};

class DocAttrFailures : public ::testing::TestWithParam<named_failure_t> {};

TEST_P(DocAttrFailures, EveryStepIsCheckedUnderItsName) {
  auto page = page_t::from_html("<p>x</p>");
  SetDocAttr(page->document(), u"a", "v");
  page->fail_call(GetParam().method, 0, NS_ERROR_FAILURE);
  tracecore::testing::capture_t trace;
  const std::string op = GetParam().trace;
  if (op.starts_with("GetDocAttr")) {
    EXPECT_EQ("", GetDocAttr(page->document(), u"a"));
  } else if (op.starts_with("SetDocAttr")) {
    EXPECT_FALSE(SetDocAttr(page->document(), u"a", "w"));
  } else {
    EXPECT_FALSE(RemoveDocAttr(page->document(), u"a"));
  }
  EXPECT_TRUE(trace.has('U', op + " [80004005]")) << trace.dump();
  EXPECT_EQ(0u, page->outside_refs());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DocAttrFailures,
    ::testing::Values(named_failure_t{"GetDocumentElement", "GetDocAttr::GetDocumentElement"},
                      named_failure_t{"HasAttribute", "GetDocAttr::HasAttribute"},
                      named_failure_t{"GetAttribute", "GetDocAttr::GetAttribute"},
                      named_failure_t{"GetDocumentElement", "SetDocAttr::GetDocumentElement"},
                      named_failure_t{"SetAttribute", "SetDocAttr::SetAttribute"},
                      named_failure_t{"GetDocumentElement", "RemoveDocAttr::GetDocumentElement"},
                      named_failure_t{"HasAttribute", "RemoveDocAttr::HasAttribute"},
                      named_failure_t{"RemoveAttribute", "RemoveDocAttr::RemoveAttribute"}));

TEST(NodeAttr, TextNodesAreNoElements) {
  auto page = page_t::from_html(R"(<p id="p">hello</p>)");
  nsCOMPtr<nsIDOMNode> text;
  page->element_by_id("p")->GetFirstChild(getter_AddRefs(text));
  std::u16string value = u"untouched";
  EXPECT_EQ(NS_ERROR_NO_INTERFACE, GetNodeAttr(text, u"id", value));
  EXPECT_EQ(u"untouched", value);
  EXPECT_EQ(NS_OK, GetNodeAttr(page->element_by_id("p"), u"id", value));
  EXPECT_EQ(u"p", value);
}

TEST(DocumentWindow, FailureIsTracedAndLeavesNoWindow) {
  auto page = page_t::from_html("<p>x</p>");
  nsCOMPtr<nsIDOMWindow> w;
  EXPECT_EQ(NS_OK, GetDocumentWindow(page->document(), w));
  EXPECT_EQ(page->window(), w.get());
  page->null_result("GetDefaultView", 1);
  tracecore::testing::capture_t trace;
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, GetDocumentWindow(page->document(), w));
  EXPECT_FALSE(w);
  EXPECT_TRUE(trace.has('U', "'`I04`'<- GetDocumentWindow rv_pwindow_ = 0x0, ns = 0x80004003")) << trace.dump();
}

TEST(InnerHtml, ElementTextAndOthers) {
  auto page = page_t::from_html(R"(<form id="f" name="login"><input id="u" name="user"> Name &amp; more</form>)");
  nsIDOMElement* form = page->element_by_id("f");
  EXPECT_EQ(R"(<form id="f" name="login"></form>)", getInnerHTML(form));
  EXPECT_EQ(R"(<input id="u" name="user">)", getInnerHTML(page->element_by_id("u")));
  nsCOMPtr<nsIDOMNode> input, text;
  form->GetFirstChild(getter_AddRefs(input));
  nsCOMPtr<nsIDOMNodeList> kids;
  form->GetChildNodes(getter_AddRefs(kids));
  kids->Item(1, getter_AddRefs(text));
  EXPECT_EQ(" Name & more", getInnerHTML(text));
  EXPECT_EQ("", getInnerHTML(page->document()));
  EXPECT_EQ("", getInnerHTML(nullptr));
  page->fail_call("CreateElement", 1, NS_ERROR_FAILURE);
  EXPECT_EQ("", getInnerHTML(form));
  kids = nullptr;
  input = nullptr;
  text = nullptr;
  EXPECT_EQ(0u, page->outside_refs());
}

}  // namespace
