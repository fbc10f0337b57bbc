#include <gtest/gtest.h>

#include "xpcom/nsStringAPI.h"
#include "xpcom/prprf.h"

namespace {

TEST(StringApiTest, OwnedStringsCopyAndOutliveTheirSource) {
  nsString a(u"https://login.example.com/");
  nsString b;
  {
    std::u16string temp = u"temporary";
    nsString t(temp);
    b = t;
    temp[0] = u'X';
  }
  EXPECT_EQ(b.view(), u"temporary");
  b = a;
  EXPECT_EQ(b.view(), a.view());
  b = b;  // self-assignment keeps the text
  EXPECT_EQ(b.view(), u"https://login.example.com/");
}

TEST(StringApiTest, DependentContainerDoesNotCopy) {
  const char16_t text[] = u"depend";
  nsStringContainer c;
  ASSERT_EQ(NS_StringContainerInit2(c, text, PR_UINT32_MAX, NS_STRING_CONTAINER_INIT_DEPEND), NS_OK);
  const PRUnichar* data = nullptr;
  PRBool terminated = PR_FALSE;
  EXPECT_EQ(NS_StringGetData(c, &data, &terminated), 6u);
  EXPECT_EQ(data, text);
  EXPECT_TRUE(terminated);
  NS_StringContainerFinish(c);
}

TEST(StringApiTest, AssignToAnOutParameter) {
  nsString out;
  nsAString& as_out = out;
  EXPECT_EQ(nsString::assign_to(as_out, u"kxprofile://1234"), NS_OK);
  EXPECT_EQ(nsString::view_of(as_out), u"kxprofile://1234");
  nsString::assign_to(as_out, u"");
  EXPECT_TRUE(out.view().empty());
}

TEST(PrSnprintfTest, TruncatesAndCountsWhatItStored) {
  char buf[8];
  EXPECT_EQ(PR_snprintf(buf, sizeof buf, "%s-%d", "abc", 42), 6u);
  EXPECT_STREQ(buf, "abc-42");
  EXPECT_EQ(PR_snprintf(buf, sizeof buf, "%s", "0123456789"), 7u);
  EXPECT_STREQ(buf, "0123456");
}

}  // namespace
