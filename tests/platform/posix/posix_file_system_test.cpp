#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace korval::platform {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

mode_t ModeOf(const fs::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class PosixFileSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korval-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    Spit(folder_ / "plain", "0123456789");
    fs::create_directory(folder_ / "folder");
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  fs::path folder_;
  PosixFileSystem files_;
};

TEST_F(PosixFileSystemTest, ReadProblemNamesTheCause) {
  const struct {
    const char* what;
    std::string path;
    OpenProblem problem;
  } cases[] = {
      {"a regular file", Path("plain"), OpenProblem::kNone},
      {"the same, with trailing blanks", Path("plain") + "  ", OpenProblem::kNone},
      {"a missing file", Path("missing"), OpenProblem::kMissing},
      {"below a regular file", Path("plain/x"), OpenProblem::kMissing},
      {"a folder", Path("folder"), OpenProblem::kFolder},
      {"a FIFO", Path("fifo"), OpenProblem::kNotAFile},
      {"a device, told without opening it", "/dev/null", OpenProblem::kNotAFile},
  };
  for (const auto& c : cases) EXPECT_EQ(files_.ReadProblem(c.path), c.problem) << c.what;
  // Root reads whatever the mode says.
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(Path("plain").c_str(), 0), 0);
    EXPECT_EQ(files_.ReadProblem(Path("plain")), OpenProblem::kAccessDenied);
  }
}

TEST_F(PosixFileSystemTest, OnlyRegularFilesOpen) {
  const struct {
    const char* what;
    std::string path;
    bool reads;
    bool creates;
    const char* reason;  // the system's, in French, when the file does not open for reading
  } cases[] = {
      {"regular", Path("plain"), true, true, ""},
      {"trailing blanks", Path("plain") + " \t ", true, true, ""},
      {"missing", Path("missing"), false, true, "fichier ou dossier introuvable"},
      {"folder", Path("folder"), false, false, "c'est un dossier"},
      {"FIFO, without waiting for the other end", Path("fifo"), false, false,
       "ce n'est pas un fichier ordinaire"},
      {"below a regular file", Path("plain/x"), false, false,
       "un \xE9l\xE9ment du chemin n'est pas un dossier"},
      {"in a missing folder", Path("none/x"), false, false, "fichier ou dossier introuvable"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files_.OpenForReading(c.path) != nullptr, c.reads) << c.what;
    if (!c.reads) {
      EXPECT_EQ(files_.LastProblemText(), c.reason) << c.what;
    }
  }
  for (const auto& c : cases) {
    EXPECT_EQ(files_.CreateAlways(c.path) != nullptr, c.creates) << c.what;
  }
  EXPECT_EQ(ModeOf(folder_ / "fifo"), 0600u);
  EXPECT_FALSE(fs::exists(folder_ / "none"));
}

