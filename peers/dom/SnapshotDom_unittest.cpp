#include "peers/dom/SnapshotDom.h"

#include <gtest/gtest.h>

#include "tracecore/utf.h"

namespace {

using snapdom::event_record_t;
using snapdom::page_t;

std::string str(const nsString& s) { return tracecore::to_utf8(s.view()); }

nsCOMPtr<nsIDOMNode> item(nsIDOMNodeList* list, PRUint32 i) {
  nsCOMPtr<nsIDOMNode> n;
  EXPECT_EQ(NS_OK, list->Item(i, getter_AddRefs(n)));
  return n;
}

nsCOMPtr<nsIDOMNodeList> by_tag(nsIDOMDocument* doc, std::u16string_view tag) {
  nsCOMPtr<nsIDOMNodeList> list;
  EXPECT_EQ(NS_OK, doc->GetElementsByTagName(nsString(tag), getter_AddRefs(list)));
  return list;
}

template <class T>
nsCOMPtr<T> by_id(page_t& page, const char* id) {
  nsCOMPtr<T> p = do_QueryInterface(page.element_by_id(id));
  EXPECT_TRUE(p) << id;
  return p;
}

TEST(SnapshotDom, TreeNamesAttributesAndReferenceBalance) {
  auto page = page_t::from_html(R"(<form id="f"><b>User</b> <input name="u" id="user" value="a&amp;b"></form>)");
  {
    nsCOMPtr<nsIDOMNodeList> inputs = by_tag(page->document(), u"INPUT");
    PRUint32 n = 0;
    ASSERT_EQ(NS_OK, inputs->GetLength(&n));
    ASSERT_EQ(1u, n);
    nsCOMPtr<nsIDOMNode> input = item(inputs, 0);
    nsString name;
    ASSERT_EQ(NS_OK, input->GetNodeName(name));
    EXPECT_EQ("INPUT", str(name));
    nsCOMPtr<nsIDOMHTMLInputElement> in = do_QueryInterface(input);
    ASSERT_TRUE(in);
    nsString value, type;
    in->GetValue(value);
    in->GetType(type);
    EXPECT_EQ("a&b", str(value));
    EXPECT_EQ("text", str(type));
    nsCOMPtr<nsIDOMHTMLSelectElement> not_select = do_QueryInterface(input);
    EXPECT_FALSE(not_select);

    // Identity: the same node reached two ways is the same nsISupports.
    nsCOMPtr<nsIDOMHTMLFormElement> form;
    ASSERT_EQ(NS_OK, in->GetForm(getter_AddRefs(form)));
    nsCOMPtr<nsISupports> a = do_QueryInterface(form);
    nsCOMPtr<nsISupports> b = do_QueryInterface(page->element_by_id("f"));
    EXPECT_EQ(a.get(), b.get());
    EXPECT_GT(page->outside_refs(), 0u);
  }
  EXPECT_EQ(0u, page->outside_refs());
}

TEST(SnapshotDom, FaultsHitTheNthCallOrYieldEmptyPointers) {
  auto page = page_t::from_html(R"(<input id="a"><input id="b">)");
  nsCOMPtr<nsIDOMNodeList> inputs = by_tag(page->document(), u"input");
  page->fail_call("nsIDOMNodeList::Item", 2, NS_ERROR_UNEXPECTED);
  nsCOMPtr<nsIDOMNode> n;
  EXPECT_EQ(NS_OK, inputs->Item(0, getter_AddRefs(n)));
  EXPECT_EQ(NS_ERROR_UNEXPECTED, inputs->Item(1, getter_AddRefs(n)));
  EXPECT_FALSE(n);
  EXPECT_EQ(NS_OK, inputs->Item(1, getter_AddRefs(n)));
  EXPECT_TRUE(n);

  page->null_result("GetParentNode", 0);
  nsCOMPtr<nsIDOMNode> parent;
  EXPECT_EQ(NS_OK, n->GetParentNode(getter_AddRefs(parent)));
  EXPECT_FALSE(parent);

  page->fail_call("GetAttribute", 1, 0x00000001);  // a success-class code still counts as a result
  nsCOMPtr<nsIDOMElement> e = do_QueryInterface(n);
  nsString v;
  EXPECT_EQ(0x00000001u, e->GetAttribute(nsString(u"id"), v));
}

TEST(SnapshotDom, FormOwnerByAncestorByFormAttributeAndByRecordedIndex) {
  auto page = page_t::from_html(R"(<form id="f1"><input id="in1"></form><form id="f2"></form>
    <input id="out"><input id="assoc" form="f2">)");
  auto owner = [&](const char* id) {
    nsCOMPtr<nsIDOMHTMLFormElement> f;
    EXPECT_EQ(NS_OK, by_id<nsIDOMHTMLInputElement>(*page, id)->GetForm(getter_AddRefs(f)));
    return f ? page_t::describe(f) : std::string("none");
  };
  EXPECT_EQ("form#f1", owner("in1"));
  EXPECT_EQ("none", owner("out"));
  EXPECT_EQ("form#f2", owner("assoc"));

  auto snap = page_t::load_json(R"({"url":"https://a.test/","document":{"children":[{"tag":"html","children":[
    {"tag":"form","attrs":[["id","x"]]},
    {"tag":"input","attrs":[["id","i"]],"control":{"type":"password","value":"","form":0}}]}]}})");
  nsCOMPtr<nsIDOMHTMLInputElement> i = by_id<nsIDOMHTMLInputElement>(*snap, "i");
  nsCOMPtr<nsIDOMHTMLFormElement> f;
  ASSERT_EQ(NS_OK, i->GetForm(getter_AddRefs(f)));
  EXPECT_EQ("form#x", page_t::describe(f));
}

