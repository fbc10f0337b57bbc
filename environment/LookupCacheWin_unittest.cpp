// The lookup over the agent's named section, with this test standing in for the agent.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "environment/LookupCache.h"
#include "tracecore/testing.h"
#include "tracecore/win_handles.h"

namespace lookupcache {
namespace {

// Creates "KX_VLT_LOOKUP_CACHE" holding |bytes| for as long as it lives.
class agent_section_t {
 public:
  explicit agent_section_t(const std::vector<std::uint8_t>& bytes) {
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  static_cast<DWORD>(bytes.size()), L"KX_VLT_LOOKUP_CACHE");
    if (!mapping_) return;
    void* view = MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0);
    if (!view) return;
    std::memcpy(view, bytes.data(), bytes.size());
    UnmapViewOfFile(view);
  }
  ~agent_section_t() {
    if (mapping_) CloseHandle(mapping_);
  }
  agent_section_t(const agent_section_t&) = delete;
  agent_section_t& operator=(const agent_section_t&) = delete;
  bool ok() const { return mapping_ != nullptr; }

 private:
  HANDLE mapping_ = nullptr;
};

TEST(LookupCacheWin, ReadsTheAgentsSection) {
  lookup_section_writer_t w({"C:\\m\\"});
  w.add({"example.com", 0, "site.kxm", false});
  w.add({"example.com", 0, "alt.kxm", true});
  agent_section_t section(w.bytes());
  ASSERT_TRUE(section.ok());
  EXPECT_EQ(cached_url(u"https://www.example.com/login", false), u"C:\\m\\site.kxm\nalien|C:\\m\\alt.kxm");
  EXPECT_EQ(cached_url(u"https://other.example.org/", false), u"");
}

// An agent that shares its index read-only: a section over a file opened for reading only, which
// no one can map for writing. The lookup asks for nothing more than reading, so it still finds it.
TEST(LookupCacheWin, ReadsASectionThatIsSharedReadOnly) {
  lookup_section_writer_t w({"C:\\m\\"});
  w.add({"example.com", 0, "site.kxm", false});
  const std::vector<std::uint8_t> bytes = w.bytes();
  wchar_t folder[MAX_PATH] = {}, file[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameW(folder, L"kxl", 0, file), 0u);
  {
    tracecore::unique_hfile out(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(out);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }
  {
    tracecore::unique_hfile in(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(in);
    tracecore::unique_handle mapping(CreateFileMappingW(in.get(), nullptr, PAGE_READONLY, 0, 0, L"KX_VLT_LOOKUP_CACHE"));
    ASSERT_TRUE(mapping);
    tracecore::unique_handle writable(OpenFileMappingW(FILE_MAP_WRITE, FALSE, L"KX_VLT_LOOKUP_CACHE"));
    tracecore::unique_view written_view(writable ? MapViewOfFile(writable.get(), FILE_MAP_WRITE, 0, 0, 0) : nullptr);
    EXPECT_FALSE(written_view) << "the fixture must not be mappable for writing";
    tracecore::testing::capture_t trace;
    EXPECT_EQ(cached_url(u"https://www.example.com/login", false), u"C:\\m\\site.kxm");
    EXPECT_FALSE(trace.contains('E', "")) << trace.dump();
  }
  DeleteFileW(file);
}

TEST(LookupCacheWin, MissingSectionGivesNothingAndSaysSoOnceInFull) {
  tracecore::testing::capture_t trace;
  EXPECT_EQ(cached_url(u"https://www.example.com/", true), u"");
  EXPECT_EQ(cached_url(u"https://www.example.com/", true), u"");
  EXPECT_TRUE(trace.contains('E', "MMF: cannot open file mapping 'KX_VLT_LOOKUP_CACHE'")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "'`I04`'MMF: cannot open file mapping 'KX_VLT_LOOKUP_CACHE'")) << trace.dump();
}

}  // namespace
}  // namespace lookupcache
