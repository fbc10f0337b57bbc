// Quick-link URIs, profile links and the store reader.
#include "include_extension/QuickLinks.h"

#include <set>
#include <stdexcept>

#include <gtest/gtest.h>

#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"

namespace kxext::quicklinks {
namespace {

TEST(QuickLinkNumber, AfterTheIdMarker) {
  EXPECT_EQ(2, quicklink_number(u"kxql://open#id=2"));
  EXPECT_EQ(17, quicklink_number(u"#id=17&x"));
  EXPECT_EQ(-1, quicklink_number(u"kxql://open#id="));
  EXPECT_EQ(-1, quicklink_number(u"kxql://open?id=2"));
  EXPECT_EQ(-1, quicklink_number(u""));
}

struct link_case_t {
  const char16_t* url;
  std::int32_t profile;
  const char16_t* link;
};

TEST(ProfileLink, SeparatorFollowsTheUrl) {
  const link_case_t cases[] = {
      {u"https://mail.northwind.example/login", 7, u"https://mail.northwind.example/login?kxprofileid=7"},
      {u"https://shop.example/a?b=1", 12, u"https://shop.example/a?b=1&kxprofileid=12"},
      {u"https://app.example/#start", 0, u"https://app.example/#start&kxprofileid=0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.link, profile_link(c.url, c.profile));
}

struct strip_case_t {
  const char16_t* in;
  const char16_t* out;
  bool found = true;          // the link carried the parameter
  const char16_t* id = u"";   // its text
  std::int32_t profile = -1;  // its number
};

class Strip : public ::testing::TestWithParam<strip_case_t> {};

TEST_P(Strip, TakesTheParameterOut) {
  const strip_case_t& c = GetParam();
  const opened_link_t r = strip_profile_link(c.in);
  EXPECT_EQ(c.out, r.out);
  EXPECT_EQ(c.found, r.found);
  EXPECT_EQ(c.id, r.id_text);
  EXPECT_EQ(c.profile, r.profile);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Strip,
    ::testing::Values(
        strip_case_t{.in = u"https://a.example/p?x=1&kxprofileid=7", .out = u"https://a.example/p?x=1", .id = u"7",
                     .profile = 7},
        strip_case_t{.in = u"https://a.example/p?kxprofileid=7&z=2", .out = u"https://a.example/p?z=2", .id = u"7",
                     .profile = 7},
        strip_case_t{.in = u"https://a.example/p?kxprofileid=3", .out = u"https://a.example/p", .id = u"3",
                     .profile = 3},
        strip_case_t{.in = u"https://a.example/#kxprofileid=", .out = u"https://a.example/"},
        strip_case_t{.in = u"https://a.example/p?x=1", .out = u"https://a.example/p?x=1", .found = false},
        strip_case_t{.in = u"kxprofileid=5", .out = u"", .id = u"5", .profile = 5}));

TEST(ProfileLink, RoundTrip) {
  for (const char16_t* url : {u"https://mail.northwind.example/login", u"https://shop.example/a?b=1"}) {
    const opened_link_t r = strip_profile_link(profile_link(url, 42));
    EXPECT_EQ(url, r.out);
    EXPECT_EQ(42, r.profile);
  }
}

// A machine with a few files and one environment variable.
store_env_t machine(std::set<std::u16string> files) {
  store_env_t env;
  env.expand = [](std::u16string_view text) {
    std::u16string out(text);
    const std::u16string var = u"%APPDATA%";
    if (auto at = out.find(var); at != std::u16string::npos) out.replace(at, var.size(), u"C:\\Users\\ann\\AppData");
    return out;
  };
  env.file_exists = [files](std::u16string_view path) { return files.count(std::u16string(path)) != 0; };
  return env;
}

constexpr char kStore[] =
    "vlturls=shop.example;bank.example\r\n"
    "[shortcutrecord]\r\n"
    "name=Northwind mail\r\n"
    "url=https://mail.northwind.example/login\r\n"
    "manifest=idv::mail.kxm\r\n"
    "profile=7\r\n"
    "\r\n"
    "[shortcutrecord]\r\n"
    "name=Gone\r\n"
    "url=https://gone.example/\r\n"
    "manifest=idv::missing.kxm\r\n"
    "profile=99\r\n"
    "qlwocred=1\r\n"
    "[shortcutrecord]\r\n"
    "name=Accounting\r\n"
    "dlgpath=C:\\Apps\\ledger.exe /quiet\r\n"
    "manifest=idv::ledger.kxm\r\n"
    "[shortcutrecord]\r\n"
    "name=A shop the vault covers\r\n"
    "url=https://www.shop.example/\r\n"
    "manifest=idv::shop.kxm\r\n"
    "[shortcutrecord]\r\n"
    "name=Vault copy of the ledger\r\n"
    "dlgpath=C:\\Apps\\ledger.exe /quiet\r\n"
    "manifest=%APPDATA%\\vault\\ledger.kxm\r\n"
    "bogus line\r\n"
    "colour=blue\r\n";

const std::set<std::u16string> kFiles{u"idv::mail.kxm", u"idv::ledger.kxm", u"idv::shop.kxm",
                                      u"C:\\Apps\\ledger.exe /quiet", u"C:\\Users\\ann\\AppData\\vault\\ledger.kxm"};

TEST(StoreReader, PlainModeKeepsEveryRecordWithItsManifest) {
  tracecore::testing::capture_t trace;
  const store_t store = read_store(kStore, machine(kFiles), read_mode::plain);
  std::vector<std::u16string> names;
  for (const record_t& r : store.records) names.push_back(r.name);
  EXPECT_EQ((std::vector<std::u16string>{u"Northwind mail", u"Accounting", u"A shop the vault covers",
                                         u"Vault copy of the ledger"}),
            names);
  EXPECT_EQ(u"shop.example;bank.example", store.vlturls);
  EXPECT_EQ(record_t::web, store.records[0].kind);
  EXPECT_EQ(7, store.records[0].profile);
  EXPECT_EQ(record_t::desktop, store.records[1].kind);
  EXPECT_TRUE(trace.has('E', "0 inv.line 'bogus line'")) << trace.dump();
  EXPECT_TRUE(trace.has('E', "0 inv.line 'colour=blue'")) << trace.dump();
}

TEST(StoreReader, DroppedRecordDoesNotLeakIntoTheNext) {
  // "Gone" is dropped (its manifest is missing); its qlwocred and profile must not carry over.
  const store_t store = read_store(kStore, machine(kFiles), read_mode::plain);
  ASSERT_GE(store.records.size(), 2u);
  const record_t& accounting = store.records[1];
  EXPECT_EQ(u"Accounting", accounting.name);
  EXPECT_FALSE(accounting.qlwocred);
  EXPECT_EQ(0, accounting.profile);
  EXPECT_EQ(u"", accounting.url) << "the desktop record got the url of the dropped one";
}

TEST(StoreReader, MergeKeepsSuiteWebAndDesktopRecordsTheVaultDoesNotCover) {
  const store_t store = read_store(kStore, machine(kFiles), read_mode::merge);
  std::vector<std::u16string> names;
  for (const record_t& r : store.records) names.push_back(r.name);
  // The shop is listed in vlturls and the ledger has a vault record of its own: both stay out.
  EXPECT_EQ((std::vector<std::u16string>{u"Northwind mail"}), names);

  // Without the vault's ledger record the desktop quick link stays beside the web one.
  std::string text = kStore;
  text.erase(text.find("[shortcutrecord]\r\nname=Vault copy"));
  const store_t both = read_store(text, machine(kFiles), read_mode::merge);
  ASSERT_EQ(2u, both.records.size());
  EXPECT_EQ(record_t::web, both.records[0].kind);
  EXPECT_EQ(record_t::desktop, both.records[1].kind);
}

TEST(StoreReader, DesktopRecordNeedsItsApplication) {
  const store_t store = read_store("[shortcutrecord]\nname=X\ndlgpath=C:\\none.exe\nmanifest=idv::ledger.kxm\n",
                                   machine(kFiles), read_mode::plain);
  ASSERT_EQ(1u, store.records.size());
  EXPECT_EQ(record_t::none, store.records[0].kind);
  EXPECT_EQ(u"", store.records[0].dlgpath);
  // A browser's command line ends at its executable.
  const store_t ie = read_store(
      "[shortcutrecord]\ndlgpath=C:\\Program Files\\IE\\IEXPLORE.EXE http://x.example/\nmanifest=idv::ledger.kxm\n",
      machine({u"idv::ledger.kxm", u"C:\\Program Files\\IE\\IEXPLORE.EXE"}), read_mode::plain);
  ASSERT_EQ(1u, ie.records.size());
  EXPECT_EQ(record_t::desktop, ie.records[0].kind);
}

TEST(Lookup, NumbersStartAtTwoInNameOrder) {
  std::string text = kStore;
  text.erase(text.find("[shortcutrecord]\r\nname=Vault copy"));
  const store_env_t env = machine(kFiles);
  const store_t merged = read_store(text, env, read_mode::merge);
  const quicklink_info_t first = lookup(merged, 2, env);
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(u"", first.url) << "Accounting comes first by name";
  EXPECT_EQ(u"idv::ledger.kxm", first.manifest);
  const quicklink_info_t second = lookup(merged, 3, env);
  EXPECT_EQ(u"https://mail.northwind.example/login", second.url);
  EXPECT_EQ(7, second.profile);
  EXPECT_THROW(lookup(merged, 1, env), std::out_of_range);
  EXPECT_THROW(lookup(merged, 4, env), std::out_of_range);
  EXPECT_THROW(lookup(store_t(), 2, env), std::out_of_range);
}

}  // namespace
}  // namespace kxext::quicklinks

namespace {

using kxext::quicklinks::profile_links_t;

// Two tabs (browser elements) and documents of two sites, as the page DOM gives them.
struct tabs_fixture_t {
  std::unique_ptr<snapdom::page_t> chrome = snapdom::page_t::from_html(R"(<b id="tab1"></b><b id="tab2"></b>)");
  std::unique_ptr<snapdom::page_t> mail = snapdom::page_t::from_html("<p>", "https://mail.northwind.example/login");
  std::unique_ptr<snapdom::page_t> other = snapdom::page_t::from_html("<p>", "https://evil.example/");
  nsISupports* tab1 = chrome->element_by_id("tab1");
  nsISupports* tab2 = chrome->element_by_id("tab2");
  profile_links_t links;
};

const char16_t kLink[] = u"https://mail.northwind.example/login?kxprofileid=1";
const char16_t kSite[] = u"https://mail.northwind.example/login";

TEST(ProfileLinks, OnlyALinkThisWindowProducedKeepsAProfile) {
  tabs_fixture_t fx;
  // A page's own "?kxprofileid=": nothing is kept.
  EXPECT_FALSE(fx.links.opened(fx.tab1, kLink, kSite, 1, 1000));
  EXPECT_EQ(fx.links.profile_for(fx.tab1, fx.mail->document(), kSite), -1);

  fx.links.granted(kLink, 1000);
  EXPECT_FALSE(fx.links.opened(fx.tab1, u"https://mail.northwind.example/login?kxprofileid=2", kSite, 2, 1001));
  EXPECT_TRUE(fx.links.opened(fx.tab1, kLink, kSite, 1, 1002));
  EXPECT_FALSE(fx.links.opened(fx.tab2, kLink, kSite, 1, 1003));  // once
  EXPECT_EQ(fx.links.profile_for(fx.tab2, fx.mail->document(), kSite), -1);
  EXPECT_EQ(fx.links.profile_for(fx.tab1, fx.mail->document(), kSite), 1);
  // The same document again (not recognised the first time): still there.
  EXPECT_EQ(fx.links.profile_for(fx.tab1, fx.mail->document(), kSite), 1);
}

TEST(ProfileLinks, BoundToTheHostAndTheFirstDocument) {
  tabs_fixture_t fx;
  fx.links.granted(kLink, 0);
  ASSERT_TRUE(fx.links.opened(fx.tab1, kLink, kSite, 1, 10));
  // The tab shows another site before the login page: the profile is gone.
  EXPECT_EQ(fx.links.profile_for(fx.tab1, fx.other->document(), u"https://evil.example/"), -1);
  EXPECT_EQ(fx.links.profile_for(fx.tab1, fx.mail->document(), kSite), -1);

  fx.links.granted(kLink, 20);
  ASSERT_TRUE(fx.links.opened(fx.tab1, kLink, kSite, 1, 30));
  EXPECT_EQ(fx.links.profile_for(fx.tab1, fx.mail->document(), kSite), 1);
  // Another document of the same host later (the next navigation): dropped.
  auto next = snapdom::page_t::from_html("<p>", "https://mail.northwind.example/inbox");
  EXPECT_EQ(fx.links.profile_for(fx.tab1, next->document(), u"https://mail.northwind.example/inbox"), -1);
}

TEST(ProfileLinks, AGrantExpires) {
  tabs_fixture_t fx;
  fx.links.granted(kLink, 0xFFFFFF00u);  // the tick count wraps in between
  EXPECT_TRUE(fx.links.opened(fx.tab1, kLink, kSite, 1, 0x100u));
  fx.links.granted(kLink, 0);
  EXPECT_FALSE(fx.links.opened(fx.tab1, kLink, kSite, 1, profile_links_t::kGrantLifetimeMs + 1));
}

}  // namespace
