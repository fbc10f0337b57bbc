#include "agentcomm/AgentMessages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kxmessages {
namespace {

using serialization::CMemoryObjectEx;
using serialization::fake_memblock_t;
using serialization::StorageNamed::InMemStorageSpace::CSValue;
using serialization::StorageNamed::InMemStorageSpace::entry_type;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST(MessageNames, Notices) {
  const std::vector<std::string> expected = {
      "NOTICE::uninitialized", "NOTICE::requestaborted", "NOTICE::kxaversion", "NOTICE::highlightID",
      "NOTICE::senddata",      "NOTICE::senddata2",      "NOTICE::updatareply", "NOTICE::dsdatareply",
      "NOTICE::kxajsonreply",  "unknown NOTICE"};
  for (std::uint32_t code = 0; code < expected.size(); ++code) EXPECT_EQ(notice_name(code), expected[code]);
  EXPECT_STREQ(notice_name(0xFFFFFFFF), "unknown NOTICE");
}

TEST(MessageNames, Operations) {
  const std::vector<std::string> expected = {
      "uninit", "dofillin", "qlfillin", "checklogin", "starttraining", "cacheupdated", "fingeractivity",
      "dontshowpretrained", "showpretrainedicon", "updatedotpstate", "updatedotpvalue", "oo"};
  for (std::uint32_t code = 0; code < expected.size(); ++code) EXPECT_EQ(operation_name(code), expected[code]);
}

TEST(ReplyResults, CodesAndContexts) {
  EXPECT_EQ(checklogon_result(true, false), 62);
  EXPECT_EQ(checklogon_result(true, true), 62);
  EXPECT_EQ(checklogon_result(false, true), 60);
  EXPECT_EQ(checklogon_result(false, false), 61);
  EXPECT_EQ(fillin_result(true), 50);
  EXPECT_EQ(fillin_result(false), 51);
  fillin_reply_context_t f;
  EXPECT_EQ(f.result, 49);
  EXPECT_EQ(f.profileindex, -1);
  f.result = 50;
  f.reset();
  EXPECT_EQ(f.result, 49);
  checklogon_reply_context_t c;
  EXPECT_EQ(c.result, 59);
}

profileitem_t item(int n) {
  profileitem_t i;
  i.value_op = n;
  i.displayname_op = n + 1;
  i.displayname = u"User name " + std::u16string(1, static_cast<char16_t>(u'0' + n));
  i.value = u"j\u00f6rg@example.com";
  i.dbname = "db" + std::to_string(n);
  i.memid = 1000 + n;
  return i;
}

notice_senddata_t senddata(int items) {
  notice_senddata_t n;
  n.requestID = 0x1234;
  n.manifestasstring = u"<manifest/>";
  n.ischangepasswordprofile = true;
  filldata_t& d = n.datatofillin;
  d.operation = 2;
  d.profileindex = 3;
  d.profilename = u"Work";
  d.qlinkname = u"ql";
  d.submitprofile = 1;
  d.updatedate = "2024-01-02";
  d.formindex = 1;
  d.qlwocred = true;
  for (int i = 0; i < items; ++i) d.profileitems.push_back(item(i));
  d.timestampid = "ts";
  d.groupname = "group";
  d.manifestid = "mid";
  d.comprPSW = true;
  d.comprUN = false;
  return n;
}

template <class M>
M round_trip(const M& m) {
  CMemoryObjectEx block;
  EXPECT_GT(encode(m, block), 0u);
  M back;
  EXPECT_TRUE(decode(back, block));
  return back;
}

TEST(MessageRoundTrip, EveryMessage) {
  EXPECT_EQ(round_trip(senddata(3)), senddata(3));
  EXPECT_EQ(round_trip(senddata(0)), senddata(0));
  EXPECT_EQ(round_trip(notice_requestaborted_t{.requestID = -5}).requestID, -5);
  EXPECT_EQ(round_trip(notice_kxaversion_t{.version = 0x03140918}).version, 0x03140918);
  notice_highlight_t h{.requestID = 1, .accID = 2, .highlightagent = 3};
  EXPECT_EQ(round_trip(h), h);
  block_filldata_request_t b1;
  b1.callheader = {7, 8, 9};
  b1.manifestprofileID = {u"site.kxm", 2, -1, true};
  EXPECT_EQ(round_trip(b1), b1);
  block_newmanifest_t b2{{1, 2, 3}, "a.kxm:b.kxm", "<xml/>"};
  EXPECT_EQ(round_trip(b2), b2);
  block_profile_operation_t b3{{1, 2, 3}, 4, {u"m", 1, 2, false}};
  EXPECT_EQ(round_trip(b3), b3);
  block_domain_manifests_t b4{{1, 2, 3}, "x", true};
  EXPECT_EQ(round_trip(b4), b4);
  block_highlight_t b5{{-1, 2, 300, 400}, 6};
  EXPECT_EQ(round_trip(b5), b5);
  block_replyto_t b6{0x10203};
  EXPECT_EQ(round_trip(b6), b6);
}

// Key name and value kind of every entry of a section, nested sections and arrays by their names.
std::vector<std::string> keys(const CSSection& s) {
  std::vector<std::string> out;
  for (const auto& [name, entry] : s.items()) {
    std::string k = name + ":" + std::to_string(entry->type());
    if (entry->type() == serialization::StorageNamed::InMemStorageSpace::entry_value) {
      const auto* v = static_cast<const CSValue*>(entry.get());
      k += "/" + std::to_string(v->kind);
      if (v->kind == 1) k += "/" + std::to_string(v->payload.size());
    }
    out.push_back(k);
  }
  return out;
}

template <class M>
std::vector<std::string> root_keys(const M& m) {
  CInMemStorage s;
  write_message(m, s);
  return keys(s.root());
}

// Names, entry types (1 section, 2 value, 3 sections array) and value kinds/sizes of each message.
TEST(MessageKeys, RootKeysOfEveryMessage) {
  EXPECT_THAT(root_keys(notice_requestaborted_t{}), ElementsAre("requestID:2/1/4"));
  EXPECT_THAT(root_keys(notice_kxaversion_t{}), ElementsAre("version:2/1/4"));
  EXPECT_THAT(root_keys(notice_highlight_t{}),
              ElementsAre("accID:2/1/4", "highlightagent:2/1/4", "requestID:2/1/4"));
  EXPECT_THAT(root_keys(notice_senddata_t{}),
              ElementsAre("datatofillin:1", "ischangepasswordprofile:2/1/1", "manifestasstring:2/3",
                          "requestID:2/1/4"));
  EXPECT_THAT(root_keys(block_filldata_request_t{}), ElementsAre("callheader:1", "manifestprofileID:1"));
  EXPECT_THAT(root_keys(block_newmanifest_t{}),
              ElementsAre("callheader:1", "domainmanifestnames:2/2", "newmanifestasstring:2/2"));
  EXPECT_THAT(root_keys(block_profile_operation_t{}),
              ElementsAre("callheader:1", "manifestprofileID:1", "operation:2/1/4"));
  EXPECT_THAT(root_keys(block_domain_manifests_t{}),
              ElementsAre("callheader:1", "domainmanifestnames:2/2", "istsids:2/1/1"));
  EXPECT_THAT(root_keys(block_highlight_t{}), ElementsAre("accIDrect:2/1/16", "highlightagent:2/1/4"));
  EXPECT_THAT(root_keys(block_replyto_t{}), ElementsAre("replytowindow:2/1/4"));
}

TEST(MessageKeys, SectionsOfTheBlocksAndTheFillInData) {
  CInMemStorage s;
  write_message(block_filldata_request_t{}, s);
  EXPECT_THAT(keys(*s.open_section("callheader")),
              ElementsAre("activewnd:2/1/4", "requestID:2/1/4", "targetwnd:2/1/4"));
  EXPECT_THAT(keys(*s.open_section("manifestprofileID")),
              ElementsAre("currentformindex:2/1/4", "istsid:2/1/1", "manifestfilename:2/3", "profileindex:2/1/4"));

  CInMemStorage n;
  write_message(senddata(2), n);
  CSSection* data = n.open_section("datatofillin");
  ASSERT_NE(data, nullptr);
  EXPECT_THAT(keys(*data),
              ElementsAre("comprPSW:2/1/1", "comprUN:2/1/1", "formindex:2/1/4", "groupname:2/2", "manifestid:2/2",
                          "operation:2/1/4", "profileindex:2/1/4", "profileitems:3", "profilename:2/3",
                          "qlinkname:2/3", "qlwocred:2/1/1", "submitprofile:2/1/4", "timestampid:2/2",
                          "updatedate:2/2"));
  CSSection* first = nullptr;
  auto* items = n.begin_read_array("profileitems", data, &first);
  ASSERT_NE(items, nullptr);
  EXPECT_EQ(items->elements().size(), 2u);
  EXPECT_THAT(keys(*first), ElementsAre("dbname:2/2", "displayname:2/3", "displayname_op:2/1/4", "memid:2/1/4",
                                        "value:2/3", "value_op:2/1/4"));
}

TEST(MessageKeys, FillInDataWithoutItemsHasNoItemsKey) {
  CInMemStorage s;
  EXPECT_TRUE(write_message(senddata(0), s));
  EXPECT_EQ(s.open_section("datatofillin")->find("profileitems"), nullptr);
}

TEST(MessageDecode, BlockThatDoesNotLoadLeavesTheMessage) {
  notice_senddata_t n = senddata(1);
  const std::uint8_t bad[] = {0xA2, 0x49, 0x4D, 0xF3, 0xD9, 0x1E, 0x9F, 0x88, 0x02, 0x01, 0x00};
  EXPECT_FALSE(decode(n, fake_memblock_t(bad, sizeof bad)));
  EXPECT_EQ(n, senddata(1));
}

TEST(MessageDecode, MissingKeysKeepTheirValues) {
  CInMemStorage s;
  s.put_int("requestID", 77);
  CSSection* data = s.open_section("datatofillin", nullptr, true);
  s.put_wstr("profilename", u"Home", data);
  CMemoryObjectEx block;
  ASSERT_GT(s.save(block), 0u);

  notice_senddata_t n = senddata(2);
  EXPECT_TRUE(decode(n, block));
  notice_senddata_t expected = senddata(2);
  expected.requestID = 77;
  expected.datatofillin.profilename = u"Home";
  EXPECT_EQ(n, expected);  // items, flags and the other texts as they were

  // Nothing of the message in the block: loaded, but not read.
  CInMemStorage other;
  other.put_int("unrelated", 1);
  CMemoryObjectEx block2;
  other.save(block2);
  notice_kxaversion_t v{.version = 3};
  EXPECT_FALSE(decode(v, block2));
  EXPECT_EQ(v.version, 3);
}

TEST(MessageDecode, SubSectionOfTheWrongTypeFailsOnlyThatField) {
  CInMemStorage s;
  s.put_int("callheader", 1);  // not a section
  s.put_str("domainmanifestnames", "a.kxm");
  CMemoryObjectEx block;
  s.save(block);
  block_domain_manifests_t m;
  m.callheader.requestID = 5;
  EXPECT_TRUE(decode(m, block));
  EXPECT_EQ(m.callheader.requestID, 5);
  EXPECT_EQ(m.domainmanifestnames, "a.kxm");
}

TEST(MessageDecode, ItemsArrayReplacesTheItems) {
  CMemoryObjectEx block;
  encode(senddata(1), block);
  notice_senddata_t n = senddata(3);
  ASSERT_TRUE(decode(n, block));
  EXPECT_THAT(n.datatofillin.profileitems, ElementsAre(item(0)));
}

TEST(MessageDecode, FlagBytesOtherThanOneAreTrue) {
  CInMemStorage s;
  s.put_flag("istsids", 2);
  CMemoryObjectEx block;
  s.save(block);
  block_domain_manifests_t m;
  EXPECT_TRUE(decode(m, block));
  EXPECT_TRUE(m.istsids);
}

}  // namespace
}  // namespace kxmessages
