// Recognition, the feedback decision and training plans over the committed fixture snapshots, with
// manifests trained from the same pages or committed beside them.
#include "include_extension/Recognition.h"

#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

#include "include_extension/Controls.h"
#include "manifest/ManifestCreation.h"
#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"
#include "tracecore/utf.h"

namespace kxext {
namespace {

using snapdom::page_t;

std::string source_dir() {
  const char* root = std::getenv("KX_SOURCE_DIR");
  return root ? root : ".";
}

std::unique_ptr<page_t> fixture(const std::string& name) {
  return page_t::load_file(source_dir() + "/tests/pages/" + name + ".json");
}

std::u16string url_of(page_t& page) {
  nsCOMPtr<nsIDOMHTMLDocument> html = do_QueryInterface(page.document());
  nsString url;
  html->GetURL(url);
  return std::u16string(url.view());
}

// The manifest training makes from |page| with its top URL |url| (empty: no URL check), read back
// from its text as the agent would store it.
Manifest trained(page_t& page, const std::string& url) {
  ffcontrols controls;
  controls.build(page.document());
  controls.label();
  std::vector<ffcontrol_record> records = controls.records();
  for (ffcontrol_record& r : records) r.top = url;
  Manifest m;
  manifest::InitManifest(u"Test page", u"MozillaWindowClass", records, controls.strings(), m,
                         manifest::processSources());
  std::string xml;
  manifest::manifestToText(m, xml);
  Manifest loaded;
  EXPECT_TRUE(loadM_properlyS(u"trained.kxm", xml, loaded));
  return loaded;
}

// A lookup over named manifests held in memory, in the order given.
class store_t {
 public:
  void add(const std::u16string& name, Manifest m) {
    m.filePath = name;
    names_.push_back(name);
    manifests_[name] = std::move(m);
  }
  recognition_sources_t sources() {
    return {[this](std::u16string_view, bool) {
              std::u16string joined;
              for (const auto& n : names_) joined += (joined.empty() ? u"" : u"\n") + n;
              return joined;
            },
            [this](std::u16string_view name, Manifest& m) {
              auto it = manifests_.find(std::u16string(name));
              if (it == manifests_.end()) return false;
              m = it->second;
              return true;
            }};
  }

 private:
  std::vector<std::u16string> names_;
  std::map<std::u16string, Manifest> manifests_;
};

TEST(Recognition, LoginPageThroughTheCommittedManifest) {
  tracecore::testing::capture_t trace;
  auto page = fixture("login");
  const std::u16string manifest = tracecore::to_utf16(source_dir() + "/tests/pages/fill/login.kxm");
  recognition_sources_t sources{[&](std::u16string_view, bool) { return manifest; }, nullptr};
  PageState state;
  recognition_stop stop;
  ASSERT_TRUE(recognize_page(page->document(), url_of(*page), sources, state, &stop)) << trace.dump();
  EXPECT_EQ(recognition_stop::done, stop);

  ASSERT_EQ(1u, state.candidates.size());
  const FormCandidate& c = state.candidates[0];
  EXPECT_EQ(kFirstCandidateId, c.id);
  EXPECT_EQ(3, c.status.urlKind);
  EXPECT_EQ(2, c.status.count) << "user name and password are used";
  EXPECT_EQ(0x3648u, c.status.score());
  ASSERT_EQ(1u, state.recognized.size());
  EXPECT_EQ(0, state.manifests.front().slot) << "a single recognised manifest selects its form";
  EXPECT_EQ(PageFacts::has_password | PageFacts::has_password_too | PageFacts::valid, state.facts.flags);
  EXPECT_EQ(1, state.facts.passwords);
  EXPECT_EQ(3u, state.facts.controls.size());
  EXPECT_TRUE(trace.has('U', "total loaded = 1")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "Recognized 1 form(s)")) << trace.dump();
}

TEST(Recognition, NothingToLoadLeavesAnEmptyState) {
  tracecore::testing::capture_t trace;
  auto page = fixture("login");
  PageState state;
  state.facts.passwords = 9;
  recognition_stop stop;
  recognition_sources_t none{[](std::u16string_view, bool) { return std::u16string(); }, nullptr};
  EXPECT_FALSE(recognize_page(page->document(), url_of(*page), none, state, &stop));
  EXPECT_EQ(recognition_stop::nothing_loaded, stop);
  EXPECT_TRUE(trace.has('U', "nothing to load")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "nothing loaded")) << trace.dump();
  EXPECT_EQ(0, state.facts.passwords) << "the state was reset";

