#include "manifest/ManifestCreation.h"

#include <gtest/gtest.h>

#include <set>

#include <map>

#include "manifest/Escape.h"
#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"
#include "tracecore/testing.h"

namespace manifest {
namespace {

ffcontrol_record control(std::int32_t type, const std::string& name, const std::string& form = "f1",
                         const std::string& dispname = "", const std::string& parent = "") {
  ffcontrol_record c;
  c.type = type;
  c.name = name;
  c.formname = form;
  c.dispname = dispname;
  c.parent = parent;
  c.memID = 1000;
  return c;
}

class CreationTest : public testing::Test {
 protected:
  CreationTest() {
    sources.newGuid = [this] {
      guid_t g;
      g.data1 = ++guids;
      g.data4[7] = 0xab;
      return g;
    };
    // A clock that moves on every reading.
    sources.now = [this] { return ((std::uint64_t{0x1d9a2b3} << 32) | 0x4c5d6e7fu) + ticks++; };
    sources.commandLine = u"\"C:\\Program Files (x86)\\Browser\\browser.exe\" -profile \"C:\\Program Files\\p\"";
    sources.environment = [this](std::u16string_view name, std::u16string& value) {
      const auto it = env.find(std::u16string(name));
      if (it == env.end()) return false;
      value = it->second;
      return true;
    };
  }

  // A login page: user name, password, one button, all in form f1 of the top document.
  std::vector<ffcontrol_record> loginPage(int buttons = 1) {
    std::vector<ffcontrol_record> page = {control(ctl_edit, "[sid]0.1.2..", "f1", "sername"),
                                          control(ctl_psw, "[sid]0.3.2..", "f1", "assword")};
    page[1].value = "secret";
    for (int i = 0; i < buttons; ++i) page.push_back(control(ctl_button, "[sid]0.4.2..", "f1", "Go"));
    for (auto& c : page) c.top = "https://www.example.com/login";
    return page;
  }

