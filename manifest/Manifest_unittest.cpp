#include "manifest/Manifest.h"

#include <gtest/gtest.h>

#include <set>

namespace {

ManifestField field(bool password = false) {
  ManifestField f;
  f.type = field_edit;
  f.password = password;
  return f;
}

ManifestForm formWith(std::vector<ManifestField> fields) {
  ManifestForm f;
  f.fields = std::move(fields);
  return f;
}

TEST(ManifestDefaults, EmptinessRules) {
  Manifest m;
  EXPECT_EQ(m.slot, -1);
  EXPECT_EQ(m.isNew, 1);
  EXPECT_TRUE(m.empty());
  // A default detection has web_checkurl false and is therefore never empty; a field likewise
  // counts as non-empty until onetvalue is set.
  ManifestForm form;
  EXPECT_FALSE(form.detection.empty());
  form.detection.web_checkurl = true;
  EXPECT_TRUE(form.detection.empty());
  ManifestField f;
  EXPECT_FALSE(f.empty());
  f.value.onetvalue = true;
  EXPECT_TRUE(f.empty());
  form.fields.push_back(f);
  EXPECT_TRUE(form.empty());
  form.options.balooncount = 0;
  EXPECT_FALSE(form.empty());
  m.forms.push_back(form);
  EXPECT_FALSE(m.empty());
}

TEST(ManifestLookup, FindFormAndFieldIndex) {
  Manifest m;
  m.forms.push_back(formWith({field(), field()}));
  m.forms[0].context.name = 0;
  m.forms[0].fields[1].fieldId = 7;
  EXPECT_EQ(m.findForm(-1), nullptr);
  EXPECT_EQ(m.findForm(0), &m.forms[0]);
  EXPECT_EQ(m.findForm(1), nullptr);
  EXPECT_EQ(fieldIndexOf(m.forms[0], 7), 1);
  EXPECT_EQ(fieldIndexOf(m.forms[0], 8), -1);
}

TEST(Normalize, FormsWithoutContextGetLogonAndPasswordChangeNumbers) {
  Manifest m;
  for (int i = 0; i < 3; ++i) m.forms.push_back(formWith({field(), field(), field()}));
  m.normalize();
  const FormContext& c0 = m.forms[0].context;
  const FormContext& c1 = m.forms[1].context;
  const FormContext& c2 = m.forms[2].context;
  EXPECT_EQ(std::make_tuple(c0.type, c0.name, c0.parent), std::make_tuple(1, 0, -1));
  // The second form keeps its own number: it must not become a second form 0.
  EXPECT_EQ(std::make_tuple(c1.type, c1.name, c1.parent), std::make_tuple(2, 1, 0));
  EXPECT_EQ(std::make_tuple(c2.type, c2.name, c2.parent), std::make_tuple(1, -1, -1));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m.forms[0].fields[i].fieldId, i);
    EXPECT_EQ(m.forms[0].fields[i].formNumber, 0);
    EXPECT_EQ(m.forms[1].fields[i].fieldId, 65536 + i);
    EXPECT_EQ(m.forms[1].fields[i].formNumber, 1);
    // The third form's context is left as it is; its ids still differ from every other form's.
    EXPECT_EQ(m.forms[2].fields[i].fieldId, 65536 + 3 + i);
  }
  EXPECT_EQ(m.isNew, 0);
}

TEST(Normalize, FieldIdsAreUniqueWithinTheManifest) {
  Manifest m;
  for (int i = 0; i < 5; ++i) m.forms.push_back(formWith({field(), field()}));
  m.forms[3].context = {1, 0, -1};  // repeats form 0's number
  m.forms[4].context = {1, 7, -1};  // a number of its own
  m.forms[4].fields[1].fieldId = 3;  // read from the file: kept
  m.normalize();
  std::set<std::int32_t> ids;
  for (const ManifestForm& f : m.forms)
    for (const ManifestField& x : f.fields) {
      EXPECT_NE(x.fieldId, -1);
      ids.insert(x.fieldId);
    }
  EXPECT_EQ(ids.size(), 10u);
  EXPECT_EQ(m.forms[4].fields[0].fieldId, 7 << 16);
  EXPECT_EQ(m.forms[4].fields[1].fieldId, 3);
}

struct context_case_t {
  FormContext given;
  std::size_t position = 0;  // the first or the second of two forms
  FormContext expected;
};

