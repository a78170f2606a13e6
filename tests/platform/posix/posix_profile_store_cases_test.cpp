#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/posix/posix_profile_store.h"
#include "platform/profile_store_cases.h"

namespace korval::platform {
namespace {

namespace fs = std::filesystem;

TEST(PosixProfileStoreCasesTest, TheSharedTable) {
  std::string pattern = (fs::temp_directory_path() / "korval-profile-cases-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  PosixProfileStore store;
  profile_cases::RunCases(store, pattern, profile_cases::BackEnd::kOurs);
  fs::remove_all(pattern);
}

}  // namespace
}  // namespace korval::platform