  // Names that do not load count as nothing loaded as well.
  recognition_sources_t missing{[](std::u16string_view, bool) { return std::u16string(u"C:\\none\\a.kxm\n\nb.kxm"); },
                                [](std::u16string_view, Manifest&) { return false; }};
  EXPECT_FALSE(recognize_page(page->document(), url_of(*page), missing, state, &stop));
  EXPECT_EQ(recognition_stop::nothing_loaded, stop);
  EXPECT_TRUE(trace.has('U', "total loaded = 0")) << trace.dump();
}

TEST(Recognition, MissingDocumentOrUrlStopsFirst) {
  tracecore::testing::capture_t trace;
  PageState state;
  recognition_stop stop;
  EXPECT_FALSE(recognize_page(nullptr, u"https://x.example/", {}, state, &stop));
  EXPECT_EQ(recognition_stop::no_document, stop);
  auto page = fixture("login");
  EXPECT_FALSE(recognize_page(page->document(), u"", {}, state, &stop));
  EXPECT_EQ(recognition_stop::empty_url, stop);
  EXPECT_TRUE(trace.has('E', "0 url is empty")) << trace.dump();
}

TEST(Recognition, PageWithoutControls) {
  auto page = page_t::from_html("<p>Nothing to fill here</p>", "https://mail.northwind.example/login");
  auto login = fixture("login");
  store_t store;
  store.add(u"login.kxm", trained(*login, "https://mail.northwind.example/login"));
  PageState state;
  recognition_stop stop;
  EXPECT_FALSE(recognize_page(page->document(), url_of(*page), store.sources(), state, &stop));
  EXPECT_EQ(recognition_stop::no_controls, stop);
  EXPECT_EQ(1u, state.candidates.size()) << "candidates are numbered before the controls are built";
}

TEST(Recognition, EqualScoresAreAllRecognisedAndNoSlotIsSet) {
  tracecore::testing::capture_t trace;
  auto page = fixture("login");
  store_t store;
  store.add(u"first.kxm", trained(*page, "https://mail.northwind.example/login"));
  store.add(u"second.kxm", trained(*page, "https://mail.northwind.example/login"));
  PageState state;
  ASSERT_TRUE(recognize_page(page->document(), url_of(*page), store.sources(), state));
  ASSERT_EQ(2u, state.recognized.size());
  EXPECT_EQ(u"first.kxm", state.recognized[0].manifest->filePath) << "ties keep the load order";
  EXPECT_EQ(29015, state.recognized[1].id);
  for (const Manifest& m : state.manifests) EXPECT_EQ(-1, m.slot);
  EXPECT_TRUE(trace.contains('U', "form[0] score[3648]")) << trace.dump();
  EXPECT_EQ(nullptr, state.single_recognized_manifest());
}

TEST(Recognition, FormWithoutUrlCheckMatchesOnItsFields) {
  auto page = fixture("login");
  store_t store;
  store.add(u"anywhere.kxm", trained(*page, ""));
  ASSERT_FALSE(store.sources().manifest_names(u"", false).empty());
  PageState state;
  ASSERT_TRUE(recognize_page(page->document(), url_of(*page), store.sources(), state));
  const MatchStatus& s = state.recognized[0].status;
  EXPECT_EQ(1, s.urlKind);
  EXPECT_EQ(0x2600u, s.score()) << "no URL, so the best bit earns nothing";
}

