#include "platform/win32/win32_profile_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "platform/profile_store_cases.h"
#include "platform/win32/scratch_folder.h"

namespace korval::platform::win32 {
namespace {

TEST(Win32ProfileStoreTest, TheSharedTable) {
  ScratchFolder folder("korval-profile-cases");
  Win32ProfileStore store;
  profile_cases::RunCases(store, folder.path(), profile_cases::BackEnd::kOurs);
}

TEST(Win32ProfileStoreTest, ABareNameIsInTheWindowsFolder) {
  char windows[MAX_PATH + 1] = {};
  const std::string folder(windows, GetWindowsDirectoryA(windows, MAX_PATH));
  const struct {
    std::string path;
    std::string file;
  } cases[] = {
      {"JOB.INI", folder + "\\JOB.INI"},
      {".\\JOB.INI", ".\\JOB.INI"},
      {"sub/JOB.INI", "sub/JOB.INI"},
      {"C:JOB.INI", "C:JOB.INI"},
  };
  for (const auto& c : cases) EXPECT_EQ(Win32ProfileStore::FileOfName(c.path), c.file);
}

// A calling application that keeps the job file open lets us write it but not
// replace it: the file is then rewritten where it is, the old outcome does not stay.
TEST(Win32ProfileStoreTest, AFileThatCannotBeReplacedIsRewrittenInPlace) {
  ScratchFolder folder("korval-profile-in-place");
  const std::string job = folder / "job.ini";
  std::ofstream(job, std::ios::binary) << "[KORVAL]\r\nRetour=1\r\nRetour=1\r\n";
  const HANDLE held = CreateFileA(job.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Win32ProfileStore store;
  EXPECT_TRUE(store.WritePrivate(job, "KORVAL", "Retour", "0"));
  CloseHandle(held);
  EXPECT_EQ(profile_cases::FileBytes(job), "[KORVAL]\r\nRetour=0\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
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
      {"NUMTRANSPAC", 12, "3600"}, {"numtranspac", 3, "36"},
      {"PROFIL7", 12, "oui"},      {"NUI", 12, ""},
      {"NUMTRANSPAC", 0, ""},
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
