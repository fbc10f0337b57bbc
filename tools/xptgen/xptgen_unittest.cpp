#include <gtest/gtest.h>

#include "tools/xptgen/idl.h"
#include "tools/xptgen/typelib.h"

namespace xptgen {
namespace {

TEST(XptgenIidTest, ParsesAndFormatsTheRegistryForm) {
  const auto iid = parse_iid("6B1E2C4A-9d37-4f0e-A5C1-3e8d72b40f19");
  ASSERT_TRUE(iid);
  EXPECT_EQ(iid->m0, 0x6b1e2c4au);
  EXPECT_EQ(iid->m1, 0x9d37);
  EXPECT_EQ(iid->m2, 0x4f0e);
  EXPECT_EQ(iid->m3[0], 0xa5);
  EXPECT_EQ(iid->m3[7], 0x19);
  EXPECT_EQ(format_iid(*iid), "6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19");
  for (const char* bad : {"", "6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f1", "6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f190",
                          "6b1e2c4a-9d37-4f0e-a5c13e8d-72b40f19", "6b1e2c4g-9d37-4f0e-a5c1-3e8d72b40f19",
                          "{6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f1}"})
    EXPECT_FALSE(parse_iid(bad)) << bad;
}

constexpr const char* kSample = R"(
#include "nsISupports.idl"
/* a comment
   over two lines */
[scriptable, uuid(6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19)]
interface IThing : nsISupports
{
  // one of each kind of parameter
  void Mixed(in nsISupports a, in AString b, out AString c, out boolean d,
             inout unsigned long long e, in string f, in IThing g);
  void Empty();
};
)";

TEST(XptgenIdlTest, ReadsInterfacesMethodsAndParameters) {
  std::string error;
  const auto file = parse_idl(kSample, error);
  ASSERT_TRUE(file) << error;
  ASSERT_EQ(file->interfaces.size(), 1u);
  const auto& itf = file->interfaces[0];
  EXPECT_EQ(itf.name, "IThing");
  EXPECT_EQ(itf.parent, "nsISupports");
  EXPECT_TRUE(itf.scriptable);
  EXPECT_EQ(format_iid(itf.iid), "6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19");
  ASSERT_EQ(itf.methods.size(), 2u);
  EXPECT_EQ(itf.methods[1].name, "Empty");
  EXPECT_TRUE(itf.methods[1].params.empty());
  const auto& p = itf.methods[0].params;
  ASSERT_EQ(p.size(), 7u);
  struct expected_t {
    const char* name;
    base_type_t type;
    bool in = true;
    bool out = false;
  } expected[] = {
      {.name = "a", .type = base_type_t::interface},
      {.name = "b", .type = base_type_t::a_string},
      {.name = "c", .type = base_type_t::a_string, .in = false, .out = true},
      {.name = "d", .type = base_type_t::boolean, .in = false, .out = true},
      {.name = "e", .type = base_type_t::uint64, .out = true},
      {.name = "f", .type = base_type_t::string},
      {.name = "g", .type = base_type_t::interface},
  };
  for (size_t i = 0; i < p.size(); ++i) {
    EXPECT_EQ(p[i].in, expected[i].in) << i;
    EXPECT_EQ(p[i].out, expected[i].out) << i;
    EXPECT_EQ(p[i].type, expected[i].type) << i;
    EXPECT_EQ(p[i].name, expected[i].name) << i;
  }
  EXPECT_EQ(p[0].interface_name, "nsISupports");
  EXPECT_EQ(p[6].interface_name, "IThing");
}

TEST(XptgenIdlTest, SaysWhereADescriptionLeavesTheLanguage) {
  const std::string head = "[scriptable, uuid(6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19)]\ninterface I : nsISupports {\n";
  const std::pair<std::string, const char*> cases[] = {
      {head + "  long M();\n};", "line 3: methods must return void (their result code only)"},
      {head + "  attribute long x;\n};", "line 3: only methods are supported, not attribute"},
      {head + "  void M(long x);\n};", "line 3: a parameter starts with in, out or inout"},
      {head + "  void M(in nsIFoo x);\n};", "line 3: unknown type 'nsIFoo'"},
      {head + "  void M(in long x)\n};", "line 4: expected ';', found '}'"},
      {head + "  void M();\n  void M();\n};", "line 4: method M is declared twice"},
      {head + "  void M(in long x);\n", "line 4: expected '}', found the end"},
      {"interface I : nsISupports {};", "line 1: interface I has no uuid"},
      {"[uuid(6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f1)] interface I : nsISupports {};",
       "line 1: malformed uuid '6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f1'"},
      {"[function, uuid(6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19)] interface I : nsISupports {};",
       "line 1: attribute 'function' is not supported"},
      {"[uuid(6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19)] interface I : nsIOther {};",
       "line 1: parent nsIOther of I is not defined before it"},
      {"interface nsIOther;", "line 1: forward declarations are not supported: the IID is needed"},
      {"#define X 1\n", "line 1: only #include lines are understood"},
      {"/* open", "line 1: comment not closed"},
      {"\n\n[uuid(6b1e2c4a-9d37-4f0e-a5c1-3e8d72b40f19)] interface I : nsISupports { void M(in long x = 1); };",
       "line 3: unexpected character '='"},
  };
  for (const auto& [text, message] : cases) {
    std::string error;
    EXPECT_FALSE(parse_idl(text, error)) << message;
    EXPECT_EQ(error, message);
  }
}

std::uint32_t be32(const std::vector<std::uint8_t>& b, size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}
std::uint16_t be16(const std::vector<std::uint8_t>& b, size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}
std::string cstr(const std::vector<std::uint8_t>& b, size_t at) {
  std::string s;
  while (at < b.size() && b[at]) s += static_cast<char>(b[at++]);
  return s;
}

// The layout of the file as the browser reads it: header offsets, the directory sorted by IID with
// nsISupports as an entry without a descriptor, and how each kind of parameter is encoded.
TEST(XptgenTypelibTest, LaysOutHeaderDirectoryAndParameters) {
  std::string error;
  auto file = parse_idl(kSample, error);
  ASSERT_TRUE(file) << error;
  const auto bytes = write_typelib(*file, error);
  ASSERT_TRUE(bytes) << error;
  const auto& b = *bytes;
  ASSERT_GT(b.size(), 33u + 2 * 28u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 16), std::string("XPCOM\nTypeLib\r\n\032", 16));
  EXPECT_EQ(b[16], 1);
  EXPECT_EQ(b[17], 2);
  EXPECT_EQ(be16(b, 18), 2);  // IThing and nsISupports
  EXPECT_EQ(be32(b, 20), b.size());
  EXPECT_EQ(be32(b, 24), 34u);            // directory, a file offset from 1
  EXPECT_EQ(be32(b, 28), 33u + 2 * 28u);  // pool, a file offset from 0
  EXPECT_EQ(b[32], 0x80);                 // the last (and only) annotation, empty
  const size_t pool = be32(b, 28);
  auto at = [&](std::uint32_t pool_offset) { return pool + pool_offset - 1; };

