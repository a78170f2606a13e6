#include "platform/posix/posix_profile_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace korval::platform {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

class PosixProfileStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korval-profile-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  fs::path folder_;
  PosixProfileStore store_;
};

TEST_F(PosixProfileStoreTest, ReadsNothingFromWhatIsNotAFile) {
  Spit(folder_ / "plain", "[S]\nk=v\n");
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  for (const std::string name : {"missing", "", "plain/below", "no/such/folder"}) {
    EXPECT_EQ(store_.ReadPrivate(Path(name), "S", "k", 100), "") << name;
  }
  // A FIFO must be refused, not waited on.
  EXPECT_EQ(store_.ReadPrivate(Path("fifo"), "S", "k", 100), "");
}

TEST_F(PosixProfileStoreTest, WritesAndReadsBack) {
  const std::string job = Path("job.ini");
  ASSERT_TRUE(store_.WritePrivate(job + "  \t", "KORVAL", "Retour", "1"));
  EXPECT_EQ(Slurp(job), "[KORVAL]\r\nRetour=1\r\n");
  ASSERT_TRUE(store_.WritePrivate(job, "KORVAL", "Detail1", "0000"));
  EXPECT_EQ(store_.ReadPrivate(job + " ", "korval", "detail1", 100), "0000");
  ASSERT_TRUE(store_.WritePrivate(job, "KORVAL", "Retour", std::nullopt));
  EXPECT_EQ(Slurp(job), "[KORVAL]\r\nDetail1=0000\r\n");
  EXPECT_EQ(Entries(folder_), std::vector<std::string>{"job.ini"});
}

