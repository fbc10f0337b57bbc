#include "manifest/PublicSuffix.h"

#include <gtest/gtest.h>

namespace manifest {
namespace {

struct site_case_t {
  const char* url;
  const char* host;
  const char* site;
};

class SiteOfUrlTest : public testing::TestWithParam<site_case_t> {};
TEST_P(SiteOfUrlTest, HostAndSite) {
  const std::u16string url(GetParam().url, GetParam().url + std::char_traits<char>::length(GetParam().url));
  EXPECT_EQ(hostOfUrl(url), GetParam().host);
  EXPECT_EQ(siteOfUrl(url), GetParam().site);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, SiteOfUrlTest,
    testing::Values(site_case_t{"https://login.bank.co.uk/a?b#c", "login.bank.co.uk", "bank.co.uk"},
                    site_case_t{"https://evil.co.uk/", "evil.co.uk", "evil.co.uk"},
                    site_case_t{"https://co.uk/", "co.uk", "co.uk"},  // a public suffix is only its own site
                    site_case_t{"https://alice.github.io/x", "alice.github.io", "alice.github.io"},
                    site_case_t{"https://github.io/", "github.io", "github.io"},
                    site_case_t{"https://WWW.Bank.Example./", "www.bank.example", "bank.example"},
                    site_case_t{"https://user:pw@www.bank.example:8443/", "www.bank.example", "bank.example"},
                    site_case_t{"https://bank.example@evil.example/", "evil.example", "evil.example"},
                    site_case_t{"http://10.1.2.3:8080/login", "10.1.2.3", "10.1.2.3"},
                    site_case_t{"http://[::1]:8080/", "[::1]", "[::1]"},
                    site_case_t{"http://localhost/", "localhost", "localhost"},
                    site_case_t{"www.bank.example/login", "www.bank.example", "bank.example"},
                    // Wildcard and exception rules ("*.ck", "!www.ck").
                    site_case_t{"https://a.b.ck/", "a.b.ck", "a.b.ck"},
                    site_case_t{"https://x.www.ck/", "x.www.ck", "www.ck"},
                    site_case_t{"about:blank", "", ""},
                    site_case_t{"", "", ""}));

TEST(PublicSuffix, RulesOfTheList) {
  EXPECT_EQ(publicSuffix("login.bank.co.uk"), "co.uk");
  EXPECT_EQ(publicSuffix("www.example.com"), "com");
  EXPECT_EQ(publicSuffix("host.unlisted-tld"), "unlisted-tld");  // the default rule
  EXPECT_EQ(registrableDomain("co.uk"), "");
  EXPECT_EQ(registrableDomain("10.1.2.3"), "");
  // A non-ASCII rule matches its punycode form too (".рф" is "xn--p1ai").
  EXPECT_EQ(publicSuffix("shop.xn--p1ai"), "xn--p1ai");
}

TEST(SameSite, NeedsAHostOnBothSides) {
  EXPECT_TRUE(sameSite(u"https://auth.bank.example/", u"http://www.bank.example/login"));
  EXPECT_FALSE(sameSite(u"https://evil.co.uk/", u"https://bank.co.uk/"));
  EXPECT_FALSE(sameSite(u"", u""));
}

TEST(SchemeOfUrl, LowerCasedOrEmpty) {
  EXPECT_EQ(schemeOfUrl(std::u16string_view(u"HTTPS://a.example/")), "https");
  EXPECT_EQ(schemeOfUrl(std::u16string_view(u"www.example.com/x")), "");
  EXPECT_EQ(schemeOfUrl(std::u16string_view(u"www.example.com:8080/x")), "");
}

}  // namespace
}  // namespace manifest