class NormalizeContextTest : public testing::TestWithParam<context_case_t> {};
TEST_P(NormalizeContextTest, ExplicitContextsFollowTheSteps) {
  Manifest m;
  m.forms.resize(2);
  m.forms[GetParam().position].context = GetParam().given;
  if (GetParam().position == 1) m.forms[0].context = {1, 0, -1};
  m.normalize();
  const FormContext& c = m.forms[GetParam().position].context;
  EXPECT_EQ(c.type, GetParam().expected.type);
  EXPECT_EQ(c.name, GetParam().expected.name);
  EXPECT_EQ(c.parent, GetParam().expected.parent);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, NormalizeContextTest,
    testing::Values(
        // pchange keeps its parent
        context_case_t{.given = {.type = 2, .name = 5, .parent = 3}, .expected = {.type = 2, .name = 1, .parent = 3}},
        // name 1 makes a pchange form
        context_case_t{.given = {.type = 0, .name = 1, .parent = -1}, .expected = {.type = 2, .name = 1, .parent = 0}},
        // not well formed as first form
        context_case_t{.given = {.type = 0, .name = 7, .parent = 4}, .expected = {.type = 1, .name = 0, .parent = -1}},
        // not well formed as second form
        context_case_t{.given = {.type = 0, .name = 7, .parent = 4}, .position = 1,
                       .expected = {.type = 2, .name = 1, .parent = 0}},
        // explicit type 1 follows the steps
        context_case_t{.given = {.type = 1, .name = 3, .parent = 3}, .position = 1,
                       .expected = {.type = 1, .name = 0, .parent = -1}},
        context_case_t{.given = {.type = 0, .name = 0, .parent = 9}, .position = 1,
                       .expected = {.type = 1, .name = 0, .parent = -1}}));

struct caption_case_t {
  const char* stored;
  CaptionMode mode;
  const char* caption;
  const char* pattern;
};
class CaptionTokenTest : public testing::TestWithParam<caption_case_t> {};
TEST_P(CaptionTokenTest, DecodesTokens) {
  Manifest m;
  m.forms.emplace_back().detection.caption = GetParam().stored;
  m.forms[0].detection.pattern = "old";
  m.normalize();
  const FormDetection& d = m.forms[0].detection;
  EXPECT_EQ(d.captionMode, GetParam().mode);
  EXPECT_EQ(d.caption, GetParam().caption);
  EXPECT_EQ(d.pattern, GetParam().pattern);
}
INSTANTIATE_TEST_SUITE_P(Cases, CaptionTokenTest,
                         testing::Values(caption_case_t{"[m0]:2:2:Log^2dot;in", 2, "Log:in*", "Log:in"},
                                         caption_case_t{"[m0]:2:1:Bank", 1, "*Bank", "Bank"},
                                         caption_case_t{"[m0]:2:3:Mail", 3, "*Mail*", "Mail"},
                                         caption_case_t{"[m0]:2:4:Mail", 0, "[m0]:2:4:Mail", "old"},
                                         caption_case_t{"Plain *", 0, "Plain *", "old"}));

TEST(Normalize, ValueKinds) {
  Manifest m;
  ManifestForm& form = m.forms.emplace_back();
  form.fields.resize(4);
  form.fields[0].value.value = "v";
  form.fields[0].value.onetvalue = true;
  form.fields[1].value.onetvalue = true;
  form.fields[1].value.askalways = true;
  form.fields[2].value.askalways = true;
  m.normalize();
  EXPECT_EQ(form.fields[0].value.kind, 0);
  EXPECT_EQ(form.fields[1].value.kind, 3);
  EXPECT_EQ(form.fields[2].value.kind, 2);
  EXPECT_EQ(form.fields[3].value.kind, 1);
}

TEST(Normalize, MurlOnlyFormGetsOurlCheckAndNoQuickLink) {
  Manifest m;
  m.forms.emplace_back().detection.web_murl = "https://www.example.com/login";
  m.forms.emplace_back().detection.web_qurl = "ignored without ourl";
  m.forms[1].detection.processname = "app.exe";
  m.normalize();
  const FormDetection& d = m.forms[0].detection;
  EXPECT_EQ(d.web_ourl, d.web_murl);
  EXPECT_TRUE(d.ourlFromMurl);
  EXPECT_TRUE(d.web_checkurl);
  EXPECT_EQ(m.forms[0].options.usequicklink, 2);
  EXPECT_FALSE(m.forms[1].detection.web_checkurl);
  EXPECT_EQ(m.forms[1].options.usequicklink, 1);  // desktop form with a process
}

TEST(Normalize, AlienManifestChecksOnlyUsableUrls) {
  for (const bool alien : {false, true}) {
    Manifest m;
    m.alien = alien;
    m.forms.emplace_back().detection.web_murl = "[m0]:1:0:x";  // parses with status 0
    m.forms.emplace_back().detection.web_murl = "https://a.example.com/";
    m.normalize();
    EXPECT_EQ(m.forms[0].detection.web_checkurl, !alien);
    EXPECT_TRUE(m.forms[1].detection.web_checkurl);
  }
}