TEST_F(PosixProfileStoreTest, ReplacesTheFileKeepingItsMode) {
  const std::string job = Path("job.ini");
  const std::string before = "; from the caller\n[KORVAL]\nRetour=0\n\n[OTHER]\nx=1";
  Spit(job, before);
  ASSERT_EQ(::chmod(job.c_str(), 0640), 0);
  // Someone reading the old file while we write sees all of it, never a mix.
  std::ifstream reader(job, std::ios::binary);
  ASSERT_TRUE(store_.WritePrivate(job, "KORVAL", "Retour", "1"));
  std::stringstream seen;
  seen << reader.rdbuf();
  EXPECT_EQ(seen.str(), before);
  EXPECT_EQ(Slurp(job), "; from the caller\n[KORVAL]\nRetour=1\n\n[OTHER]\nx=1");
  struct stat info;
  ASSERT_EQ(::stat(job.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(folder_), std::vector<std::string>{"job.ini"});
}

TEST_F(PosixProfileStoreTest, WriteFailuresTouchNothing) {
  Spit(folder_ / "plain", "[S]\nk=v\n");
  fs::create_directory(folder_ / "folder");
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  const struct {
    const char* what;
    std::string path;
    std::string key;
  } cases[] = {
      {"a folder", Path("folder"), "k"},
      {"a FIFO", Path("fifo"), "k"},
      {"below a regular file", Path("plain/job.ini"), "k"},
      {"in a missing folder", Path("missing/job.ini"), "k"},
      {"a path ending in '/'", Path("plain") + "/", "k"},
      {"an empty path", "", "k"},
      {"a key that cannot be written", Path("new.ini"), "a=b"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(store_.WritePrivate(c.path, "S", c.key, "new")) << c.what;
  }
  EXPECT_EQ(Slurp(folder_ / "plain"), "[S]\nk=v\n");
  EXPECT_TRUE(fs::is_empty(folder_ / "folder"));
  EXPECT_EQ(Entries(folder_).size(), 3u);
}

TEST_F(PosixProfileStoreTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  // Root ignores permission bits; a file size limit makes the write itself fail.
  const std::string job = Path("job.ini");
  Spit(job, "[KORVAL]\nRetour=0\n");
  struct rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = store_.WritePrivate(job, "KORVAL", "Retour", std::string(4096, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_EQ(Slurp(job), "[KORVAL]\nRetour=0\n");
  EXPECT_EQ(Entries(folder_), std::vector<std::string>{"job.ini"});
}

TEST_F(PosixProfileStoreTest, SeveralKeysAreWrittenAllOrNone) {
  // The first key alone fits under the size limit, the three together do not: a
  // write key by key would leave Retour written and the codes old.
  const std::string job = Path("job.ini");
  const std::string before = "[KORVAL]\nDetail1=OLD1\n" + std::string(900, ';') + "\n";
  Spit(job, before);
  const std::vector<ProfileEntry> entries = {
      {"Retour", "1"}, {"Detail1", std::string(100, 'A')}, {"Detail2", std::string(100, 'B')}};
  struct rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = store_.WritePrivateEntries(job, "KORVAL", entries);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_EQ(Slurp(job), before);
  EXPECT_EQ(Entries(folder_), std::vector<std::string>{"job.ini"});

  ASSERT_TRUE(store_.WritePrivateEntries(job, "KORVAL", entries));
  for (const ProfileEntry& entry : entries) {
    EXPECT_EQ(store_.ReadPrivate(job, "KORVAL", entry.key, 256), entry.value) << entry.key;
  }
}

TEST_F(PosixProfileStoreTest, RemovingFromAMissingFileCreatesNothing) {
  EXPECT_TRUE(store_.WritePrivate(Path("job.ini"), "KORVAL", "Retour", std::nullopt));
  EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(PosixProfileStoreTest, WritesThroughASymbolicLink) {
  Spit(folder_ / "real.ini", "[S]\nk=0\n");
  fs::create_symlink(folder_ / "real.ini", folder_ / "link.ini");
  ASSERT_TRUE(store_.WritePrivate(Path("link.ini"), "S", "k", "1"));
  EXPECT_TRUE(fs::is_symlink(folder_ / "link.ini"));
  EXPECT_EQ(Slurp(folder_ / "real.ini"), "[S]\nk=1\n");
}

// Sets environment variables for one test and puts them back afterwards.
class ScopedEnvironment {
 public:
  void Set(const char* name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first, it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first);
      }
    }
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_F(PosixProfileStoreTest, FindsTheSystemProfile) {
  const std::string kEtc = "/etc/korval/win.ini";
  const std::string etc = fs::is_regular_file(kEtc) ? kEtc : "";
  const std::string named = Path("named.ini");
  const std::string xdg_file = Path("xdg/korval/win.ini");
  const std::string home_file = Path("home/.config/korval/win.ini");
  const std::optional<std::string> unset;
  const struct {
    const char* what;
    std::optional<std::string> wini, xdg, home;
    std::vector<std::string> files;
    std::string expected;
  } cases[] = {
      {"named", named, Path("xdg"), Path("home"), {named, xdg_file}, named},
      {"named with trailing blanks", named + "  ", unset, unset, {named}, named},
      {"named but missing: no fallback",
       Path("gone.ini"),
       Path("xdg"),
       unset,
       {xdg_file},
       Path("gone.ini")},
      {"empty name counts as unset", "", Path("xdg"), unset, {xdg_file}, xdg_file},
      {"XDG", unset, Path("xdg"), Path("home"), {xdg_file, home_file}, xdg_file},
      {"XDG set: HOME not looked at", unset, Path("xdg"), Path("home"), {home_file}, etc},
      {"XDG empty: HOME", unset, "", Path("home"), {home_file}, home_file},
      {"XDG unset: HOME", unset, unset, Path("home"), {home_file}, home_file},
      {"XDG relative: HOME", unset, "xdg", Path("home"), {home_file}, home_file},
      {"nothing there", unset, unset, Path("home"), {}, etc},
  };
  for (const auto& c : cases) {
    fs::remove_all(folder_);
    fs::create_directory(folder_);
    for (const auto& file : c.files) Spit(file, "[KORVAL]\nNUMTRANSPAC=" + file + "\n");
    ScopedEnvironment environment;
    environment.Set("KORVAL_WININI", c.wini);
    environment.Set("XDG_CONFIG_HOME", c.xdg);
    environment.Set("HOME", c.home);
    EXPECT_EQ(PosixProfileStore::SystemProfilePath(), c.expected) << c.what;
    if (c.expected != etc && fs::exists(c.expected)) {
      EXPECT_EQ(store_.ReadSystem("KORVAL", "NUMTRANSPAC", 1000), c.expected) << c.what;
    }
  }
}

}  // namespace
}  // namespace korval::platform
