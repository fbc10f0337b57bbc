// Pages built to hurt the component: nesting deep enough to overflow a recursive walk, tens of
// thousands of controls, label searches that would visit the page over and over. Each page is
// trained as the component trains (plan_training: controls, labels, the new manifest and its text);
// it must finish, and ordinary pages must keep their labels. These pages are generated here.
// Then frames that repeat a sign-in form, as the component sees them: the committed snapshot of
// tests/pages/frames (a hidden decoy frame of the same site, a shown frame of another site).
#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "include_extension/Controls.h"
#include "include_extension/Recognition.h"
#include "manifest/ManifestCreation.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"
#include "tracecore/utf.h"

namespace kxext {
namespace {

using snapdom::page_t;

constexpr int kDeep = 5000;  // levels of nesting, far beyond the label search's depth limit

std::string repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct training_t {
  training_plan_t plan;
  std::vector<ffcontrol_record> records;  // the labelled controls the creation was given
};

training_t train(nsIDOMDocument* document) {
  training_t t;
  t.plan = plan_training(document, u"https://www.example.test/", PageState(), false,
                         [&](const std::vector<ffcontrol_record>& controls, const ffstring_table& strings, Manifest& m) {
                           t.records = controls;
                           manifest::InitManifest(u"Sign in", u"MozillaWindowClass", controls, strings, m,
                                                  manifest::processSources());
                         });
  return t;
}

std::vector<std::string> dispnames(const std::vector<ffcontrol_record>& records) {
  std::vector<std::string> out;
  for (const ffcontrol_record& r : records) out.push_back(r.dispname);
  return out;
}

std::size_t count(const tracecore::testing::capture_t& trace, const std::string& text) {
  std::size_t n = 0;
  for (const auto& r : trace.records()) n += r.text == text ? 1 : 0;
  return n;
}

const std::string kDepthTrace = "'`I04`'Label search ends at the depth limit of 512 levels";
const std::string kBudgetTrace =
    "'`I04`'Label search budget of 250000 nodes spent: the page's remaining controls get no label";

// A sign-in form whose fields sit 5,000 levels deep, and a label element whose text sits 5,000
// levels deep. Without the depth limit the user field would climb to the form and take "Far away";
// with it the walk gives up on the way, and the password field still finds its own text.
std::string deep_page() {
  return "<form id='f'>Far away " + repeat("<div>", kDeep) +
         "<input id='deep' name='deep'> Password <input type='password' id='pw' name='pw'>" +
         repeat("</div>", kDeep) + "<label for='lab'>" + repeat("<span>", kDeep) + "Deep text" +
         repeat("</span>", kDeep) + "</label><input id='lab' name='lab'></form>";
}

TEST(HostileTraining, FiveThousandLevelsFromHtml) {
  auto page = page_t::from_html(deep_page());
  tracecore::testing::capture_t trace;
  const training_t t = train(page->document());
  EXPECT_EQ((std::vector<std::string>{"", "Password", ""}), dispnames(t.records));
  EXPECT_EQ(1u, count(trace, kDepthTrace)) << "traced once per page";
  ASSERT_EQ(training_plan_t::createmanifest, t.plan.kind);
  EXPECT_EQ(3u, t.plan.manifest.forms.at(0).fields.size());
  EXPECT_FALSE(t.plan.xml.empty());
  EXPECT_EQ("input#pw", page_t::describe(page->element_by_id("pw")));
  EXPECT_EQ(0u, page->outside_refs());
}

// The same nesting read from a snapshot (the loader, the controls and the event log's names over it).
TEST(HostileTraining, FiveThousandLevelsFromJson) {
  const std::string box = R"({"tag":"div","rect":[0,0,100,20],"offset":[100,20],"children":[)";
  const std::string input =
      R"({"tag":"input","attrs":[["id","u"],["name","u"]],"rect":[0,0,100,20],"offset":[100,20],)"
      R"("control":{"type":"text","value":"","checked":false,"form":0}},{"text":"Password"},)"
      R"({"tag":"input","attrs":[["type","password"],["id","p"],["name","p"]],"rect":[0,0,100,20],)"
      R"("offset":[100,20],"control":{"type":"password","value":"","checked":false,"form":0}})";
  const std::string json =
      R"({"format":"kx-page-snapshot","version":1,"url":"https://www.example.test/","document":{"children":[)"
      R"({"tag":"html","children":[{"tag":"body","children":[{"tag":"form","attrs":[["id","f"]],"children":[)" +
      repeat(box, kDeep) + input + repeat("]}", kDeep) + "]}]}]}]}}";
  auto page = page_t::load_json(json);
  const training_t t = train(page->document());
  EXPECT_EQ((std::vector<std::string>{"", "Password"}), dispnames(t.records));
  EXPECT_EQ(training_plan_t::createmanifest, t.plan.kind);
  EXPECT_EQ("input#p", page_t::describe(page->element_by_id("p")));
  EXPECT_EQ(0u, page->outside_refs());
}

// 20,000 inputs side by side, each after its own text: every control the enumeration yields gets its
// label, each search stays beside its control.
TEST(HostileTraining, TwentyThousandInputs) {
  constexpr int kInputs = 20000;
  std::string html = "<form id='f'>";
  for (int i = 0; i < kInputs; ++i) {
    const std::string n = std::to_string(i);
    html += "Field " + n + " <input id='f" + n + "' name='f" + n + "'>";
  }
  auto page = page_t::from_html(html + "</form>");
  const training_t t = train(page->document());
  ASSERT_FALSE(t.records.empty());
  ASSERT_LE(t.records.size(), static_cast<std::size_t>(kInputs));
  for (std::size_t i = 0; i < t.records.size(); ++i)
    ASSERT_EQ("Field " + std::to_string(i), t.records[i].dispname) << "control " << i;
  ASSERT_EQ(training_plan_t::createmanifest, t.plan.kind);
  EXPECT_EQ(t.records.size(), t.plan.manifest.forms.at(0).fields.size());
}

// A label element shared by 600 controls of one name, holding 1,000 empty elements before its
// text: every control would walk it. The page's budget runs out part way; the controls after that
// get no label (including the last one, whose own text lies right beside it), traced once. The next
// page has a budget of its own.
TEST(HostileTraining, SharedLabelSpendsThePageBudget) {
  std::string html = "<form id='f'><label for='x'>" + repeat("<span></span>", 1000) + "Name</label>";
  for (int i = 0; i < 600; ++i) html += "<input name='x' id='x" + std::to_string(i) + "'>";
  html += " Last <input id='last' name='last'> Secret <input type='password' id='pw' name='pw'></form>";
  auto page = page_t::from_html(html);
  tracecore::testing::capture_t trace;
  const training_t t = train(page->document());
  ASSERT_EQ(602u, t.records.size());
  EXPECT_EQ("Name", t.records.front().dispname);
  std::size_t labelled = 0;
  for (const ffcontrol_record& r : t.records) labelled += r.dispname.empty() ? 0 : 1;
  EXPECT_GT(labelled, 100u);
  EXPECT_LT(labelled, 300u) << "the budget holds about 250 walks of the shared label";
  EXPECT_EQ("", t.records[600].dispname);
  EXPECT_EQ("", t.records[601].dispname);
  EXPECT_EQ(1u, count(trace, kBudgetTrace));
  EXPECT_EQ(training_plan_t::createmanifest, t.plan.kind);

  auto normal = page_t::from_html("<form>User <input id='u' name='u'> Password <input type='password' id='p' name='p'></form>");
  EXPECT_EQ((std::vector<std::string>{"User", "Password"}), dispnames(train(normal->document()).records));
}

// An ordinary page keeps every label through training: label elements, table cells, text after a
// check box, a select, a control in a frame.
TEST(HostileTraining, OrdinaryPageKeepsItsLabels) {
  auto page = page_t::from_html(
      "<iframe src='https://www.example.test/f'></iframe>"
      "<form id='login'><table>"
      "<tr><td><label for='user'>User <b>name</b></label></td><td><input id='user' name='user'></td></tr>"
      "<tr><td>* Password:</td><td><input type='password' id='pw' name='pw'></td></tr>"
      "<tr><td><input type='checkbox' id='keep' name='keep'> Keep me signed in</td></tr>"
      "<tr><td>Country</td><td><select name='country'><option>France</option></select></td></tr>"
      "</table></form>",
      "https://www.example.test/", {{"https://www.example.test/f", "<form>Code <input id='code' name='code'></form>"}});
  const training_t t = train(page->document());
  EXPECT_EQ((std::vector<std::string>{"Code", "User name", "Password:", "Keep me signed in", "Country"}),
            dispnames(t.records));
  EXPECT_EQ(training_plan_t::createmanifest, t.plan.kind);
}

// ---- frames ----

std::unique_ptr<page_t> fixture(const std::string& name) {
  const char* root = std::getenv("KX_SOURCE_DIR");
  return page_t::load_file(std::string(root ? root : ".") + "/tests/pages/" + name + ".json");
}

nsCOMPtr<nsIDOMWindow> frame_window(nsIDOMWindow* parent, PRUint32 index) {
  nsCOMPtr<nsIDOMWindowCollection> frames;
  nsCOMPtr<nsIDOMWindow> w;
  EXPECT_EQ(NS_OK, parent->GetFrames(getter_AddRefs(frames)));
  if (frames) {
    EXPECT_EQ(NS_OK, frames->Item(index, getter_AddRefs(w)));
  }
  return w;
}

std::string frame_element_id(nsIDOMWindow* w) {
  nsCOMPtr<nsIDOMElement> e;
  EXPECT_EQ(NS_OK, w->GetFrameElement(getter_AddRefs(e)));
  nsString id;
  if (e) e->GetAttribute(nsString(u"id"), id);
  return tracecore::to_utf8(id.view());
}

// The sign-in page with its decoy frame (same site, 0x0) and the partner's frame (another site, shown).
// Chromium recorded the other site's document too, so the component sees all three forms, and the
// event log tells the three user fields apart.
TEST(HostileFrames, EveryFrameOfTheFixtureIsReadable) {
  auto page = fixture("frames/signin");
  ASSERT_EQ(3u, page->documents().size());
  nsCOMPtr<nsIDOMWindow> decoy = frame_window(page->window(), 0), partner = frame_window(page->window(), 1);
  ASSERT_TRUE(decoy && partner);
  EXPECT_EQ("sync", frame_element_id(decoy));
  EXPECT_EQ("partner", frame_element_id(partner));
  nsCOMPtr<nsIDOMElement> none;
  EXPECT_EQ(NS_OK, page->window()->GetFrameElement(getter_AddRefs(none)));
  EXPECT_FALSE(none) << "the top window has no frame element";
  nsCOMPtr<nsIDOMDocument> other;
  EXPECT_EQ(NS_OK, partner->GetDocument(getter_AddRefs(other)));
  ASSERT_TRUE(other);

  ffcontrols controls;
  controls.build(page->document());
  controls.label();
  std::vector<std::string> seen;
  for (const ffcontrol& c : controls.list())
    seen.push_back(page_t::describe(c.element) + " " + c.parent + " '" + c.dispname + "'");
  EXPECT_EQ((std::vector<std::string>{
                "frame0:input#user https://online.lakeside-credit.example/signin/decoy.html 'Member number'",
                "frame0:input#pass https://online.lakeside-credit.example/signin/decoy.html 'Password'",
                "frame1:input#user https://offers.partner-ads.example/widget.html 'Member number'",
                "frame1:input#pass https://offers.partner-ads.example/widget.html 'Password'",
                "input#user  'Member number'", "input#pass  'Password'"}),
            seen)
      << "the decoy's text field has a size of its own inside the 0x0 frame, so it is listed";
}

// Snapshots from before other sites were recorded keep their frames unreadable.
TEST(HostileFrames, CrossOriginFramesWithoutDocumentStayUnreadable) {
  auto page = fixture("login_iframe");
  nsCOMPtr<nsIDOMWindow> ads = frame_window(page->window(), 1);
  ASSERT_TRUE(ads);
  nsCOMPtr<nsIDOMDocument> doc;
  EXPECT_EQ(static_cast<nsresult>(0x805303E8), ads->GetDocument(getter_AddRefs(doc)));
  EXPECT_EQ(2u, page->documents().size());
}

// Two forms of one document repeating ids: the event log names each field by its place among the
// fields of that id; fields whose id is unique, and repeated names, read as before.
TEST(HostileFrames, RepeatedIdsAreToldApartInTheEventLog) {
  auto page = page_t::from_html(
      "<form id='a'><input id='user' name='u'><input id='pin' name='p'><input name='n'></form>"
      "<form id='b'><input id='user' name='u'><input name='n'></form>");
  nsCOMPtr<nsIDOMNodeList> inputs;
  ASSERT_EQ(NS_OK, page->document()->GetElementsByTagName(nsString(u"input"), getter_AddRefs(inputs)));
  std::vector<std::string> names;
  for (PRUint32 i = 0; i < 5; ++i) {
    nsCOMPtr<nsIDOMNode> n;
    ASSERT_EQ(NS_OK, inputs->Item(i, getter_AddRefs(n)));
    nsCOMPtr<nsIDOMHTMLInputElement> input = do_QueryInterface(n);
    ASSERT_TRUE(input);
    input->SetValue(nsString(u"x"));
  }
  for (const auto& e : page->events()) names.push_back(e.target);
  EXPECT_EQ((std::vector<std::string>{"input#user@1", "input#pin", "input[name=n]", "input#user@2", "input[name=n]"}),
            names);
}

}  // namespace
}  // namespace kxext