  // nsISupports sorts first (its IID is lowest) and has no descriptor here.
  EXPECT_EQ(be32(b, 33), 0u);
  EXPECT_EQ(be32(b, 33 + 8), 0xc0000000u);
  EXPECT_EQ(be32(b, 33 + 12), 0x00000046u);
  EXPECT_EQ(cstr(b, at(be32(b, 33 + 16))), "nsISupports");
  EXPECT_EQ(be32(b, 33 + 24), 0u);
  const size_t e = 33 + 28;
  EXPECT_EQ(be32(b, e), 0x6b1e2c4au);
  EXPECT_EQ(be16(b, e + 4), 0x9d37);
  EXPECT_EQ(cstr(b, at(be32(b, e + 16))), "IThing");
  EXPECT_EQ(be32(b, e + 20), 0u);  // no name space

  size_t d = at(be32(b, e + 24));
  EXPECT_EQ(be16(b, d), 1);  // parent: directory entry 1, nsISupports
  EXPECT_EQ(be16(b, d + 2), 2);
  d += 4;
  EXPECT_EQ(b[d], 0);  // an ordinary method
  EXPECT_EQ(cstr(b, at(be32(b, d + 1))), "Mixed");
  EXPECT_EQ(b[d + 5], 7);
  const std::vector<std::uint8_t> params = {
      0x80, 0x92, 0x00, 0x01,  // in nsISupports: pointer | interface, entry 1
      0x80, 0xB9,              // in AString: pointer | reference | astring
      0x88, 0xB9,              // out AString: in | dipper
      0x40, 0x0A,              // out boolean
      0xC0, 0x07,              // inout unsigned long long
      0x80, 0x90,              // in string: pointer | pstring
      0x80, 0x92, 0x00, 0x02,  // in IThing: entry 2
      0x00, 0x06,              // result: nsresult as uint32
  };
  EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + d + 6, b.begin() + d + 6 + params.size()), params);
  d += 6 + params.size();
  EXPECT_EQ(cstr(b, at(be32(b, d + 1))), "Empty");
  EXPECT_EQ(b[d + 5], 0);
  d += 6 + 2;
  EXPECT_EQ(be16(b, d), 0);  // no constants
  EXPECT_EQ(b[d + 2], 0x80);  // scriptable
  EXPECT_EQ(d + 3, b.size());
}