TEST(Recognition, OtherSiteIsNotMatched) {
  tracecore::testing::capture_t trace;
  auto page = fixture("login");
  store_t store;
  store.add(u"other.kxm", trained(*page, "https://www.other.example/signin"));
  PageState state;
  EXPECT_FALSE(recognize_page(page->document(), url_of(*page), store.sources(), state));
  EXPECT_EQ(2, state.candidates[0].status.urlKind);
  EXPECT_EQ(0, state.candidates[0].status.flags & MatchStatus::content) << "fields are not compared";
  EXPECT_TRUE(trace.has('U', "'`I0C`'  URL DOES NOT MATCH: 'https://www.other.example/signin'")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "Not recognized")) << trace.dump();
  EXPECT_TRUE(state.facts.flags & PageFacts::valid) << "the facts are known all the same";
}

TEST(Recognition, MoreUsedFieldsWinTheBestBit) {
  auto page = fixture("registration");
  const std::string url = tracecore::to_utf8(url_of(*page));
  Manifest three = trained(*page, url), five = trained(*page, url);
  auto use = [](Manifest& m, std::size_t n) {
    for (std::size_t i = 0; i < m.forms[0].fields.size(); ++i) m.forms[0].fields[i].useit = i < n;
  };
  use(three, 3);
  use(five, 5);
  store_t store;
  store.add(u"three.kxm", three);
  store.add(u"five.kxm", five);
  PageState state;
  ASSERT_TRUE(recognize_page(page->document(), url_of(*page), store.sources(), state));
  EXPECT_EQ(3, state.candidates[0].status.count);
  EXPECT_EQ(5, state.candidates[1].status.count);
  EXPECT_EQ(0, state.candidates[0].status.flags & MatchStatus::best);
  EXPECT_NE(0, state.candidates[1].status.flags & MatchStatus::best);
  EXPECT_EQ("idvmani|automa|urlExact|content|moreflds", score_text(state.candidates[1].status.score()));
  ASSERT_EQ(1u, state.recognized.size());
  EXPECT_EQ(u"five.kxm", state.recognized[0].manifest->filePath);
  EXPECT_EQ(0, state.manifests.back().slot);
  EXPECT_EQ(-1, state.manifests.front().slot);
}

TEST(Recognition, LoginInsideAFrame) {
  auto page = fixture("login_iframe");
  store_t store;
  store.add(u"bank.kxm", trained(*page, tracecore::to_utf8(url_of(*page))));
  PageState state;
  EXPECT_TRUE(recognize_page(page->document(), url_of(*page), store.sources(), state));
}

// ---- feedback decision ----

struct feedback_case_t {
  const char* what;
  const char* page = "login";   // fixture name, or "" for a page without a password field
  bool recognised = false;      // a manifest of the page is loaded
  bool other_manifest = false;  // a manifest of the domain that does not match is loaded
  bool prompt = true;           // "show_training_prompt"
  bool suppressed = false;      // the URL was suppressed
  bool shown = false;
  std::int32_t mode = 0;
};

class Feedback : public ::testing::TestWithParam<feedback_case_t> {};

