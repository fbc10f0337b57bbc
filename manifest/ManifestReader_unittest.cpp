#include "manifest/ManifestReader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tracecore/testing.h"
#include "tracecore/utf.h"

namespace {

std::string testdata(const char* name) {
  const char* root = std::getenv("KX_SOURCE_DIR");
  return std::string(root ? root : ".") + "/manifest/testdata/" + name;
}

// Parses a manifest whose forms element holds |forms| and whose root holds |extra| before it.
Manifest parse(const std::string& body) {
  const std::string xml = "<?xml version=\"1.0\"?><manifest>" + body + "</manifest>";
  Manifest m;
  manifest::parseManifest(xml.data(), xml.size(), m);
  return m;
}

Manifest parseField(const std::string& attributes) {
  return parse("<forms><form><fields><field " + attributes + "/></fields></form></forms>");
}

Manifest parseOptions(const std::string& attributes) {
  return parse("<forms><form><options " + attributes + "/></form></forms>");
}

TEST(ManifestReader, LoadsTypicalFile) {
  tracecore::testing::capture_t trace;
  Manifest m;
  ASSERT_TRUE(loadM_properly(tracecore::to_utf16(testdata("logon.kxm")), m)) << trace.dump();
  EXPECT_EQ(m.isNew, 0);
  EXPECT_FALSE(m.alien);
  EXPECT_EQ(m.filePath, tracecore::to_utf16(testdata("logon.kxm")));
  EXPECT_EQ(m.descriptor.id, "{6b1c2d3e-0a4f-4c1b-9e2d-3f4a5b6c7d8e}");
  EXPECT_EQ(m.descriptor.storage_id, "s-17");
  ASSERT_EQ(m.forms.size(), 2u);

  const ManifestForm& logon = m.forms[0];
  EXPECT_EQ(logon.context.name, 0);
  EXPECT_EQ(logon.detection.captionMode, 2);
  EXPECT_EQ(logon.detection.caption, "Sign in : Example*");
  EXPECT_EQ(logon.detection.pattern, "Sign in : Example");
  EXPECT_EQ(logon.detection.web_ourl, "https://www.example.com/login");
  EXPECT_TRUE(logon.detection.ourlFromMurl);
  EXPECT_EQ(logon.options.choosename, "Example mail");
  EXPECT_EQ(logon.options.balooncount, 2);
  EXPECT_EQ(logon.options.submittype, 1);
  ASSERT_EQ(logon.fields.size(), 4u);
  EXPECT_EQ(logon.fields[1].path, "[sid]0.3.2..");
  EXPECT_TRUE(logon.fields[1].password);
  EXPECT_EQ(logon.fields[1].accid, 1002);
  EXPECT_EQ(logon.fields[2].type, field_check);
  EXPECT_EQ(logon.fields[2].value.kind, 0);
  EXPECT_EQ(logon.fields[3].type, field_button);

  const ManifestForm& change = m.forms[1];
  EXPECT_EQ(change.context.type, 2);
  EXPECT_EQ(change.context.parent, 0);
  EXPECT_EQ(change.fields[0].fieldId, 65536);
  // "in" without form and index: the first password field of the logon form.
  EXPECT_EQ(change.fields[0].targetId, logon.fields[1].fieldId);
  EXPECT_EQ(change.fields[2].targetId, change.fields[1].fieldId);
  EXPECT_EQ(change.fields[3].value.value, "tab\there");
  EXPECT_EQ(m.refStatus, 0);

  ASSERT_EQ(m.processes.count("firefox.exe"), 1u);
  const ExecutableEntry& fx = m.processes.at("firefox.exe");
  EXPECT_EQ(fx.flags, 0x20u);
  EXPECT_EQ(fx.classes.at("MozillaWindowClass").flags, 0x40u);
  EXPECT_EQ(fx.classes.at("MozillaWindowClass").captions.at("Sign in"), 0x8u);
}

struct attr_case_t {
  const char* attributes;
  const char* expected;
};

class DescriptorIntegrityTest : public testing::TestWithParam<attr_case_t> {};
TEST_P(DescriptorIntegrityTest, ExtWinsWhateverTheOrder) {
  const Manifest m = parse(std::string("<descriptor ") + GetParam().attributes + "/>");
  EXPECT_EQ(m.descriptor.integrity, GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, DescriptorIntegrityTest,
                         testing::Values(attr_case_t{"integrity='a' integrity_ext='b'", "b"},
                                         attr_case_t{"integrity_ext='b' integrity='a'", "b"},
                                         attr_case_t{"integrity='a'", "a"}));

class FieldPathTest : public testing::TestWithParam<attr_case_t> {};
TEST_P(FieldPathTest, PathExtWins) {
  EXPECT_EQ(parseField(GetParam().attributes).forms[0].fields[0].path, GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, FieldPathTest,
                         testing::Values(attr_case_t{"path='old' path_ext='new'", "new"},
                                         attr_case_t{"path_ext='new' path='old'", "new"},
                                         attr_case_t{"path='old'", "old"}));

class FieldPolicyTest : public testing::TestWithParam<attr_case_t> {};
TEST_P(FieldPolicyTest, PartsJoinWithP4First) {
  EXPECT_EQ(parseField(GetParam().attributes).forms[0].fields[0].policy, GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, FieldPolicyTest,
                         testing::Values(attr_case_t{"policy='[p4]P' policy2='[e1]Q'", "[p4]P#expo#[e1]Q"},
                                         attr_case_t{"policy2='[e1]Q' policy='[p4]P'", "[p4]P#expo#[e1]Q"},
                                         attr_case_t{"policy='' policy2='[e1]Q'", "[e1]Q"}));

TEST(ManifestReader, FieldAttributeConversions) {
  const ManifestField f = parseField(
      "type='list' rfield='out' rfieldform='' rfieldindex=' 3x' accid='-12' useit='true' submit='1' "
      "value='a%25b' choosevalue='x%3ay' askalways='1' unknown='z'").forms[0].fields[0];
  EXPECT_EQ(f.type, field_list);
  EXPECT_EQ(f.rfield, 2);
  EXPECT_EQ(f.rfieldindex, 3);
  EXPECT_EQ(f.accid, -12);
  EXPECT_FALSE(f.useit);  // only "1" is true
  EXPECT_TRUE(f.submit);
  EXPECT_EQ(f.value.value, "a%b");
  EXPECT_EQ(f.value.choosevalue, "x:y");
  EXPECT_EQ(parseField("type='password'").forms[0].fields[0].type, field_unknown);
  EXPECT_EQ(parseField("accid='99999999999'").forms[0].fields[0].accid, INT32_MAX);
}

struct context_case_t {
  const char* attributes;
  std::int32_t type, name, parent;
};
class ContextAttributeTest : public testing::TestWithParam<context_case_t> {};
TEST_P(ContextAttributeTest, Conversions) {
  // A third form is not normalised, so the values are as read.
  const Manifest m = parse("<forms><form/><form/><form><fcontext " + std::string(GetParam().attributes) +
                           "/></form></forms>");
  const FormContext& c = m.forms[2].context;
  EXPECT_EQ(c.type, GetParam().type);
  EXPECT_EQ(c.name, GetParam().name);
  EXPECT_EQ(c.parent, GetParam().parent);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ContextAttributeTest,
    testing::Values(
        context_case_t{.attributes = "type=''", .type = 1, .name = -1, .parent = -1},
        context_case_t{.attributes = "type='pchange' name='5' parent='4'", .type = 2, .name = 5, .parent = 4},
        context_case_t{.attributes = "type='logon' name='' parent='x'", .type = 0, .name = 0, .parent = 0}));

TEST(ManifestReader, OptionsWordsAndExtra) {
  const FormOptions o = parseOptions(
      "submittype='nosubmit' usequicklink='dontusequicklink' qlwocred='1' lockfields='1' a='1' b='x=y'")
      .forms[0].options;
  EXPECT_EQ(o.submittype, 2);
  EXPECT_EQ(o.usequicklink, 2);
  EXPECT_TRUE(o.qlwocred);
  EXPECT_TRUE(o.lockfields);
  EXPECT_EQ(o.extra, "a=1\nb=x=y");
  EXPECT_EQ(parseOptions("usequicklink='usequicklink'").forms[0].options.usequicklink, 1);
  EXPECT_EQ(parseOptions("submittype='DoSubmit'").forms[0].options.submittype, 0);
}

TEST(ManifestReader, DetectionAttributes) {
  const FormDetection d =
      parse("<forms><form><detection names='legacy' names_ext='a^dot;b%3a' processname='C:\\p%25.exe' "
            "monitor='1' dlg_class='Cls'/></form></forms>")
          .forms[0].detection;
  EXPECT_EQ(d.names, "a^dot;b:");
  EXPECT_EQ(d.processname, "C:\\p%.exe");
  EXPECT_TRUE(d.monitor);
  EXPECT_EQ(d.dlg_class, "Cls");
  EXPECT_EQ(parse("<forms><form><detection names='legacy'/></form></forms>").forms[0].detection.names, "legacy");
}

TEST(ManifestReader, UnknownElementsAndMisplacedElementsAreIgnored) {
  const Manifest m = parse(
      "<fcontext name='1'/><detection caption='x'/>"
      "<forms><unknown><form><fields><field type='edit'/></fields></form></unknown>"
      "<form><fields><junk><field type='combo'/></junk><field type='check'/></fields></form></forms>"
      "<options><class name='orphan'/><processes><caption name='c'/></processes></options>");
  ASSERT_EQ(m.forms.size(), 1u);
  ASSERT_EQ(m.forms[0].fields.size(), 1u);
  EXPECT_EQ(m.forms[0].fields[0].type, field_check);
  EXPECT_TRUE(m.processes.empty());
}

TEST(ManifestReader, ProcessTree) {
  const Manifest m = parse(
      "<options><processes>"
      "<process type='skip'><classes><class type='edit'/><class name='C' type='-edit'>"
      "<caption name='' type='first'/><caption name='T' type='+first'/></class></classes></process>"
      "<process name='all' type='nocom'/>"
      "<process name='app.exe' type='-dialog'><classes><class name='C' type='dialog'/>"
      "<class name='C' type='button'/></classes></process>"
      "</processes></options>");
  ASSERT_EQ(m.processes.size(), 2u);
  const ExecutableEntry& all = m.processes.at("all");
  EXPECT_EQ(all.flags, 0x3u);
  ASSERT_EQ(all.classes.size(), 1u);  // the nameless class is not recorded
  EXPECT_EQ(all.classes.at("C").flags, 0u);
  ASSERT_EQ(all.classes.at("C").captions.size(), 1u);
  EXPECT_EQ(all.classes.at("C").captions.at("T"), 0x8u);
  EXPECT_EQ(m.processes.at("app.exe").flags, 0u);
  EXPECT_EQ(m.processes.at("app.exe").classes.at("C").flags, 0x120u);
}

TEST(ManifestReader, ParseErrorsCarryLineAndColumn) {
  const std::string xml = "<?xml version=\"1.0\"?>\n<manifest>\n<forms><form><detection caption=\"x";
  Manifest m;
  try {
    manifest::parseManifest(xml.data(), xml.size(), m);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "unclosed token at line 3 [13].\n");
  }
}

TEST(GuardedLoad, TruncatedTextIsTracedAndFails) {
  tracecore::testing::capture_t trace;
  Manifest m;
  EXPECT_FALSE(loadM_properlyS(u"msg", "<manifest><forms>", m));
  EXPECT_TRUE(trace.has('U', "loadM_properlyS: no element found at line 1 [17].\n")) << trace.dump();
}

TEST(GuardedLoad, MissingFileIsTracedAsNotFound) {
  tracecore::testing::capture_t trace;
  Manifest m;
  EXPECT_FALSE(loadM_properly(u"alien|/nonexistent/dir/x.kxm", m));
  EXPECT_TRUE(trace.has('U', "File problem [notfound]: '/nonexistent/dir/x.kxm'")) << trace.dump();
}

TEST(GuardedLoad, AlienPrefixOpensThePathAndMarksTheManifest) {
  Manifest m;
  const std::u16string path = tracecore::to_utf16(testdata("logon.kxm"));
  ASSERT_TRUE(loadM_properly(u"alien|" + path, m));
  EXPECT_TRUE(m.alien);
  EXPECT_EQ(m.filePath, path);
  ASSERT_TRUE(loadM_properlyS(u"alien|inline", "<manifest/>", m));
  EXPECT_TRUE(m.alien);
  EXPECT_EQ(m.filePath, u"inline");
}

// The URL check flag of an alien manifest depends on whether its murl parses; the alien flag must
// therefore be set before normalisation runs, not after.
TEST(GuardedLoad, AlienFlagIsKnownWhileNormalising) {
  const std::string xml = "<manifest><forms><form><detection web_murl='[m0]:1:0:x'/></form></forms></manifest>";
  Manifest m;
  ASSERT_TRUE(loadM_properlyS(u"alien|x", xml, m));
  EXPECT_FALSE(m.forms[0].detection.web_checkurl);
  ASSERT_TRUE(loadM_properlyS(u"x", xml, m));
  EXPECT_TRUE(m.forms[0].detection.web_checkurl);
}

TEST(GuardedLoad, DirectoryIsNoAccess) {
  tracecore::testing::capture_t trace;
  Manifest m;
  const std::string dir = std::filesystem::temp_directory_path().string();
  EXPECT_FALSE(loadM_properly(tracecore::to_utf16(dir), m));
  EXPECT_TRUE(trace.has('U', "File problem [noaccess]: '" + dir + "'")) << trace.dump();
}

TEST(FileloadError, CodeNames) {
  EXPECT_EQ(errors::fileload_code_name(0), "undef");
  EXPECT_EQ(errors::fileload_code_name(5), "nodll");
  EXPECT_EQ(errors::fileload_code_name(6), "[6]");
  EXPECT_EQ(errors::fileload_code_name(-1), "[-1]");
}

TEST(ManifestReader, LoadResetsTheTarget) {
  Manifest m;
  m.forms.resize(3);
  m.slot = 2;
  const std::string xml = "<manifest/>";
  manifest::parseManifest(xml.data(), xml.size(), m);
  EXPECT_TRUE(m.forms.empty());
  EXPECT_EQ(m.slot, -1);
  EXPECT_EQ(m.isNew, 0);
}

}  // namespace

namespace manifest {
namespace {

std::string manyFields(std::size_t n, const char* extra) {
  std::string xml = "<manifest><forms><form><fields>";
  for (std::size_t i = 0; i < n; ++i) xml += std::string("<field displayname=\"f") + std::to_string(i) + "\" " + extra + "/>";
  return xml + "</fields></form></forms></manifest>";
}

TEST(ManifestBounds, HostileTextsAreRefused) {
  Manifest m;
  // A document type declaration, here one that would expand an entity a billion times.
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE manifest [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
      "<manifest><forms><form><fields><field displayname=\"&b;\"/></fields></form></forms></manifest>";
  EXPECT_THROW(parseManifest(laughs.data(), laughs.size(), m), std::runtime_error);
  // More elements than a manifest has.
  const std::string flood = manyFields(kMaxManifestElements, "");
  EXPECT_THROW(parseManifest(flood.data(), flood.size(), m), std::runtime_error);
  // More bytes than a manifest has (refused before parsing).
  const std::string big(kMaxManifestBytes + 1, ' ');
  EXPECT_THROW(parseManifest(big.data(), big.size(), m), std::runtime_error);
  EXPECT_FALSE(loadM_properlyS(u"x.kxm", laughs, m));
}

TEST(ManifestBounds, ManyFieldsWithReferencesNormaliseOnce) {
  // 40,000 fields that each refer to "the first password field" (an index no field has): every one
  // resolves to the same target, found through the index built once, not by a search per field.
  Manifest m;
  const std::string xml = manyFields(40000, "rfield=\"in\" rfieldindex=\"999999\"");
  ASSERT_NO_THROW(parseManifest(xml.data(), xml.size(), m));
  ASSERT_EQ(m.forms.size(), 1u);
  EXPECT_EQ(m.refStatus, 2);  // no password field to refer to
}

}  // namespace
}  // namespace manifest