  creation_sources_t sources;
  std::map<std::u16string, std::u16string> env = {{u"ProgramFiles(x86)", u"C:\\Program Files (x86)"},
                                                  {u"ProgramFiles", u"C:\\Program Files"}};
  std::uint32_t guids = 0;
  std::uint64_t ticks = 0;
  ffstring_table strings = {"101", "f1.user.user", "f1", "f1.pw.pass", "f1.go.go"};
};

TEST_F(CreationTest, LoginPageGivesUserPasswordAndSubmit) {
  Manifest m;
  InitManifest(u"Example", u"MozillaWindowClass", loginPage(), strings, m, sources);
  ASSERT_EQ(m.forms.size(), 1u);
  EXPECT_EQ(m.slot, 0);
  const ManifestForm& form = m.forms[0];
  EXPECT_EQ(std::make_tuple(form.context.type, form.context.name, form.context.parent), std::make_tuple(1, 0, 0));
  ASSERT_EQ(form.fields.size(), 3u);
  const ManifestField &user = form.fields[0], &pass = form.fields[1], &button = form.fields[2];
  EXPECT_EQ(user.type, field_edit);
  EXPECT_TRUE(user.useit);
  EXPECT_FALSE(user.password);
  EXPECT_EQ(user.displayname, "Username");
  EXPECT_TRUE(pass.password);
  EXPECT_TRUE(pass.useit);
  EXPECT_EQ(pass.value.value, "");  // a password is never copied
  EXPECT_EQ(pass.displayname, "Password");
  EXPECT_EQ(button.type, field_button);
  EXPECT_TRUE(button.useit);
  EXPECT_TRUE(button.submit);
  EXPECT_FALSE(pass.submit);
  EXPECT_EQ(user.path, "[sid]0.1.2..");
  EXPECT_EQ(user.accid, 1000);
  EXPECT_EQ(user.fieldId, 0);
  EXPECT_EQ(button.fieldId, 2);
  EXPECT_EQ(form.options.submittype, 1);
  EXPECT_EQ(form.detection.web_murl, "https://www.example.com/login");
  EXPECT_EQ(form.detection.web_qurl, form.detection.web_murl);
  EXPECT_TRUE(form.detection.web_checkurl);
  EXPECT_EQ(form.detection.dlg_class, "");
  EXPECT_EQ(form.detection.caption, "Example");
  EXPECT_EQ(form.detection.names, joinNames(strings));
  EXPECT_EQ(m.descriptor.id, "{00000001-0000-0000-0000-0000000000ab}");
  EXPECT_EQ(m.descriptor.created, "1d9a2b3 4c5d6e7f");
  EXPECT_EQ(m.descriptor.modified, "1d9a2b3 4c5d6e7f");
  EXPECT_EQ(user.dbname, "{00000002-0000-0000-0000-0000000000ab}");
  EXPECT_EQ(form.detection.processname, "%ProgramFiles(x86)%\\Browser\\browser.exe");
  EXPECT_EQ(form.detection.commandline, "-profile \"%ProgramFiles%\\p\"");
}

TEST_F(CreationTest, FailedGuidCreationStillGivesUniqueIds) {
  tracecore::testing::capture_t trace;
  sources.newGuid = [] { return guid_t{}; };  // the system could not make one
  Manifest m;
  InitManifest(u"Example", u"MozillaWindowClass", loginPage(), strings, m, sources);
  std::set<std::string> ids{m.descriptor.id};
  for (const ManifestField& f : m.forms[0].fields) ids.insert(f.dbname);
  EXPECT_EQ(ids.size(), 1 + m.forms[0].fields.size());
  EXPECT_EQ(ids.count("{00000000-0000-0000-0000-000000000000}"), 0u);
  EXPECT_TRUE(trace.has('U', "'`I04`'GUID creation failed: an id made from the clock instead")) << trace.dump();
}

TEST_F(CreationTest, SeveralButtonsLetThePasswordFieldSubmit) {
  Manifest m;
  InitManifest(u"Example", u"Cls", loginPage(2), strings, m, sources);
  const auto& fields = m.forms[0].fields;
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_TRUE(fields[1].submit);
  EXPECT_FALSE(fields[2].submit);
  EXPECT_FALSE(fields[3].submit);
  EXPECT_FALSE(fields[2].useit);
}

TEST_F(CreationTest, NothingToFillThrowsAndLeavesTheManifest) {
  Manifest m;
  m.descriptor.id = "kept";
  const std::vector<ffcontrol_record> checks = {control(ctl_check, "[sid]0.1.2.."),
                                                control(ctl_check, "[sid]0.3.2..")};
  try {
    InitManifest(u"x", u"Cls", checks, strings, m, sources);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "InitManifest: Form has no editable controls.");
  }
  EXPECT_TRUE(m.forms.empty());
  EXPECT_EQ(m.slot, -1);
  EXPECT_EQ(m.descriptor.id, "kept");
}

TEST_F(CreationTest, ControlTypesToFields) {
  sources.filter = false;
  std::vector<ffcontrol_record> page = {
      control(ctl_text, "[sid]0.1..", "", "Label"), control(ctl_text, "[sid]0.2.."),
      control(ctl_listbx, "[sid]0.3.."),            control(ctl_listbx, "[sid]0.4.."),
      control(ctl_combo, "[sid]0.5.."),             control(ctl_radio, "[sid]0.6.."),
      control(ctl_edit, "[sid]0.7..", "", "Line\r\nbreak"), control(ctl_unknown, "[sid]0.8..")};
  page[3].options = {"a.b", "c:d"};
  page[3].value = "a.b";
  page[4].value = "pick";
  page[6].value = "x\ny";
  Manifest m;
  InitManifest(u"x", u"DesktopClass", page, strings, m, sources);
  const auto& f = m.forms[0].fields;
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0].type, field_text);
  EXPECT_EQ(f[1].type, field_list);
  EXPECT_EQ(f[1].value.choosevalue, "a^dot;b:c^2dot;d");
  EXPECT_EQ(f[1].value.value, "a.b");
  EXPECT_EQ(f[2].type, field_combo);
  EXPECT_EQ(f[2].value.value, "pick");
  EXPECT_EQ(f[3].type, field_radio);
  EXPECT_EQ(f[4].value.value, "x y");
  EXPECT_EQ(f[4].displayname, "Line  break");
  // No URL: the window class is kept and no submit type is set; the combo stands for the user.
  EXPECT_EQ(m.forms[0].detection.dlg_class, "DesktopClass");
  EXPECT_FALSE(m.forms[0].detection.web_checkurl);
  EXPECT_EQ(m.forms[0].options.submittype, 0);
  EXPECT_TRUE(f[2].useit);
}

