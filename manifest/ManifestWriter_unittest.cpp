#include "manifest/ManifestWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "manifest/ManifestReader.h"

namespace manifest {
namespace {

Manifest read(const std::string& xml) {
  Manifest m;
  parseManifest(xml.data(), xml.size(), m);
  return m;
}

std::string write(Manifest m, bool omitAccid = false) {
  std::string text;
  manifestToText(m, text, omitAccid);
  return text;
}

// The attribute lines of the first element named |tag| ("<detection"), up to its "/>".
std::string element(const std::string& text, const std::string& tag) {
  const std::size_t at = text.find(tag + "\n");
  if (at == std::string::npos) return {};
  return text.substr(at, text.find("/>", at) + 2 - at);
}

struct page_text_case_t {
  const char* name;
  std::string text;  // a label as a page may give it
  std::string back;  // what the written manifest reads back
};
void PrintTo(const page_text_case_t& c, std::ostream* os) { *os << c.name; }
class PageTextRoundTrip : public testing::TestWithParam<page_text_case_t> {};

// Texts from pages end up in trained manifests: whatever they hold, the written manifest reads back
// (characters XML allows come back as they were; those it forbids as U+FFFD).
TEST_P(PageTextRoundTrip, WrittenManifestReadsBack) {
  Manifest m;
  ManifestField& f = m.forms.emplace_back().fields.emplace_back();
  f.displayname = GetParam().text;
  f.path = "[sid]101.0...";
  const std::string text = write(m);
  Manifest back;
  ASSERT_NO_THROW(parseManifest(text.data(), text.size(), back)) << text;
  ASSERT_EQ(back.forms.size(), 1u) << text;
  ASSERT_EQ(back.forms[0].fields.size(), 1u) << text;
  EXPECT_EQ(back.forms[0].fields[0].displayname, GetParam().back) << text;
}
INSTANTIATE_TEST_SUITE_P(
    Cases, PageTextRoundTrip,
    testing::Values(page_text_case_t{"TabAndLineBreaks", "a\tb\nc\r\nd", "a\tb\nc\r\nd"},
                    page_text_case_t{"ControlCharacter", "a\x01" "b\x1F", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
                    page_text_case_t{"Nul", std::string("a\0b", 3), "a\xEF\xBF\xBD" "b"},
                    page_text_case_t{"NonCharacterFFFF", "x\xEF\xBF\xBFy", "x\xEF\xBF\xBDy"},
                    page_text_case_t{"LoneSurrogate", "x\xED\xA0\x80y", "x\xEF\xBF\xBDy"},
                    page_text_case_t{"BrokenSequence", "x\xC3", "x\xEF\xBF\xBD"},
                    page_text_case_t{"Markup", "<a & 'b' \"c\">", "<a & 'b' \"c\">"},
                    page_text_case_t{"Umlauts", "Kennw\xC3\xB6rter \xF0\x9F\x94\x91", "Kennw\xC3\xB6rter \xF0\x9F\x94\x91"}));

TEST(ManifestWriter, EmptyManifestWritesNothing) {
  EXPECT_EQ(write(Manifest()), "");
}

TEST(ManifestWriter, DescriptorOnly) {
  Manifest m;
  m.descriptor.id = "{x}";
  m.descriptor.size = "12";
  EXPECT_EQ(write(m),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest>\n\t<descriptor\n\t\tid=\"{x}\"\n"
            "\t\tsize=\"12\"\n\t\tversion=\"2.4.3\"\n\t/>\n</manifest>\n");
}

TEST(ManifestWriter, LayoutOfALogonForm) {
  const Manifest m = read(
      "<manifest><descriptor id='i'/><forms><form><detection web_murl='https://a.example.com/' "
      "web_checkurl='1'/><fields><field type='edit' path_ext='[sid]0.1..' useit='1'/></fields></form>"
      "</forms></manifest>");
  EXPECT_EQ(write(m),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<manifest>\n"
            "\t<descriptor\n\t\tid=\"i\"\n\t\tversion=\"2.4.3\"\n\t/>\n"
            "\t<forms>\n"
            "\t\t<form>\n"
            "\t\t\t<detection\n\t\t\t\tweb_murl=\"https://a.example.com/\"\n\t\t\t\tweb_checkurl=\"1\"\n\t\t\t/>\n"
            "\t\t\t<options\n\t\t\t\tusequicklink=\"2\"\n\t\t\t/>\n"
            "\t\t\t<fields>\n"
            "\t\t\t\t<field\n\t\t\t\t\ttype=\"edit\"\n\t\t\t\t\tpath_ext=\"[sid]0.1..\"\n\t\t\t\t\tuseit=\"1\"\n"
            "\t\t\t\t/>\n"
            "\t\t\t</fields>\n"
            "\t\t</form>\n"
            "\t</forms>\n"
            "</manifest>\n");
}

TEST(ManifestWriter, ContextsOfLogonAndPasswordChangeForms) {
  Manifest m;
  m.forms.resize(2);
  m.forms[0].fields.emplace_back().useit = true;
  m.forms[1].fields.emplace_back().useit = true;
  m.normalize();
  const std::string text = write(m);
  EXPECT_EQ(text.find("<fcontext"), text.rfind("<fcontext"));  // only the second form has one
  EXPECT_EQ(element(text, "\t\t\t<fcontext"), "\t\t\t<fcontext\n\t\t\t\ttype=\"pchange\"\n\t\t\t\tname=\"1\"\n\t\t\t/>");
}

struct caption_case_t {
  const char* caption;
  const char* pattern;
  const char* writtenCaption;
  const char* writtenPattern;
};
class CaptionConversionTest : public testing::TestWithParam<caption_case_t> {};
TEST_P(CaptionConversionTest, WritesTokensAndReadsBack) {
  Manifest m;
  FormDetection& d = m.forms.emplace_back().detection;
  d.caption = GetParam().caption;
  d.pattern = GetParam().pattern;
  const std::string text = write(m);
  const std::string det = element(text, "\t\t\t<detection");
  EXPECT_NE(det.find(std::string("caption=\"") + GetParam().writtenCaption + "\"\n"), std::string::npos) << det;
  EXPECT_NE(det.find(std::string("variablecaption=\"") + GetParam().writtenPattern + "\"\n"), std::string::npos)
      << det;
  EXPECT_EQ(read(text).forms[0].detection.caption, GetParam().caption);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, CaptionConversionTest,
    testing::Values(caption_case_t{"*Mail*", "", "[m0]:2:3:Mail", "Mail"},
                    caption_case_t{"Mail*", "", "[m0]:2:2:Mail", "Mail"},
                    caption_case_t{"*Mail", "", "[m0]:2:1:Mail", "Mail"},
                    caption_case_t{"Log*in", "stored", "Log*in", "stored"},
                    caption_case_t{"Site: log on*", "", "[m0]:2:2:Site^2dot; log on", "Site^2dot; log on"}));

TEST(ManifestWriter, OptionsBalloonCountAndSubmitType) {
  Manifest m;
  ManifestForm& form = m.forms.emplace_back();
  form.options.submittype = 2;
  EXPECT_EQ(element(write(m), "\t\t\t<options").find("balooncount"), std::string::npos);
  form.options.balooncount = 0;
  const std::string options = element(write(m), "\t\t\t<options");
  EXPECT_NE(options.find("balooncount=\"0\"\n"), std::string::npos);
  EXPECT_NE(options.find("submittype=\"nosubmit\"\n"), std::string::npos);
  EXPECT_NE(options.find("usequicklink=\"0\"\n"), std::string::npos);
}

TEST(ManifestWriter, FieldValuesPolicyAndAccid) {
  Manifest m;
  ManifestField& f = m.forms.emplace_back().fields.emplace_back();
  f.type = field_combo;
  f.value.value = "a\tb%";
  f.policy = "[p4]old#expo#[e1]x#expo#junk#expo#[p4]new";
  f.accid = 0;
  const std::string field = element(write(m), "\t\t\t\t<field");
  EXPECT_NE(field.find("value=\"a%09b%25\"\n"), std::string::npos) << field;
  EXPECT_NE(field.find("policy=\"[p4]new\"\n"), std::string::npos);
  EXPECT_NE(field.find("policy2=\"[e1]x\"\n"), std::string::npos);
  EXPECT_EQ(field.find("junk"), std::string::npos);
  EXPECT_NE(field.find("accid=\"0\"\n"), std::string::npos);
  EXPECT_EQ(element(write(m, true), "\t\t\t\t<field").find("accid"), std::string::npos);
  f.accid = -1;
  EXPECT_EQ(element(write(m), "\t\t\t\t<field").find("accid"), std::string::npos);
}

TEST(ManifestWriter, OurlCopiedFromMurlIsLeftOut) {
  Manifest m = read("<manifest><forms><form><detection web_murl='https://x.example.com/'/></form></forms></manifest>");
  const std::string text = write(m);
  EXPECT_EQ(text.find("web_ourl"), std::string::npos);
  EXPECT_NE(text.find("web_checkurl=\"1\""), std::string::npos);
}

// Unknown option attributes are kept in the extra text and must come back as the same text.
TEST(ManifestWriter, ExtraOptionAttributesReadBackUnchanged) {
  const Manifest m = read(
      "<manifest><forms><form><options choosename='c' zeta='1' alpha='x &amp; &quot;y&quot; &lt;z&gt;' "
      "multi='line1&#10;line2&#9;tab&#13;' eq='a&#10;zeta=b'/></form></forms></manifest>");
  const std::string extra = m.forms[0].options.extra;
  ASSERT_EQ(extra, "zeta=1\nalpha=x & \"y\" <z>\nmulti=line1\nline2\ttab\r\neq=a\nzeta=b");
  const std::string text = write(m);
  EXPECT_NE(text.find("\t\t\t\tzeta=\"1\"\n"), std::string::npos) << text;
  const Manifest back = read(text);
  EXPECT_EQ(back.forms[0].options.extra, extra);
  EXPECT_EQ(back.forms[0].options.choosename, "c");
}

TEST(ManifestWriter, ExtraLinesThatAreNoAttributesStayReadable) {
  Manifest m;
  m.forms.emplace_back().options.extra = "no equals\nbad name=1\nchoosename=dup\nok=1\n=x";
  const Manifest back = read(write(m));
  EXPECT_EQ(back.forms[0].options.extra, "ok=1\n=x");
  EXPECT_EQ(back.forms[0].options.choosename, "");
}

// A reference to the first field of a form (rfieldindex 0) keeps its target through a round trip.
TEST(ManifestWriter, ReferenceToFirstFieldSurvivesRoundTrip) {
  Manifest m = read(
      "<manifest><forms><form><fields><field type='edit' dbname='user'/><field type='edit' password='1'/>"
      "<field type='edit' rfield='in' rfieldindex='0'/></fields></form></forms></manifest>");
  ASSERT_EQ(m.forms[0].fields[2].targetId, m.forms[0].fields[0].fieldId);
  const std::string text = write(m);
  EXPECT_NE(text.find("rfieldindex=\"0\"\n"), std::string::npos);
  EXPECT_EQ(text.find("rfieldform"), std::string::npos);  // 0 stays unwritten
  const Manifest back = read(text);
  EXPECT_EQ(back.forms[0].fields[2].targetId, back.forms[0].fields[0].fieldId);
  EXPECT_EQ(back.forms[0].fields[0].refCount, 1);
}

TEST(ManifestWriter, NeverResolvedReferenceKeepsItsForm) {
  Manifest m = read(
      "<manifest><forms><form><fields><field type='edit' rfield='out' rfieldform='-2' rfieldindex='4'/>"
      "</fields></form></forms></manifest>");
  const std::string text = write(m);
  EXPECT_NE(text.find("rfieldform=\"-2\""), std::string::npos);
  EXPECT_EQ(read(text).forms[0].fields[0].rfieldform, -2);
}

TEST(ManifestWriter, TypicalFileRoundTripsToTheSameText) {
  const char* root = std::getenv("KX_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : ".") + "/manifest/testdata/logon.kxm", std::ios::binary);
  const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(original.empty());
  Manifest first = read(original);
  const std::string once = write(first);
  Manifest second = read(once);
  EXPECT_EQ(write(second), once);
  EXPECT_EQ(second.forms.size(), 2u);
  EXPECT_EQ(second.forms[1].fields[2].targetId, second.forms[1].fields[1].fieldId);
  EXPECT_EQ(second.forms[0].detection.caption, first.forms[0].detection.caption);
}

}  // namespace
}  // namespace manifest
