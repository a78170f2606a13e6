#include "platform/win32/win32_profile_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/profile_store_cases.h"
#include "platform/win32/scratch_folder.h"

namespace korval::platform::win32 {
namespace {

TEST(Win32ProfileStoreTest, TheSharedTable) {
  ScratchFolder folder("korval-profile-cases");
  Win32ProfileStore store;
  profile_cases::RunCases(store, folder.path(), profile_cases::BackEnd::kWine);
}

// win.ini is the system's: the test keeps to a section of its own and takes it out.
TEST(Win32ProfileStoreTest, ReadsTheSystemProfile) {
  const char* section = "KORVAL_TEST_SYSTEM";
  ASSERT_TRUE(WriteProfileStringA(section, "NUMTRANSPAC", " 3600 \t"));
  ASSERT_TRUE(WriteProfileStringA(section, "PROFIL7", "\"oui\""));
  Win32ProfileStore store;
  const struct {
    const char* key;
    std::size_t capacity;
    std::string expected;
  } cases[] = {
      {"NUMTRANSPAC", 12, "3600"}, {"numtranspac", 3, "36"}, {"PROFIL7", 12, "oui"},
      {"NUI", 12, ""},             {"NUMTRANSPAC", 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(store.ReadSystem(section, c.key, c.capacity), c.expected) << c.key;
  }
  EXPECT_EQ(store.ReadSystem("KORVAL_TEST_NO_SECTION", "NUMTRANSPAC", 12), "");
  WriteProfileStringA(section, nullptr, nullptr);
  EXPECT_EQ(store.ReadSystem(section, "NUMTRANSPAC", 12), "");
}

}  // namespace
}  // namespace korval::platform::win32