TEST_F(CreationTest, AppendsToAnExistingManifestAndWritesReadableXml) {
  Manifest m;
  m.forms.emplace_back().fields.emplace_back().dbname = "old";
  m.normalize();
  InitManifest(u"x", u"Cls", loginPage(), strings, m, sources);
  EXPECT_EQ(m.slot, 1);
  EXPECT_EQ(m.forms[0].fields[0].dbname, "old");
  std::string text;
  manifestToText(m, text);
  Manifest back;
  ASSERT_TRUE(loadM_properlyS(u"new", text, back));
  EXPECT_EQ(back.forms.size(), 2u);
  EXPECT_TRUE(back.forms[1].fields[2].submit);
}

struct suffix_case_t {
  const char16_t* title;
  const char16_t* caption;
};
class BrowserSuffixTest : public testing::TestWithParam<suffix_case_t> {};
TEST_P(BrowserSuffixTest, Strips) { EXPECT_EQ(stripBrowserSuffix(GetParam().title), GetParam().caption); }
INSTANTIATE_TEST_SUITE_P(
    Cases, BrowserSuffixTest,
    testing::Values(suffix_case_t{u" Sign in - Mozilla Firefox \r\n", u"Sign in"},
                    suffix_case_t{u"Bank - Windows Internet Explorer - extra", u"Bank"},
                    suffix_case_t{u"A - Google Chrome - B - Google Chrome", u"A - Google Chrome - B"},
                    // Only the first suffix of the list that occurs is cut.
                    suffix_case_t{u"A - Mozilla Firefox - IE 6", u"A - Mozilla Firefox"},
                    suffix_case_t{u"\t\v", u""}, suffix_case_t{u"Plain", u"Plain"}));

TEST_F(CreationTest, CommandLineAndProgramFiles) {
  std::u16string program, args;
  splitCommandLine(u"  C:\\app.exe   -x y ", program, args);
  EXPECT_EQ(program, u"C:\\app.exe");
  EXPECT_EQ(args, u"-x y");
  splitCommandLine(u"\"C:\\a b\\c.exe\"", program, args);
  EXPECT_EQ(program, u"C:\\a b\\c.exe");
  EXPECT_EQ(args, u"");
  EXPECT_EQ(abbreviateProgramFiles(u"D:\\tools\\x.exe", sources), u"D:\\tools\\x.exe");
  env.erase(u"ProgramFiles(x86)");
  EXPECT_EQ(abbreviateProgramFiles(u"C:\\Program Files (x86)\\x.exe", sources), u"C:\\Program Files (x86)\\x.exe");
  env[u"ProgramFiles"] = u"";
  EXPECT_EQ(abbreviateProgramFiles(u"C:\\x.exe", sources), u"C:\\x.exe");
}

struct repair_case_t {
  const char* given;
  const char* repaired;
};
class DisplayNameRepairTest : public CreationTest, public testing::WithParamInterface<repair_case_t> {};
TEST_P(DisplayNameRepairTest, Repairs) {
  std::vector<ffcontrol_record> page = {control(ctl_edit, "[sid]0.1.2..", "f1", GetParam().given)};
  Manifest m;
  InitManifest(u"x", u"Cls", page, strings, m, sources);
  EXPECT_EQ(m.forms[0].fields[0].displayname, GetParam().repaired);
}
INSTANTIATE_TEST_SUITE_P(Cases, DisplayNameRepairTest,
                         testing::Values(repair_case_t{"assword:", "Password:"},
                                         repair_case_t{"sername", "Username"},
                                         repair_case_t{"Password", "Password"},
                                         repair_case_t{"passwords", "passwords"}));