TEST_P(Feedback, Decision) {
  const feedback_case_t& c = GetParam();
  auto page = *c.page ? fixture(c.page)
                      : page_t::from_html("<form id='s'><input id='q' type='text'></form>", "https://shop.example/");
  auto login = fixture("login");
  store_t store;
  if (c.recognised) store.add(u"page.kxm", trained(*page, tracecore::to_utf8(url_of(*page))));
  if (c.other_manifest) store.add(u"other.kxm", trained(*login, "https://mail.northwind.example/login"));
  PageState state;
  recognize_page(page->document(), url_of(*page), store.sources(), state);
  suppressed_urls_t suppressed;
  if (c.suppressed) suppressed.add(url_of(*page));
  feedback_inputs_t in{&state, c.prompt, page->document(), url_of(*page), &suppressed};
  std::int32_t mode = -1;
  EXPECT_EQ(c.shown, decide_feedback(in, mode));
  EXPECT_EQ(c.mode, mode);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Feedback,
    ::testing::Values(
        feedback_case_t{.what = "trained", .recognised = true, .shown = true},
        feedback_case_t{.what = "trained without prompt", .recognised = true, .prompt = false, .shown = true},
        feedback_case_t{.what = "untrained logon page", .shown = true, .mode = 1},
        feedback_case_t{.what = "untrained without prompt", .prompt = false},
        feedback_case_t{.what = "untrained and suppressed", .suppressed = true},
        feedback_case_t{.what = "no password field", .page = ""},
        feedback_case_t{.what = "password change screen", .page = "password_change", .other_manifest = true,
                        .shown = true, .mode = 2},
        feedback_case_t{.what = "password change without prompt", .page = "password_change", .other_manifest = true,
                        .prompt = false}),
    [](const auto& info) {
      std::string name;
      for (char ch : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

TEST(WebDomainName, DomainKeyOfTheUrl) {
  EXPECT_EQ(u"northwind.example", web_domain_name(u"https://mail.northwind.example/login?x=1"));
  EXPECT_EQ(u"", web_domain_name(u""));
}

// ---- training ----

manifest_creator_t creator() {
  return [](const std::vector<ffcontrol_record>& controls, const ffstring_table& strings, Manifest& m) {
    manifest::InitManifest(u"Sign in", u"MozillaWindowClass", controls, strings, m, manifest::processSources());
  };
}

TEST(Training, PasswordRequiredOnAPageWithoutOne) {
  tracecore::testing::capture_t trace;
  auto page = page_t::from_html("<form id='s'><input id='q' type='text'></form>", "https://shop.example/");
  const training_plan_t plan = plan_training(page->document(), u"https://shop.example/", PageState(), true, creator());
  EXPECT_EQ(training_plan_t::none, plan.kind);
  EXPECT_TRUE(trace.has('E', "0 no valid controls for training")) << trace.dump();
}

TEST(Training, NewManifestFromTheLabelledControls) {
  auto page = fixture("login");
  const training_plan_t plan = plan_training(page->document(), url_of(*page), PageState(), true, creator());
  ASSERT_EQ(training_plan_t::createmanifest, plan.kind);
  ASSERT_EQ(1u, plan.manifest.forms.size());
  for (const ManifestField& f : plan.manifest.forms[0].fields) EXPECT_EQ(f.fieldId, f.accid);
  EXPECT_NE(std::string::npos, plan.xml.find("web_murl=\"https://mail.northwind.example/login\"")) << plan.xml;
  EXPECT_NE(std::string::npos, plan.xml.find("displayname=\"Email or username\"")) << plan.xml;

  // What the agent stores from it recognises the page.
  store_t store;
  Manifest stored;
  ASSERT_TRUE(loadM_properlyS(u"new.kxm", plan.xml, stored));
  store.add(u"new.kxm", stored);
  PageState state;
  EXPECT_TRUE(recognize_page(page->document(), url_of(*page), store.sources(), state));
}

TEST(Training, CreationErrorsAreContained) {
  tracecore::testing::capture_t trace;
  auto page = fixture("login");
  const training_plan_t plan = plan_training(page->document(), url_of(*page), PageState(), false,
                                             [](const auto&, const auto&, Manifest&) { throw std::runtime_error("no forms created"); });
  EXPECT_EQ(training_plan_t::none, plan.kind);
  EXPECT_TRUE(trace.has('E', "0 createmanifest_from_controls no forms created")) << trace.dump();
}

TEST(Training, PasswordChangeScreenAsksForAPasswordChange) {
  auto page = fixture("password_change");
  auto login = fixture("login");
  store_t store;
  store.add(u"C:\\store\\accounts.kxm", trained(*login, "https://accounts.example.com/signin"));
  store.add(u"C:\\store\\accounts2.kxm", trained(*login, "https://accounts.example.com/signin2"));
  PageState state;
  EXPECT_FALSE(recognize_page(page->document(), url_of(*page), store.sources(), state));
  ASSERT_TRUE(state.is_password_change_screen());
  const training_plan_t plan = plan_training(page->document(), url_of(*page), state, true, creator());
  EXPECT_EQ(training_plan_t::changepassword, plan.kind);
  EXPECT_EQ("C:\\store\\accounts.kxm\nC:\\store\\accounts2.kxm", plan.domainmanifestnames);
}

}  // namespace
}  // namespace kxext