TEST(XptgenTypelibTest, DirectoryIsSortedByIidAndParentsFollowIt) {
  std::string error;
  const auto file = parse_idl(R"(
    [uuid(f0000000-0000-0000-0000-000000000000)] interface IBase : nsISupports { void A(); };
    [scriptable, uuid(10000000-0000-0000-0000-000000000000)] interface IDerived : IBase { void B(in IBase x); };
  )", error);
  ASSERT_TRUE(file) << error;
  const auto bytes = write_typelib(*file, error);
  ASSERT_TRUE(bytes) << error;
  const auto& b = *bytes;
  const size_t pool = be32(b, 28);
  auto at = [&](std::uint32_t o) { return pool + o - 1; };
  const char* order[] = {"nsISupports", "IDerived", "IBase"};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(cstr(b, at(be32(b, 33 + 28 * i + 16))), order[i]);
  const size_t derived = at(be32(b, 33 + 28 + 24));
  EXPECT_EQ(be16(b, derived), 3);  // IBase is entry 3
  EXPECT_EQ(be16(b, derived + 4 + 6 + 2), 3);  // so is the type of B's parameter
  const size_t base = at(be32(b, 33 + 56 + 24));
  EXPECT_EQ(be16(b, base), 1);
  EXPECT_EQ(b[base + 4 + 6 + 2 + 2], 0);  // not scriptable
}

TEST(XptgenTypelibTest, RefusesWhatTheBrowserCouldNotLoad) {
  const std::pair<const char*, const char*> cases[] = {
      {"[uuid(00000000-0000-0000-c000-000000000046)] interface nsISupports : nsISupports {};",
       "nsISupports is the browser's own; it cannot be described here"},
      {"[uuid(10000000-0000-0000-0000-000000000000)] interface A : nsISupports {};"
       "[uuid(10000000-0000-0000-0000-000000000000)] interface B : nsISupports {};",
       "A and B have the same IID"},
      {"[uuid(10000000-0000-0000-0000-000000000000)] interface A : nsISupports { void M(inout AString s); };",
       "A::M: inout strings are not supported"},
  };
  for (const auto& [text, message] : cases) {
    std::string error;
    const auto file = parse_idl(text, error);
    ASSERT_TRUE(file) << error;
    EXPECT_FALSE(write_typelib(*file, error)) << message;
    EXPECT_EQ(error, message);
  }
}

}  // namespace
}  // namespace xptgen
