#include "agentcomm/transport/DontPromptList.h"

#include <gtest/gtest.h>

namespace ffipc {
namespace {

TEST(DontPromptList, ReadsRecordsOfBothKinds) {
  const auto r = dontprompt_records_t::parse("web=bank.example\r\nvis=0:4\r\ndlg=Sign in\r\nvis=1:2\r\nweb=shop.example\r\n");
  ASSERT_EQ(r.web.size(), 2u);
  EXPECT_EQ(r.web.at("bank.example"), (dontprompt_entry_t{false, 4}));
  EXPECT_EQ(r.web.at("shop.example"), (dontprompt_entry_t{true, 0})) << "the record in progress is stored at the end";
  EXPECT_EQ(r.dlg.at("Sign in"), (dontprompt_entry_t{true, 2}));
}

struct vis_case_t {
  const char* name;
  const char* vis_line;
  dontprompt_entry_t expected = {};  // by default the record as its "web=" line made it
};

class DontPromptVis : public ::testing::TestWithParam<vis_case_t> {};

TEST_P(DontPromptVis, VisLine) {
  const auto r = dontprompt_records_t::parse(std::string("web=a\r\n") + GetParam().vis_line + "\r\n");
  EXPECT_EQ(r.web.at("a"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DontPromptVis,
    ::testing::Values(
        vis_case_t{.name = "set", .vis_line = "vis=1:7", .expected = {.flag = true, .number = 7}},
        vis_case_t{.name = "cleared", .vis_line = "vis=0:0", .expected = {.flag = false, .number = 0}},
        vis_case_t{.name = "flag_not_one", .vis_line = "vis=2:5", .expected = {.flag = false, .number = 5}},
        vis_case_t{.name = "no_colon_keeps_record", .vis_line = "vis=0"},
        vis_case_t{.name = "three_parts_keep_record", .vis_line = "vis=0:1:2"},
        vis_case_t{.name = "empty_value", .vis_line = "vis="},
        vis_case_t{.name = "unknown_key_ignored", .vis_line = "xyz=0:9"},
        vis_case_t{.name = "number_too_large_is_clamped", .vis_line = "vis=1:99999999999",
                   .expected = {.flag = true, .number = INT32_MAX}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DontPromptList, WritesDialogsFirstAndReadsItsOwnOutput) {
  dontprompt_records_t r;
  r.web["w.example"] = {true, 0};
  r.dlg["Logon"] = {false, 3};
  EXPECT_EQ(r.format(), "dlg=Logon\r\nvis=0:3\r\nweb=w.example\r\nvis=1:0\r\n");
  const auto back = dontprompt_records_t::parse(r.format());
  EXPECT_EQ(back.web, r.web);
  EXPECT_EQ(back.dlg, r.dlg);
}

TEST(DontPromptList, LinesWithoutEqualsAndBareLineFeedsAreTolerated) {
  const auto r = dontprompt_records_t::parse("garbage\nweb=a=b\nvis=1:1");
  EXPECT_EQ(r.web.at("a=b"), (dontprompt_entry_t{true, 1})) << "split at the first '='";
}

}  // namespace
}  // namespace ffipc