std::vector<std::string> names(const std::vector<ffcontrol_record>& controls) {
  std::vector<std::string> out;
  for (const auto& c : controls) out.push_back(c.name);
  return out;
}

TEST(FilterControls, KeepsPasswordFormsThenFormlessControlsOfTheirFrameThenOm) {
  const std::vector<ffcontrol_record> page = {
      control(ctl_edit, "om1", "[om]x"),  // name decides, not the form
      control(ctl_edit, "[om]a", "z"),
      control(ctl_edit, "search", "s"),
      control(ctl_edit, "free1", ""),
      control(ctl_psw, "pw", "login"),
      control(ctl_radio, "radio", "login"),
      control(ctl_edit, "user", "login"),
      control(ctl_psw, "framepw", "fl", "", "https://frame/"),
      control(ctl_button, "framego", "fl", "", "https://frame/"),
      control(ctl_edit, "framefree", "", "", "https://frame/"),
      control(ctl_edit, "free2", "")};
  // The top document's login form has no button: its frame's controls without a form follow.
  EXPECT_EQ(names(filtercontrols(page)),
            (std::vector<std::string>{"pw", "user", "framepw", "framego", "free1", "free2", "[om]a"}));
}

TEST(FilterControls, TiersWithoutPasswords) {
  const std::vector<ffcontrol_record> twoEdits = {control(ctl_edit, "a", "one"), control(ctl_combo, "b", "two"),
                                                  control(ctl_edit, "c", "two"), control(ctl_check, "d", "two"),
                                                  control(ctl_button, "e", "two")};
  EXPECT_EQ(names(filtercontrols(twoEdits)), (std::vector<std::string>{"b", "c", "d", "e"}));
  const std::vector<ffcontrol_record> singles = {control(ctl_edit, "a", "one"), control(ctl_edit, "b", "two"),
                                                 control(ctl_check, "c", "three")};
  EXPECT_EQ(names(filtercontrols(singles)), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(filtercontrols({control(ctl_check, "c", "three")}).empty());
}

TEST(FilterControls, FormlessGroupIsNotAddedTwice) {
  const std::vector<ffcontrol_record> page = {control(ctl_edit, "u", ""), control(ctl_psw, "p", "")};
  EXPECT_EQ(names(filtercontrols(page)), (std::vector<std::string>{"u", "p"}));
}

TEST(FilterControls, ListsControlsWhenTracing) {
  tracecore::testing::capture_t trace;
  std::vector<ffcontrol_record> page = {control(ctl_psw, "p", "login", "Password", "https://frame/")};
  page[0].top = "https://top/";
  page[0].memID = 42;
  page[0].value = "v";
  filtercontrols(page);
  EXPECT_TRUE(trace.has('U', "before filter:")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "after filter:"));
  EXPECT_TRUE(trace.has('U', "'`I06`'ctrl: top.parent.memID.formname.ctrltype.dispname"));
  EXPECT_TRUE(trace.has('U', "'`I06`'urls: 0='https://top/'"));
  EXPECT_TRUE(trace.has('U', "'`I06`'urls: 1='https://frame/'"));
  EXPECT_TRUE(trace.has('U', "'`I06`'0 0.1.42.[login].psw     dsp='Password' val='v'")) << trace.dump();
  trace.clear();
  filtercontrols(page, false);
  EXPECT_TRUE(trace.has('U', "No filter for controls. Admin has it all."));
  EXPECT_FALSE(trace.contains('U', "before filter:"));
}

TEST(CreationFormats, GuidAndFileTime) {
  guid_t g;
  g.data1 = 0x1234abcd;
  g.data2 = 0xef01;
  g.data3 = 0x2;
  const std::uint8_t tail[8] = {0xa0, 0x0b, 1, 2, 3, 4, 5, 0xff};
  std::copy(std::begin(tail), std::end(tail), g.data4);
  EXPECT_EQ(formatGuid(g), "{1234abcd-ef01-0002-a00b-0102030405ff}");
  EXPECT_EQ(formatFileTime(0x01d9a2b300000001ull), "1d9a2b3 1");
  EXPECT_EQ(formatFileTime(0), "0 0");
}

}  // namespace
}  // namespace manifest