TEST_F(PosixFileSystemTest, ReadingHoldsASharedLock) {
  const int other = ::open(Path("plain").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  {
    auto file = files_.OpenForReading(Path("plain"));
    ASSERT_NE(file, nullptr);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(::flock(other, LOCK_SH | LOCK_NB), 0);
    ::flock(other, LOCK_UN);
  }
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  // A file someone holds exclusively still opens.
  EXPECT_NE(files_.OpenForReading(Path("plain")), nullptr);
  ::close(other);
}

TEST_F(PosixFileSystemTest, CreateAlwaysMakesAnEmptyPrivateFile) {
  ASSERT_EQ(::chmod(Path("plain").c_str(), 0644), 0);
  const mode_t old_mask = ::umask(0);
  auto fresh = files_.CreateAlways(Path("fresh"));
  auto again = files_.CreateAlways(Path("plain") + "  ");
  ::umask(old_mask);
  ASSERT_NE(fresh, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(ModeOf(folder_ / "fresh"), 0600u);
  EXPECT_EQ(ModeOf(folder_ / "plain"), 0600u);
  EXPECT_EQ(again->Size(), 0u);
  EXPECT_FALSE(fs::exists(Path("plain") + "  "));
}

// Names are held in Windows-1252: on disk they are UTF-8, the name a user sees.
TEST_F(PosixFileSystemTest, NamesReachTheDiskInUtf8AndTemporaryFilesStayBeside) {
  const std::string held = Path("relev\xE9.txt");
  const fs::path on_disk = folder_ / "relev\xC3\xA9.txt";
  std::string created;
  auto beside = files_.CreateBeside(held + " ", &created);
  ASSERT_NE(beside, nullptr);
  EXPECT_EQ(created.rfind(held + ".", 0), 0u) << created;
  EXPECT_EQ(created.size(), held.size() + 7);
  const fs::path temporary = on_disk.string() + created.substr(held.size());
  EXPECT_TRUE(fs::exists(temporary));
  EXPECT_EQ(ModeOf(temporary), 0600u);
  std::size_t written = 0;
  ASSERT_TRUE(beside->Write("data", 4, &written));
  beside.reset();
  EXPECT_NE(files_.CreateBeside(held, &created), nullptr);  // another name each time
  EXPECT_NE(fs::path(on_disk.string() + created.substr(held.size())), temporary);

  ASSERT_TRUE(files_.Move(held + created.substr(held.size()), held));
  EXPECT_TRUE(fs::exists(on_disk));
  EXPECT_EQ(files_.SizeOf(held), 0u);
  ASSERT_TRUE(files_.Move(held + temporary.string().substr(on_disk.string().size()), held));
  EXPECT_EQ(Slurp(on_disk), "data");
  EXPECT_NE(files_.OpenForReading(held), nullptr);
  EXPECT_TRUE(files_.Delete(held));
  EXPECT_FALSE(fs::exists(on_disk));
  EXPECT_EQ(files_.CreateBeside(Path("none/x"), &created), nullptr);
}

TEST_F(PosixFileSystemTest, WritesAndReadsEverything) {
  std::string big(3 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  {
    auto out = files_.CreateAlways(Path("out"));
    ASSERT_NE(out, nullptr);
    std::size_t written = 0;
    ASSERT_TRUE(out->Write(big.data(), big.size(), &written));
    EXPECT_EQ(written, big.size());
  }
  auto in = files_.OpenForReading(Path("out"));
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->Size(), big.size());
  std::string seen;
  char buffer[100000];
  std::size_t got = 0;
  while (in->Read(buffer, sizeof buffer, &got) && got > 0) seen.append(buffer, got);
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(seen == big);
}

TEST_F(PosixFileSystemTest, AFailedWriteTellsWhatWent) {
  auto file = files_.CreateAlways(Path("out"));
  ASSERT_NE(file, nullptr);
  struct rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string bytes(4000, 'x');
  std::size_t written = 0;
  const bool ok = file->Write(bytes.data(), bytes.size(), &written);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(written, 1000u);
}

TEST_F(PosixFileSystemTest, SizeDeleteAndMove) {
  EXPECT_EQ(files_.SizeOf(Path("plain") + " "), 10u);
  for (const std::string name : {"folder", "fifo", "missing"}) {
    EXPECT_EQ(files_.SizeOf(Path(name)), std::nullopt) << name;
  }
  EXPECT_FALSE(files_.Delete(Path("folder")));
  EXPECT_FALSE(files_.Delete(Path("missing")));

  // The statement's backup: the target is replaced.
  Spit(folder_ / "RELEVE.BAK", "older");
  EXPECT_TRUE(files_.Move(Path("plain") + " ", Path("RELEVE.BAK") + " "));
  EXPECT_FALSE(fs::exists(folder_ / "plain"));
  EXPECT_EQ(Slurp(folder_ / "RELEVE.BAK"), "0123456789");
  EXPECT_FALSE(files_.Move(Path("missing"), Path("elsewhere")));
  EXPECT_FALSE(files_.Move(Path("RELEVE.BAK"), Path("none/x")));

  EXPECT_TRUE(files_.Delete(Path("RELEVE.BAK") + "  "));
  EXPECT_FALSE(fs::exists(folder_ / "RELEVE.BAK"));
  EXPECT_TRUE(fs::exists(folder_ / "folder"));
}

}  // namespace
}  // namespace korval::platform
