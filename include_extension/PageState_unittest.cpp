// Document identity, scores and the candidate order, PageState copies, and the two caches.
#include "include_extension/PageState.h"

#include <gtest/gtest.h>

#include "include_extension/Utils.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"

namespace kxext {
namespace {

using snapdom::page_t;

constexpr document_id_t kDoc{0x10};

std::unique_ptr<page_t> small_page(const char* url = "https://www.example.test/") {
  return page_t::from_html("<form id='f'><input id='u' type='text'><input id='p' type='password'></form>", url);
}

// ---- document identity ----

TEST(DocumentId, ReadsLowerCaseHexAndWritesItBack) {
  auto page = small_page();
  nsIDOMDocument* doc = page->document();
  EXPECT_EQ(0u, get_assoc(doc, false).value());

  ASSERT_TRUE(set_docID(doc, [] { return 0x1A2Bu; }));
  EXPECT_EQ(0x1A2Bu, get_assoc(doc).value());
  EXPECT_EQ("1a2b", GetDocAttr(doc, kDocIdAttr));

  // A document that has its ID keeps it.
  ASSERT_TRUE(set_docID(doc, [] { return 0x77u; }));
  EXPECT_EQ("1a2b", GetDocAttr(doc, kDocIdAttr));

  ASSERT_TRUE(remove_docID(doc));
  EXPECT_EQ(0u, get_assoc(doc, false).value());
}

TEST(DocumentId, TickCountZeroTwiceGivesTheFallback) {
  int reads = 0;
  auto page = small_page();
  ASSERT_TRUE(set_docID(page->document(), [&] {
    ++reads;
    return 0u;
  }));
  EXPECT_EQ(2, reads);
  EXPECT_EQ("badf00d", GetDocAttr(page->document(), kDocIdAttr));
  EXPECT_EQ(0x0BADF00Du, get_assoc(page->document()).value());
  // The second read is taken when the first was 0.
  reads = 0;
  EXPECT_EQ(5u, new_document_id([&] { return reads++ == 0 ? 0u : 5u; }).value());
}

TEST(DocumentId, MissingDocumentAndUnreadableAttribute) {
  tracecore::testing::capture_t trace;
  EXPECT_EQ(0u, get_assoc(nullptr).value());
  EXPECT_FALSE(set_docID(nullptr));
  EXPECT_FALSE(remove_docID(nullptr));
  EXPECT_TRUE(trace.has('E', "0 get_assoc docID null document")) << trace.dump();
  EXPECT_TRUE(trace.has('E', "0 set_docID null document")) << trace.dump();

  auto page = small_page();
  SetDocAttr(page->document(), kDocIdAttr, "zz");
  EXPECT_EQ(0u, get_assoc(page->document(), true).value());
  EXPECT_TRUE(trace.has('U', "'`I0E`'Doc has no ID")) << trace.dump();
  SetDocAttr(page->document(), kDocIdAttr, "123456789");  // more than 32 bits
  EXPECT_EQ(0u, get_assoc(page->document(), false).value());
}

TEST(DocumentId, FailedWriteIsReported) {
  tracecore::testing::capture_t trace;
  auto page = small_page();
  page->fail_call("SetAttribute", 1, NS_ERROR_FAILURE);
  EXPECT_FALSE(set_docID(page->document()));
  EXPECT_TRUE(trace.has('E', "0 failed set_docID")) << trace.dump();
}

// ---- score ----

struct score_case_t {
  const char* what;
  MatchStatus status = {};
  std::uint32_t score;
  const char* text;
};

MatchStatus status(std::int32_t urlKind, std::uint8_t flags, std::uint8_t flags0 = 0, std::int32_t processKind = 0) {
  MatchStatus s;
  s.urlKind = urlKind;
  s.flags = flags;
  s.flags0 = flags0;
  s.processKind = processKind;
  return s;
}

class Score : public ::testing::TestWithParam<score_case_t> {};

TEST_P(Score, BitsAndText) {
  EXPECT_EQ(GetParam().score, GetParam().status.score()) << std::hex << GetParam().status.score();
  EXPECT_EQ(GetParam().text, score_text(GetParam().score));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Score,
    ::testing::Values(
        score_case_t{.what = "fresh", .score = 0x600, .text = "idvmani|automa"},
        score_case_t{.what = "alien content host-and-path",
                     .status = {.urlKind = 4, .flags = MatchStatus::alien | MatchStatus::content},
                     .score = 0x2A44, .text = "vltmani|automa|urlSDU|content"},
        score_case_t{.what = "exact best", .status = {.urlKind = 3, .flags = MatchStatus::content | MatchStatus::best},
                     .score = 0x3648, .text = "idvmani|automa|urlExact|content|moreflds"},
        score_case_t{.what = "domain manual", .status = {.urlKind = 6, .flags = MatchStatus::manual},
                     .score = 0x541, .text = "idvmani|manual|urlD"},
        score_case_t{.what = "domain and path pchange", .status = {.urlKind = 5, .flags = MatchStatus::pchange},
                     .score = 0x652, .text = "idvmani|automa|pchange|urlDU"},
        // Best counts only where the form was located.
        score_case_t{.what = "best without url match", .status = {.urlKind = 2, .flags = MatchStatus::best},
                     .score = 0x600, .text = "idvmani|automa"},
        score_case_t{.what = "best, no check, no caption", .status = {.urlKind = 1, .flags = MatchStatus::best},
                     .score = 0x600, .text = "idvmani|automa"},
        score_case_t{.what = "best, no check, caption",
                     .status = {.flags0 = MatchStatus::caption, .urlKind = 1, .flags = MatchStatus::best},
                     .score = 0x1620, .text = "idvmani|automa|caption|moreflds"},
        score_case_t{.what = "best, process 2 overrides",
                     .status = {.urlKind = 3, .processKind = 2, .flags = MatchStatus::best},
                     .score = 0x648, .text = "idvmani|automa|urlExact"},
        score_case_t{.what = "best, process 3", .status = {.urlKind = 3, .processKind = 3, .flags = MatchStatus::best},
                     .score = 0x16C8, .text = "idvmani|automa|urlExact|process|moreflds"},
        score_case_t{.what = "best, process 1 ignored",
                     .status = {.urlKind = 4, .processKind = 1, .flags = MatchStatus::best},
                     .score = 0x1644, .text = "idvmani|automa|urlSDU|moreflds"}),
    [](const auto& info) {
      std::string name;
      for (char c : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(ScoreText, ZeroAndLeftoverBits) {
  EXPECT_EQ("0", score_text(0));
  EXPECT_EQ("idvmani bits are left 4000", score_text(0x4400));
}

// ---- candidate order ----

struct order_fixture_t {
  Manifest a, b;
  order_fixture_t() {
    a.forms.resize(2);
    a.forms[0].context.name = 0;
    a.forms[1].context.name = 1;
    b.forms.resize(1);
    b.forms[0].context.name = 0;
  }
  FormCandidate candidate(Manifest& m, std::size_t form, MatchStatus s, const char* choosename = "") {
    m.forms[form].options.choosename = choosename;
    return FormCandidate{&m, &m.forms[form], s, 0};
  }
};

TEST(CandidateOrder, Ties) {
  order_fixture_t f;
  const MatchStatus plain = status(3, MatchStatus::content);
  // Higher score first.
  EXPECT_TRUE(candidate_before(f.candidate(f.a, 0, status(3, MatchStatus::content | MatchStatus::best)),
                               f.candidate(f.b, 0, plain)));
  // Equal scores need equal flags; an alien manifest scores higher, so the tie-breaks below are the
  // name and the form number.
  EXPECT_TRUE(candidate_before(f.candidate(f.a, 0, plain, "alpha"), f.candidate(f.b, 0, plain, "beta")));
  EXPECT_FALSE(candidate_before(f.candidate(f.a, 0, plain, "beta"), f.candidate(f.b, 0, plain, "alpha")));
  // Same name, same manifest: the smaller form number.
  EXPECT_TRUE(candidate_before(f.candidate(f.a, 0, plain, "x"), f.candidate(f.a, 1, plain, "x")));
  EXPECT_FALSE(candidate_before(f.candidate(f.a, 1, plain, "x"), f.candidate(f.a, 0, plain, "x")));
  // Same name, different manifests: neither comes first, the order is kept.
  EXPECT_FALSE(candidate_before(f.candidate(f.a, 0, plain, "x"), f.candidate(f.b, 0, plain, "x")));
  EXPECT_FALSE(candidate_before(f.candidate(f.b, 0, plain, "x"), f.candidate(f.a, 0, plain, "x")));
}

// ---- PageState ----

Manifest two_form_manifest(const char16_t* path, const char* first, const char* second) {
  Manifest m;
  m.filePath = path;
  m.forms.resize(2);
  m.forms[0].context.name = 0;
  m.forms[0].options.choosename = first;
  m.forms[1].context.name = 1;
  m.forms[1].options.choosename = second;
  ManifestField field;
  field.fieldId = 7;
  m.forms[1].fields.push_back(field);
  return m;
}

TEST(PageStateCopy, CandidatesPointIntoTheCopy) {
  auto source = std::make_unique<PageState>();
  source->manifests.push_back(two_form_manifest(u"a.kxm", "A0", "A1"));
  source->manifests.push_back(two_form_manifest(u"b.kxm", "B0", "B1"));
  std::int32_t id = 29014;
  for (const Manifest& m : source->manifests)
    for (const ManifestForm& form : m.forms) source->candidates.push_back({&m, &form, status(3, MatchStatus::content), id++});
  source->recognized.push_back(source->candidates[3]);
  source->state_flags = 5;
  source->facts.passwords = 2;
  source->extra_manifests.push_back(Manifest());

  PageState copy;
  copy = *source;
  source.reset();  // the copy must not point into the source

  ASSERT_EQ(4u, copy.candidates.size());
  for (std::size_t i = 0; i < copy.candidates.size(); ++i) {
    const FormCandidate& c = copy.candidates[i];
    bool inside = false;
    for (const Manifest& m : copy.manifests) inside |= c.manifest == &m;
    EXPECT_TRUE(inside) << i;
    EXPECT_EQ(29014 + static_cast<int>(i), c.id);
    EXPECT_EQ(MatchStatus(), c.status) << "copies start with a fresh status";
  }
  EXPECT_EQ("B1", copy.candidates[3].form->options.choosename);
  ASSERT_EQ(1u, copy.recognized.size());
  EXPECT_EQ(copy.candidates[3].form, copy.recognized[0].form);
  EXPECT_EQ(29017, copy.recognized[0].id);
  EXPECT_EQ(5, copy.state_flags);
  EXPECT_EQ(2, copy.facts.passwords);
  EXPECT_TRUE(copy.extra_manifests.empty());

  // A moved state keeps its pointers valid too.
  PageState moved = std::move(copy);
  EXPECT_EQ(&moved.manifests.back(), moved.recognized[0].manifest);
}

// The same file named twice by the lookup loads as two equal manifests: each candidate stays one
// candidate, on its own manifest, not one per equal manifest.
TEST(PageStateCopy, EqualManifestsKeepOneCandidateEach) {
  PageState source;
  source.manifests.push_back(two_form_manifest(u"a.kxm", "A0", "A1"));
  source.manifests.push_back(two_form_manifest(u"a.kxm", "A0", "A1"));
  source.candidates.push_back({&source.manifests.front(), &source.manifests.front().forms[1], {}, 29014});
  source.candidates.push_back({&source.manifests.back(), &source.manifests.back().forms[1], {}, 29015});
  // A candidate on a manifest the state does not hold is found by content.
  const Manifest outside = two_form_manifest(u"a.kxm", "A0", "A1");
  source.recognized.push_back({&outside, &outside.forms[0], {}, 29016});

  const PageState copy = source;
  ASSERT_EQ(2u, copy.candidates.size());
  EXPECT_EQ(&copy.manifests.front(), copy.candidates[0].manifest);
  EXPECT_EQ(&copy.manifests.back(), copy.candidates[1].manifest);
  EXPECT_EQ(&copy.manifests.back().forms[1], copy.candidates[1].form);
  ASSERT_EQ(2u, copy.recognized.size()) << "by content: one per equal manifest of the copy";
  EXPECT_EQ("A0", copy.recognized[0].form->options.choosename);
}

TEST(PageStateQuestions, PasswordChangeScreen) {
  PageState s;
  s.facts.passwords = 2;
  EXPECT_FALSE(s.is_password_change_screen()) << "no manifest loaded";
  s.manifests.push_back(Manifest());
  EXPECT_TRUE(s.is_password_change_screen());
  s.facts.passwords = 4;
  EXPECT_FALSE(s.is_password_change_screen());
  s.facts.passwords = 3;
  s.manifests.back().alien = true;
  EXPECT_FALSE(s.is_password_change_screen()) << "an alien manifest";
  s.manifests.back().alien = false;
  s.manifests.back().forms.resize(1);
  s.recognized.push_back({&s.manifests.back(), &s.manifests.back().forms[0], {}, 1});
  EXPECT_FALSE(s.is_password_change_screen()) << "something recognised";

  s.reset();
  EXPECT_EQ(1, s.state_flags);
  EXPECT_TRUE(s.manifests.empty() && s.recognized.empty() && s.facts.controls.empty());
}

TEST(SelectedManifest, OneSeveralAndCancelled) {
  PageState s;
  s.manifests.push_back(two_form_manifest(u"C:\\store\\bank.kxm", "Personal", ""));
  s.manifests.push_back(two_form_manifest(u"C:\\store\\brokerage.kxm", "Personal", "Business"));
  const Manifest& bank = s.manifests.front();
  const Manifest& brokerage = s.manifests.back();
  EXPECT_FALSE(selected_manifest(s, nullptr).has_value()) << "nothing recognised";

  s.recognized.push_back({&bank, &bank.forms[1], {}, 1});
  auto one = selected_manifest(s, [](const auto&) -> int { ADD_FAILURE() << "no dialog for one form"; return -1; });
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(u"C:\\store\\bank.kxm", one->filePath);
  EXPECT_EQ(7, one->forms[1].fields[0].accid) << "accid = fieldId";

  s.recognized.push_back({&brokerage, &brokerage.forms[0], {}, 2});
  s.recognized.push_back({&brokerage, &brokerage.forms[1], {}, 3});
  std::vector<std::u16string> shown;
  auto chosen = selected_manifest(s, [&](const std::vector<std::u16string>& c) {
    shown = c;
    return 2;
  }, u"Follows");
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(u"C:\\store\\brokerage.kxm", chosen->filePath);
  EXPECT_EQ(1, chosen->slot) << "the chosen form's number";
  // The bank's second form has no name: its file name stands in.
  EXPECT_EQ((std::vector<std::u16string>{u"bank.kxm", u"Personal", u"Business"}), shown);

  EXPECT_FALSE(selected_manifest(s, [](const auto&) { return -1; }).has_value()) << "cancelled";
  EXPECT_FALSE(selected_manifest(s, [](const auto&) { return 3; }).has_value()) << "out of range";
}

TEST(ChoiceTexts, RelatedFormNamesTheFormItFollows) {
  Manifest m = two_form_manifest(u"x.kxm", "Online banking", "");
  m.forms[1].context.parent = 0;
  std::vector<FormCandidate> c{{&m, &m.forms[1], {}, 1}};
  EXPECT_EQ(std::vector<std::u16string>{u"Change password of Online banking - "}, choice_texts(c, u"Change password of"));
}

// ---- caches ----

TEST(RequestTable, MatchRefusesOtherDocumentsAndUnknownRequests) {
  tracecore::testing::capture_t trace;
  auto page = small_page();
  nsIDOMDocument* doc = page->document();
  CRequestTable table;
  PendingRequest out;
  EXPECT_FALSE(table.match(doc, kDoc, out)) << "no ID yet";

  set_docID(doc, [] { return 0x10u; });
  EXPECT_FALSE(table.match(doc, kDoc, out));
  EXPECT_TRUE(trace.has('U', "We have nothing for this requestID.")) << trace.dump();

  PendingRequest fill;
  fill.currentoperation = op_preparefillindata;
  fill.manifest.filePath = u"login.kxm";
  std::int32_t current = -1;
  ASSERT_TRUE(table.try_insert(kDoc, fill, current));
  EXPECT_EQ(op_none, current);

  EXPECT_FALSE(table.match(doc, document_id_t(0x11), out));
  EXPECT_TRUE(trace.has('U', "'`I04`'This is different document.")) << trace.dump();

  ASSERT_TRUE(table.match(doc, kDoc, out));
  EXPECT_EQ(op_preparefillindata, out.currentoperation);
  EXPECT_EQ(u"login.kxm", out.manifest.filePath);
  EXPECT_EQ(op_preparefillindata, table.operation_of(kDoc)) << "a match leaves the entry";

  // The gate: busy while pending, free again after removal.
  PendingRequest train;
  train.currentoperation = op_createmani;
  EXPECT_FALSE(table.try_insert(kDoc, train, current));
  EXPECT_EQ(op_preparefillindata, current);
  table.remove_for_document(doc);
  EXPECT_TRUE(table.try_insert(kDoc, train, current));
  table.remove(kDoc);
  EXPECT_EQ(op_none, table.operation_of(kDoc));
}

// The tick count passes 2^31 after 24.8 days of uptime: such an ID goes out as a negative request ID
// and must still name its document when the answer brings it back.
TEST(RequestTable, AnIdAboveTwoToThe31RoundTripsThroughTheRequestId) {
  auto page = small_page();
  nsIDOMDocument* doc = page->document();
  ASSERT_TRUE(set_docID(doc, [] { return 0x80000010u; }));
  EXPECT_EQ("80000010", GetDocAttr(doc, kDocIdAttr));
  const document_id_t id = get_assoc(doc);
  EXPECT_LT(id.request_id(), 0);
  CRequestTable table;
  PendingRequest fill;
  fill.currentoperation = op_preparefillindata;
  std::int32_t current = -1;
  ASSERT_TRUE(table.try_insert(id, fill, current));
  PendingRequest out;
  EXPECT_TRUE(table.match(doc, document_id_t::of_request(id.request_id()), out));
  table.remove(document_id_t::of_request(id.request_id()));
  EXPECT_EQ(op_none, table.operation_of(id));
}

TEST(RequestTable, AnUnansweredRequestExpires) {
  tracecore::testing::capture_t trace;
  auto page = small_page();
  nsIDOMDocument* doc = page->document();
  set_docID(doc, [] { return 0x10u; });
  CRequestTable table;
  PendingRequest fill;
  fill.currentoperation = op_preparefillindata;
  std::int32_t current = -1;
  const std::uint32_t t0 = 0xFFFFF000u;  // the tick count wraps on the way
  ASSERT_TRUE(table.try_insert(kDoc, fill, current, t0));
  PendingRequest out;
  EXPECT_TRUE(table.match(doc, kDoc, out, t0 + CRequestTable::kPendingLifetimeMs));
  EXPECT_FALSE(table.try_insert(kDoc, fill, current, t0 + CRequestTable::kPendingLifetimeMs)) << "still busy";
  // Past its lifetime the document is free again, and a late answer finds nothing.
  EXPECT_TRUE(table.try_insert(kDoc, fill, current, t0 + CRequestTable::kPendingLifetimeMs + 1));
  EXPECT_TRUE(trace.has('U', "'`I04`'pending request expired: preparefillindata after 180001 ms")) << trace.dump();
  const std::uint32_t t1 = t0 + CRequestTable::kPendingLifetimeMs + 1;
  EXPECT_FALSE(table.match(doc, kDoc, out, t1 + CRequestTable::kPendingLifetimeMs + 1));
  EXPECT_EQ(op_none, table.operation_of(kDoc));
}

TEST(PageStateCache, InsertReplacesLookupCopiesEraseDrops) {
  tracecore::testing::capture_t trace;
  auto page = small_page();
  nsIDOMDocument* doc = page->document();
  CPageStateCache cache;
  PageState state;
  state.facts.passwords = 1;
  EXPECT_FALSE(cache.cached_state(doc, state, true)) << "a document without an ID";

  set_docID(doc, [] { return 0xABCu; });
  EXPECT_TRUE(cache.cached_state(doc, state, true));
  state.facts.passwords = 3;
  EXPECT_TRUE(cache.cached_state(doc, state, true)) << "replacing an entry";
  EXPECT_TRUE(trace.has('U', "docid = 0xABC, fInsert = 1, fRet = 1")) << trace.dump();

  PageState read;
  ASSERT_TRUE(cache.cached_state(doc, read, false));
  EXPECT_EQ(3, read.facts.passwords);
  EXPECT_EQ(1u, cache.size());

  EXPECT_TRUE(cache.cached_erase(doc));
  EXPECT_FALSE(cache.cached_erase(doc));
  EXPECT_TRUE(trace.has('U', "docid = 0xABC, fRet = 0")) << trace.dump();
  EXPECT_FALSE(cache.cached_state(doc, read, false));
}

}  // namespace
}  // namespace kxext
