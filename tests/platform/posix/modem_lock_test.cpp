#include "platform/posix/modem_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace korval::platform::posix {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A process that has ended and been reaped: its PID names nobody for a while.
pid_t DeadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

class ModemLockTest : public testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master_, name, sizeof name), 0);
    path_ = name;
    std::string pattern = (fs::temp_directory_path() / "korval-lock-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    lock_path_ = folder_ / LockFileName(path_);
  }
  void TearDown() override {
    for (const PortOpenResult& open : opened_) {
      ReleasePort(open.fd, open.lock_file);
      ::close(open.fd);
    }
    ::close(master_);
    fs::remove_all(folder_);
  }

  PortOpenResult Open() {
    PortOpenResult result = OpenPortExclusive(path_, {folder_.string()});
    if (result.status == PortOpenStatus::kOpen) opened_.push_back(result);
    return result;
  }
  void Close(const PortOpenResult& open) {
    ReleasePort(open.fd, open.lock_file);
    ::close(open.fd);
    std::erase_if(opened_, [&](const PortOpenResult& o) { return o.fd == open.fd; });
  }

  int master_ = -1;
  std::string path_;
  fs::path folder_;
  fs::path lock_path_;
  std::vector<PortOpenResult> opened_;
};

TEST(ModemLockNameTest, NamesTheLockAfterThePortBelowDev) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"/dev/ttyKORVAL-none0", "LCK..ttyKORVAL-none0"},
      {"/dev/pts-korval-none/3", "LCK..pts-korval-none_3"},
      {"/tmp/korval-none/port", "LCK..tmp_korval-none_port"},
  };
  for (const auto& c : cases) EXPECT_EQ(LockFileName(c.path), c.name) << c.path;
}

TEST_F(ModemLockTest, TakesThePortWithALockFileNamingThisProcess) {
  const PortOpenResult open = Open();
  ASSERT_EQ(open.status, PortOpenStatus::kOpen);
  EXPECT_GE(open.fd, 0);
  EXPECT_EQ(open.lock_file, lock_path_.string());
  char expected[16];
  std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(::getpid()));
  EXPECT_EQ(Slurp(lock_path_), expected);
  EXPECT_EQ(::fcntl(open.fd, F_GETFL) & (O_NONBLOCK | O_ACCMODE), O_NONBLOCK | O_RDWR);
  EXPECT_NE(::fcntl(open.fd, F_GETFD) & FD_CLOEXEC, 0);

  Close(open);
  EXPECT_FALSE(fs::exists(lock_path_));
}

TEST_F(ModemLockTest, ASecondOpenFindsThePortTaken) {
  const PortOpenResult first = Open();
  ASSERT_EQ(first.status, PortOpenStatus::kOpen);
  const PortOpenResult second = Open();
  EXPECT_EQ(second.status, PortOpenStatus::kBusy);
  EXPECT_EQ(second.holder, ::getpid());
  EXPECT_EQ(second.fd, -1);
  EXPECT_TRUE(fs::exists(lock_path_));  // the holder's lock stays

  Close(first);
  EXPECT_EQ(Open().status, PortOpenStatus::kOpen);
}

TEST_F(ModemLockTest, WithoutALockFolderTheFlockStillExcludes) {
  const PortOpenResult first = OpenPortExclusive(path_, {});
  ASSERT_EQ(first.status, PortOpenStatus::kOpen);
  opened_.push_back(first);
  EXPECT_TRUE(first.lock_file.empty());
  const PortOpenResult second = OpenPortExclusive(path_, {(folder_ / "missing").string()});
  EXPECT_EQ(second.status, PortOpenStatus::kBusy);
  EXPECT_EQ(second.holder, 0);
}

TEST_F(ModemLockTest, AStaleLockIsTakenOver) {
  for (const std::string& content :
       {std::to_string(DeadPid()) + "\n", std::string(), std::string("garbage\n")}) {
    Spit(lock_path_, content);
    const PortOpenResult open = Open();
    ASSERT_EQ(open.status, PortOpenStatus::kOpen) << content;
    EXPECT_EQ(std::atoi(Slurp(lock_path_).c_str()), ::getpid());
    Close(open);
  }
}

TEST_F(ModemLockTest, ALiveHolderKeepsThePort) {
  // The parent of the test process lives as long as the test does.
  const pid_t holder = ::getppid();
  Spit(lock_path_, "      " + std::to_string(holder) + "\n");
  const PortOpenResult open = Open();
  EXPECT_EQ(open.status, PortOpenStatus::kBusy);
  EXPECT_EQ(open.holder, holder);
  EXPECT_EQ(std::atoi(Slurp(lock_path_).c_str()), holder);
}

TEST_F(ModemLockTest, SaysWhyAPortCannotBeOpened) {
  const struct {
    std::string path;
    PortOpenStatus status;
  } cases[] = {
      {(folder_ / "no-such-port").string(), PortOpenStatus::kMissing},
      {"/dev/null", PortOpenStatus::kNotSerial},
  };
  for (const auto& c : cases) {
    const PortOpenResult result = OpenPortExclusive(c.path, {folder_.string()});
    EXPECT_EQ(result.status, c.status) << c.path;
    EXPECT_EQ(result.fd, -1);
    // A failed open leaves no lock behind.
    EXPECT_FALSE(fs::exists(folder_ / LockFileName(c.path))) << c.path;
  }
}

}  // namespace
}  // namespace korval::platform::posix
