// The don't-prompt list keeps the user's file: a list that could not be read is never saved over it.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "agentcomm/transport/DontPromptList.h"
#include "tracecore/testing.h"

namespace ffipc {
namespace {

namespace fs = std::filesystem;

struct dontprompt_case_t {
  const char* name;
  enum { missing, readable, unreadable } file;
  bool saved;
};
void PrintTo(const dontprompt_case_t& c, std::ostream* os) { *os << c.name; }

class DontPromptSave : public ::testing::TestWithParam<dontprompt_case_t> {};

TEST_P(DontPromptSave, OnlyAfterAGoodReadOrWithoutAFile) {
  const fs::path dir = fs::temp_directory_path() / ("kx_dontprompt_" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::path file = dir / "dontprompt.txt";
  if (GetParam().file == dontprompt_case_t::readable) std::ofstream(file, std::ios::binary) << "web=a.example\r\nvis=1:0\r\n";
  if (GetParam().file == dontprompt_case_t::unreadable) fs::create_directories(file);  // exists, cannot be read
  dontprompt_list_t list;
  list.set_file_name(file.u16string());
  tracecore::testing::capture_t trace;
  list.set_web("b.example");
  EXPECT_TRUE(list.web_flag("b.example"));
  EXPECT_EQ(trace.contains('U', "save "), GetParam().saved) << trace.dump();
  EXPECT_EQ(trace.has('U', "'`I04`'the don't-prompt list could not be read: kept for this session, not saved"),
            !GetParam().saved)
      << trace.dump();
  if (GetParam().file == dontprompt_case_t::readable) EXPECT_TRUE(list.web_flag("a.example"));
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Files, DontPromptSave,
                         ::testing::Values(dontprompt_case_t{"NoFileYet", dontprompt_case_t::missing, true},
                                           dontprompt_case_t{"Readable", dontprompt_case_t::readable, true},
                                           dontprompt_case_t{"Unreadable", dontprompt_case_t::unreadable, false}));

}  // namespace
}  // namespace ffipc