struct submit_case_t {
  const char* name;
  const char* html;
  std::vector<event_record_t> expected;
};

class EnterKey : public ::testing::TestWithParam<submit_case_t> {};

TEST_P(EnterKey, SubmitsAsABrowserWould) {
  auto page = page_t::from_html(GetParam().html);
  nsCOMPtr<nsIDOMDocument> doc = page->document();
  nsCOMPtr<nsIDOMEvent> ev;
  ASSERT_EQ(NS_OK, doc->CreateEvent(nsString(u"KeyboardEvent"), getter_AddRefs(ev)));
  nsCOMPtr<nsIDOMKeyEvent> key = do_QueryInterface(ev);
  ASSERT_EQ(NS_OK, key->InitKeyEvent(nsString(u"keypress"), true, true, page->window(), false, false, false,
                                      false, 13, 0));
  nsCOMPtr<nsIDOMEventTarget> target = do_QueryInterface(page->element_by_id("pw"));
  bool enabled = false;
  ASSERT_EQ(NS_OK, target->DispatchEvent(ev, &enabled));
  EXPECT_EQ(GetParam().expected, page->events()) << page->events_json();
}

INSTANTIATE_TEST_SUITE_P(
    Forms, EnterKey,
    ::testing::Values(
        submit_case_t{"DefaultButtonIsClicked",
                      R"(<form id="f"><input id="u"><input type="password" id="pw"><input type="submit" id="go"></form>)",
                      {{"keypress", "input#pw", "13"}, {"click", "input#go", ""}, {"submit", "form#f", "input#go"}}},
        submit_case_t{"TwoFieldsWithoutButtonDoNothing",
                      R"(<form id="f"><input id="u"><input type="password" id="pw"></form>)",
                      {{"keypress", "input#pw", "13"}}},
        submit_case_t{"OneFieldWithoutButtonSubmits",
                      R"(<form id="f"><input type="password" id="pw"><input type="checkbox" id="c"></form>)",
                      {{"keypress", "input#pw", "13"}, {"submit", "form#f", ""}}},
        submit_case_t{"NoFormNoSubmission", R"(<input type="password" id="pw"><input type="submit">)",
                      {{"keypress", "input#pw", "13"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SnapshotDom, ClicksCheckboxesRadiosAndButtons) {
  auto page = page_t::from_html(R"(<form id="f"><input type="radio" name="r" id="r1" checked>
    <input type="radio" name="r" id="r2"><input type="checkbox" id="c"><input type="button" id="b"></form>)");
  by_id<nsIDOMHTMLElement>(*page, "r2")->Click();
  by_id<nsIDOMHTMLElement>(*page, "c")->Click();
  by_id<nsIDOMHTMLElement>(*page, "b")->Click();
  const std::vector<event_record_t> expected = {
      {"click", "input#r2", ""}, {"checked", "input#r2", "true"}, {"checked", "input#r1", "false"},
      {"click", "input#c", ""},  {"checked", "input#c", "true"},  {"click", "input#b", ""}};
  EXPECT_EQ(expected, page->events());
}

TEST(SnapshotDom, TextboxInnerInputIsAnonymous) {
  auto page = page_t::from_html(R"(<textbox id="t"><input anonid="input" id="inner"></textbox>)");
  nsCOMPtr<nsIDOMNodeList> inputs = by_tag(page->document(), u"input");
  PRUint32 n = 9;
  inputs->GetLength(&n);
  EXPECT_EQ(0u, n);
  nsCOMPtr<nsIDOMNodeList> boxes = by_tag(page->document(), u"textbox");
  nsCOMPtr<nsIDOMElement> box = do_QueryInterface(item(boxes, 0));
  nsCOMPtr<nsIDOMHTMLElement> not_html = do_QueryInterface(box);
  EXPECT_FALSE(not_html);
  nsString name;
  box->GetNodeName(name);
  EXPECT_EQ("textbox", str(name));
  nsCOMPtr<nsIDOMDocumentXBL> xbl = do_QueryInterface(page->document());
  nsCOMPtr<nsIDOMElement> inner;
  ASSERT_EQ(NS_OK, xbl->GetAnonymousElementByAttribute(box, nsString(u"anonid"), nsString(u"input"),
                                                       getter_AddRefs(inner)));
  nsCOMPtr<nsIDOMHTMLInputElement> in = do_QueryInterface(inner);
  EXPECT_TRUE(in);
}

TEST(SnapshotDom, FramesAndCrossOriginWindows) {
  auto page = page_t::from_html(R"(<iframe src="https://a.test/in"></iframe><iframe src="https://other.test/"></iframe>)",
                                "https://a.test/", {{"https://a.test/in", "<input id='x'>"}});
  nsCOMPtr<nsIDOMWindowCollection> frames;
  ASSERT_EQ(NS_OK, page->window()->GetFrames(getter_AddRefs(frames)));
  PRUint32 n = 0;
  frames->GetLength(&n);
  ASSERT_EQ(2u, n);
  nsCOMPtr<nsIDOMWindow> w0, w1;
  frames->Item(0, getter_AddRefs(w0));
  frames->Item(1, getter_AddRefs(w1));
  nsCOMPtr<nsIDOMDocument> d0, d1;
  EXPECT_EQ(NS_OK, w0->GetDocument(getter_AddRefs(d0)));
  nsCOMPtr<nsIDOMHTMLDocument> html = do_QueryInterface(d0);
  nsString url;
  html->GetURL(url);
  EXPECT_EQ("https://a.test/in", str(url));
  EXPECT_NE(NS_OK, w1->GetDocument(getter_AddRefs(d1)));
  EXPECT_EQ("frame0:input#x", page_t::describe(page->element_by_id("x")));
}

TEST(SnapshotDom, ShallowCloneIntoDivGivesTheElementsOwnMarkup) {
  auto page = page_t::from_html(R"(<label for="u" class="l">User <b>name</b></label>)");
  nsCOMPtr<nsIDOMNode> label = item(by_tag(page->document(), u"label"), 0);
  nsCOMPtr<nsIDOMNode> clone;
  ASSERT_EQ(NS_OK, label->CloneNode(false, getter_AddRefs(clone)));
  nsCOMPtr<nsIDOMElement> div;
  ASSERT_EQ(NS_OK, page->document()->CreateElement(nsString(u"div"), getter_AddRefs(div)));
  nsCOMPtr<nsIDOMNode> appended;
  ASSERT_EQ(NS_OK, div->AppendChild(clone, getter_AddRefs(appended)));
  nsCOMPtr<nsIDOMHTMLElement> hdiv = do_QueryInterface(div);
  nsString html;
  hdiv->GetInnerHTML(html);
  EXPECT_EQ(R"(<label for="u" class="l"></label>)", str(html));
}

TEST(SnapshotDom, MalformedSnapshotsAreRejected) {
  for (const char* bad : {"", "[]", R"({"url":"x"})", R"({"document":{"children":[{"tag":"a","rect":[1]}]}})",
                          R"({"document":{"children":[{"attrs":[]}]}})"})
    EXPECT_THROW(page_t::load_json(bad), std::runtime_error) << bad;
}

}  // namespace
