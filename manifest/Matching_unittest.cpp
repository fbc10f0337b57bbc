#include "manifest/Matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "manifest/Escape.h"
#include "tracecore/testing.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace manifest {
namespace {

std::u16string u(const char* s) { return tracecore::to_utf16(s); }

struct keys_case_t {
  const char* url;
  const char* host;
  const char* hostPath;
  const char* domainPath;
  const char* domain;
};
class UrlKeysTest : public testing::TestWithParam<keys_case_t> {};
TEST_P(UrlKeysTest, Keys) {
  std::u16string host, hostPath, domainPath, domain;
  urlKeys(u(GetParam().url), &host, &hostPath, &domainPath, &domain);
  EXPECT_EQ(host, u(GetParam().host));
  EXPECT_EQ(hostPath, u(GetParam().hostPath));
  EXPECT_EQ(domainPath, u(GetParam().domainPath));
  EXPECT_EQ(domain, u(GetParam().domain));
  std::string d8;
  urlKeys(std::string_view(GetParam().url), nullptr, nullptr, nullptr, &d8);
  EXPECT_EQ(d8, GetParam().domain);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, UrlKeysTest,
    testing::Values(
        keys_case_t{"https://www.example.com/a/b?x=1", "www.example.com", "www.example.com/a/b", "example.com/a/b",
                    "example.com"},
        keys_case_t{"http://intranet/login#top", "intranet", "intranet/login", "intranet/login", "intranet"},
        keys_case_t{"example.org/p;jsessionid=1", "example.org", "example.org/p", "example.org/p", "example.org"},
        keys_case_t{"https://a.b.example.co/x.y/z", "a.b.example.co", "a.b.example.co/x.y/z", "example.co/x.y/z",
                    "example.co"},
        keys_case_t{"", "", "", "", ""},
        // A query before the host: the ranges that would run backwards are empty.
        keys_case_t{"a?b://host.example.com/", "host.example.com", "", "", "example.com"}));

struct compare_case_t {
  const char* page;
  const char* manifestUrl;
  std::int32_t expected;
};
class CompareUrlsTest : public testing::TestWithParam<compare_case_t> {};
TEST_P(CompareUrlsTest, Strength) {
  EXPECT_EQ(compareUrls({u(GetParam().page)}, u(GetParam().manifestUrl)), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, CompareUrlsTest,
    testing::Values(compare_case_t{"https://www.example.com/login?x=1", "https://www.example.com/login?x=1", 3},
                    compare_case_t{"https://www.example.com/login?x=1", "HTTPS://WWW.EXAMPLE.COM/LOGIN?X=1", 3},
                    compare_case_t{"https://www.example.com/login?x=1", "http://www.example.com/login", 4},
                    compare_case_t{"https://www.example.com/login?x=1", "https://example.com/login", 5},
                    compare_case_t{"https://www.example.com/login?x=1", "https://mail.example.com/other", 6},
                    compare_case_t{"https://www.example.com/login?x=1", "https://www.example.org/login", 2},
                    // Domain-strength matches need the same registrable domain: look-alikes under a
                    // shared public suffix, and addresses that share their last two numbers, do not match.
                    compare_case_t{"https://evil.co.uk/login", "https://login.bank.co.uk/login", 2},
                    compare_case_t{"https://evil.co.uk/", "https://bank.co.uk/", 2},
                    compare_case_t{"https://evil.github.io/login", "https://alice.github.io/login", 2},
                    compare_case_t{"http://10.9.2.3/login", "http://192.168.2.3/login", 2},
                    compare_case_t{"https://auth.bank.example/login", "https://www.bank.example/login", 5},
                    compare_case_t{"https://auth.bank.co.uk/a", "https://www.bank.co.uk/b", 6},
                    compare_case_t{"https://auth.bank.example/a", "https://www.bank.example/b", 6},
                    compare_case_t{"https://www.bank.co.uk/login", "https://WWW.Bank.co.uk/login", 3},
                    // An empty page URL or pattern is never a domain match.
                    compare_case_t{"", "", 2},
                    compare_case_t{"https://www.example.com/", "", 2}));

TEST(CompareUrls, ListOrderAndEmptyList) {
  EXPECT_EQ(compareUrls({}, u"https://a.example.com/"), 2);
  EXPECT_EQ(compareUrls({u"https://x.org/", u"https://b.example.com/q", u"https://a.example.com/"},
                        u"https://a.example.com/"),
            6);  // the first URL that gives a result ends the comparison
}

struct parse_case_t {
  const char* text;
  std::int32_t status;
  const char* parsed;
  bool flag = false;
};
class ParseManifestUrlTest : public testing::TestWithParam<parse_case_t> {};
TEST_P(ParseManifestUrlTest, Tokens) {
  const ManifestUrl r = parseManifestUrl(u(GetParam().text));
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_EQ(r.text, u(GetParam().parsed));
  EXPECT_EQ(r.flag, GetParam().flag);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ParseManifestUrlTest,
    testing::Values(
        parse_case_t{.text = "", .status = 0, .parsed = ""},
        parse_case_t{.text = "https://a.example.com/", .status = 1, .parsed = "https://a.example.com/"},
        parse_case_t{.text = "[m0]:3:2:*.example.com^2dot;8080", .status = 3, .parsed = "*.example.com:8080"},
        parse_case_t{.text = "[m0]:2:3:x", .status = 2, .parsed = "x", .flag = true},
        parse_case_t{.text = "[m0]:1:2:x", .status = 1, .parsed = "x"},
        parse_case_t{.text = "[m0]:9:2:x", .status = 1, .parsed = "x"},
        parse_case_t{.text = "[m0]:3:0:x", .status = 0, .parsed = "x"},
        parse_case_t{.text = "[m0]:3:7:x", .status = 0, .parsed = "x"},
        parse_case_t{.text = "[m0]:3:2:x:y", .status = 1, .parsed = ""},
        parse_case_t{.text = "[m0]:", .status = 1, .parsed = "[m0]:"}));

ManifestForm formWithUrl(const char* murl, bool check = true) {
  ManifestForm f;
  f.detection.web_murl = murl;
  f.detection.web_checkurl = check;
  return f;
}

TEST(CheckFormUrl, NoCheckAndEmptyPageUrl) {
  tracecore::testing::capture_t trace;
  bool mismatch = true;
  EXPECT_EQ(checkFormUrl(formWithUrl("https://a.example.com/", false), u"https://a.example.com/", &mismatch), 1);
  EXPECT_FALSE(mismatch);
  EXPECT_EQ(checkFormUrl(formWithUrl("https://a.example.com/"), u"", &mismatch), 2);
  EXPECT_FALSE(mismatch);
  EXPECT_TRUE(trace.has('U', "  URL list is empty then compare fields only"));
  EXPECT_FALSE(trace.contains('U', "URL DOES NOT MATCH"));
}

struct check_case_t {
  const char* murl;
  std::int32_t expected;
  bool mismatch = false;
};
class CheckFormUrlTest : public testing::TestWithParam<check_case_t> {};
TEST_P(CheckFormUrlTest, Results) {
  tracecore::testing::capture_t trace;
  bool mismatch = false;
  EXPECT_EQ(checkFormUrl(formWithUrl(GetParam().murl), u"https://www.example.com/login", &mismatch),
            GetParam().expected);
  EXPECT_EQ(mismatch, GetParam().mismatch);
  EXPECT_EQ(trace.has('U', std::string("'`I0C`'  URL DOES NOT MATCH: '") + GetParam().murl + "'"),
            GetParam().mismatch);
}
INSTANTIATE_TEST_SUITE_P(Cases, CheckFormUrlTest,
                         testing::Values(check_case_t{.murl = "https://www.example.com/login", .expected = 3},
                                         check_case_t{.murl = "[m0]:3:2:anything", .expected = 6},
                                         // A pattern naming a site is granted on that site only.
                                         check_case_t{.murl = "[m0]:3:2:*.example.com^2dot;8080", .expected = 6},
                                         check_case_t{.murl = "[m0]:2:2:https^2dot;//*.example.com/*", .expected = 6},
                                         check_case_t{.murl = "[m0]:3:2:*.bank.co.uk", .expected = 2, .mismatch = true},
                                         check_case_t{.murl = "[m0]:3:2:*.co.uk", .expected = 6},
                                         check_case_t{.murl = "[m0]:3:0:anything", .expected = 1, .mismatch = true},
                                         check_case_t{.murl = "[m0]:3:2:a:b", .expected = 2, .mismatch = true},
                                         check_case_t{.murl = "https://other.org/", .expected = 2, .mismatch = true}));

TEST(UrlKindName, Names) {
  EXPECT_STREQ(urlKindName(4), "urlSDU");
  EXPECT_STREQ(urlKindName(3), "urlExact");
  EXPECT_STREQ(urlKindName(0), "unusable");
}

// Builds page controls the way the page side encodes identities.
class Page {
 public:
  const ffcontrol_record& add(std::int32_t type, const std::string& form, const std::string& id,
                              const std::string& name) {
    ffcontrol_record c;
    c.type = type;
    c.formname = form;
    c.name = "[sid]" + index("101") + "." + index(form + "." + id + "." + name) + "." + index(form) + "..";
    controls.push_back(c);
    return controls.back();
  }
  std::string index(const std::string& item) {
    if (item.empty()) return {};
    auto it = std::find(strings.begin(), strings.end(), item);
    if (it == strings.end()) it = strings.insert(strings.end(), item);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(it - strings.begin()));
    return buf;
  }
  // A field trained on this page: the path is the control's identity and the names the table.
  ManifestField field(std::size_t control, bool password = false, FieldType type = field_edit) const {
    ManifestField f;
    f.type = type;
    f.path = controls[control].name;
    f.password = password;
    return f;
  }
  ManifestForm form(std::vector<ManifestField> fields) const {
    ManifestForm f;
    f.detection.names = joinNames(strings);
    f.fields = std::move(fields);
    return f;
  }

  std::vector<ffcontrol_record> controls;
  ffstring_table strings;
};

TEST(ComposedName, DecodesSidPieces) {
  const std::vector<std::string> table = {"101", "f1.login.user", "f1"};
  EXPECT_EQ(composedNameOf("[sid]0.1.2..", table), "f1.login.user");
  EXPECT_EQ(composedNameOf("[did2]x[sid]0.1.2..", table), "f1.login.user");
  EXPECT_EQ(composedNameOf("[sid]0.1.2..[did2]x", table), "f1.login.user");
  EXPECT_EQ(composedNameOf("[sid]0.7.2..", table), "");
  EXPECT_EQ(composedNameOf("[sid]0..2..", table), "");
  EXPECT_EQ(composedNameOf("[sid]0.zz.2..", table), "");
  EXPECT_EQ(composedNameOf("[did2]0.1.2..", table), "");
  EXPECT_EQ(composedNameOf("[sid]0\\.9.1", table), "f1.login.user");  // "\." does not separate items
  EXPECT_EQ(composedNameOf("[sid]0.\\1", table), "f1.login.user");
  EXPECT_EQ(composedNameOf("[sid]0.ffffffffffffffffffff", table), "");
  EXPECT_EQ(composedNameOf("", table), "");
}

struct path_case_t {
  const char* a;
  const char* b;
  bool match;
};
class ComparePathsTest : public testing::TestWithParam<path_case_t> {};
TEST_P(ComparePathsTest, Rules) { EXPECT_EQ(comparePaths(GetParam().a, GetParam().b), GetParam().match); }
INSTANTIATE_TEST_SUITE_P(
    Cases, ComparePathsTest,
    testing::Values(path_case_t{"f1.login.user", "f1.login.user", true},
                    path_case_t{"", "f1.login.user", false},
                    path_case_t{"f1.login.user", "f1.login.pass", false},
                    path_case_t{"#kx#<;)lid=.login.user", "#kx#<;)lid=x.login.user", true},
                    path_case_t{"#kx#<;)lid=.login.user", "other.login.user", false},
                    path_case_t{"f1.login.user", "f1.login.", true},
                    path_case_t{"f1.login", "f1.login.", false},
                    path_case_t{"f2.login.user", "f1.login.", false}));

TEST(ComparePaths, ReportsStrippedMatch) {
  tracecore::testing::capture_t trace;
  bool stripped = false;
  EXPECT_TRUE(comparePaths("#kx#<;)lid=.a.b", "#kx#<;)lid=.a.b", &stripped));
  EXPECT_FALSE(stripped);
  EXPECT_TRUE(comparePaths("#kx#<;)lid=1.a.b", "#kx#<;)lid=2.a.b", &stripped));
  EXPECT_TRUE(stripped);
  EXPECT_FALSE(trace.contains('U', "name stripped"));
  EXPECT_TRUE(comparePaths("#kx#<;)lid=1.a.b", "#kx#<;)lid=2.a.b", nullptr, true));
  EXPECT_TRUE(trace.has('U', "'`I0A`'name stripped"));
}

TEST(ControlMatchesField, DecodesBothSidesWithTheirTables) {
  Page trained;
  trained.add(ctl_edit, "f1", "login", "user");
  const ManifestForm form = trained.form({trained.field(0)});
  // The page in front of the user has other strings first: indexes differ, names agree.
  Page page;
  page.add(ctl_edit, "search", "q", "q");
  page.add(ctl_edit, "f1", "login", "user");
  const auto names = splitNames(form.detection.names);
  EXPECT_FALSE(controlMatchesField(page.controls[0], page.strings, form.fields[0], names));
  EXPECT_TRUE(controlMatchesField(page.controls[1], page.strings, form.fields[0], names));
}

class FormMatchTest : public testing::Test {
 protected:
  void SetUp() override {
    page.add(ctl_edit, "f1", "login", "user");      // 0
    page.add(ctl_psw, "f1", "pw", "pass");          // 1
    page.add(ctl_psw, "f1", "pw2", "pass2");        // 2
    page.add(ctl_psw, "f1", "pw3", "pass3");        // 3
    page.add(ctl_check, "f1", "keep", "keep");      // 4
  }
  Page page;
};

TEST_F(FormMatchTest, EveryFieldMustFindAControl) {
  ManifestForm form = page.form({page.field(0), page.field(1, true), page.field(2, true), page.field(3, true)});
  EXPECT_TRUE(formMatchesControls(page.controls, page.strings, form));
  Page other;
  other.add(ctl_edit, "f9", "x", "y");
  form.fields.push_back(other.field(0));
  form.fields.back().path = "[sid]0.99.2..";
  EXPECT_FALSE(formMatchesControls(page.controls, page.strings, form));
}

TEST_F(FormMatchTest, FewerPasswordFieldsThanTwoOrThreePagePasswordsDoNotMatch) {
  const ManifestForm twoPasswords = page.form({page.field(0), page.field(1, true), page.field(2, true)});
  EXPECT_FALSE(formMatchesControls(page.controls, page.strings, twoPasswords));  // page has three
  Page single;
  single.add(ctl_edit, "f1", "login", "user");
  single.add(ctl_psw, "f1", "pw", "pass");
  // Both password fields find a control (the second one by its path only).
  const ManifestForm form = single.form({single.field(1, true), single.field(0, true)});
  EXPECT_TRUE(formMatchesControls(single.controls, single.strings, form));
}

TEST_F(FormMatchTest, ButtonsTakeNoPart) {
  tracecore::testing::capture_t trace(tracecore::cat_control_creation);
  ManifestForm buttons = page.form({page.field(0, false, field_button)});
  buttons.fields[0].path = "nowhere";
  EXPECT_FALSE(formMatchesControls(page.controls, page.strings, buttons));
  EXPECT_TRUE(trace.has('U', "'`I01`'IE field skipped: <button>, useit = 0, isbtn = 1, path = nowhere"))
      << trace.dump();
  EXPECT_FALSE(formMatchesControls(page.controls, page.strings, page.form({})));
  const ManifestForm all = page.form({buttons.fields[0], page.field(0), page.field(1, true), page.field(2, true),
                                      page.field(3, true)});
  EXPECT_TRUE(formMatchesControls(page.controls, page.strings, all));
}

}  // namespace
}  // namespace manifest