TEST(Normalize, ExistingIdsAreKeptAndNewOnesGoAbove) {
  Manifest m;
  ManifestForm& form = m.forms.emplace_back();
  form.fields.resize(3);
  form.fields[1].fieldId = 10;
  m.normalize();
  EXPECT_EQ(form.fields[0].fieldId, 11);
  EXPECT_EQ(form.fields[1].fieldId, 10);
  EXPECT_EQ(form.fields[2].fieldId, 12);
}

TEST(Normalize, InReferenceResolvesToFirstPasswordField) {
  Manifest m;
  m.forms.push_back(formWith({field(), field(true), field(true)}));
  m.forms.push_back(formWith({field()}));
  m.forms[1].fields[0].rfield = 1;
  m.normalize();
  const ManifestField& ref = m.forms[1].fields[0];
  EXPECT_EQ(ref.rfieldform, 0);
  EXPECT_EQ(ref.targetId, 1);
  EXPECT_EQ(m.forms[0].fields[1].refCount, 1);
  EXPECT_EQ(m.refStatus, 0);
}

TEST(Normalize, UnresolvableReferenceSetsRefStatus) {
  Manifest m;
  m.forms.push_back(formWith({field(), field()}));
  m.forms[0].fields[1].rfield = 1;
  m.normalize();
  EXPECT_EQ(m.refStatus, 2);
  EXPECT_EQ(m.forms[0].fields[1].targetId, -1);
}

TEST(Normalize, ReferenceByIndexAndNeverResolved) {
  Manifest m;
  m.forms.push_back(formWith({field(), field(true)}));
  m.forms.push_back(formWith({field(), field()}));
  m.forms[1].fields[0].rfield = 2;
  m.forms[1].fields[0].rfieldindex = 0;  // the first field, not the password field
  m.forms[1].fields[1].rfield = 1;
  m.forms[1].fields[1].rfieldform = -2;
  m.forms[1].fields[1].rfieldindex = 1;
  m.normalize();
  EXPECT_EQ(m.forms[1].fields[0].targetId, 0);
  EXPECT_EQ(m.forms[1].fields[0].rfieldform, 0);
  EXPECT_EQ(m.forms[1].fields[1].targetId, -1);
  EXPECT_EQ(m.forms[1].fields[1].rfieldform, -2);
  EXPECT_EQ(m.forms[1].fields[1].rfieldindex, 1);
  EXPECT_EQ(m.forms[0].fields[0].refCount, 1);
  EXPECT_EQ(m.forms[0].fields[1].refCount, 0);
}

TEST(Normalize, NormalisingACopyAgainCountsReferencesOnce) {
  Manifest m;
  m.forms.push_back(formWith({field(true), field()}));
  m.forms[0].fields[1].rfield = 1;
  m.normalize();
  Manifest copy = m;
  for (auto& f : copy.forms[0].fields) f.refCount = 0;
  copy.normalize();  // step 7 counts the resolved reference, step 8 leaves it (rfieldindex -1)
  EXPECT_EQ(copy.forms[0].fields[0].refCount, 1);
}

TEST(PrepareForWrite, AimsReferencesAtPositionsAndDropsLostTargets) {
  Manifest m;
  m.forms.push_back(formWith({field(), field(true), field(), field()}));
  m.forms[0].fields[2].rfield = 1;
  m.forms[0].fields[3].rfield = 1;
  m.normalize();
  m.forms[0].fields[3].targetId = 99;  // its target is gone
  m.prepareForWrite();
  EXPECT_EQ(m.forms[0].fields[2].rfieldindex, 1);
  const ManifestField& lost = m.forms[0].fields[3];
  EXPECT_EQ(std::make_tuple(lost.rfield, lost.rfieldform, lost.targetId, lost.rfieldindex),
            std::make_tuple(0, -1, -1, -1));
  EXPECT_EQ(m.forms[0].fields[0].rfieldindex, -1);
}

TEST(WindowFlags, Words) {
  EXPECT_EQ(windowFlagFromWord("skip"), 0x1u);
  EXPECT_EQ(windowFlagFromWord("dialog"), 0x20u);
  EXPECT_EQ(windowFlagFromWord("vb6ncdraw"), 0x8000u);
  EXPECT_EQ(windowFlagFromWord("Skip"), 0u);
  EXPECT_EQ(fieldTypeFromWord("combo"), field_combo);
  EXPECT_EQ(fieldTypeFromWord("password"), field_unknown);
}

}  // namespace
