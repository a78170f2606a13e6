#include "platform/win32/win32_file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/win32/scratch_folder.h"

namespace korval::platform::win32 {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadAll(File& file) {
  std::string bytes;
  char chunk[7];  // small, so that a read takes several calls
  std::size_t got = 0;
  while (file.Read(chunk, sizeof chunk, &got) && got > 0) bytes.append(chunk, got);
  return bytes;
}

bool Write(File& file, const std::string& bytes) {
  std::size_t written = 0;
  return file.Write(bytes.data(), bytes.size(), &written) && written == bytes.size();
}

TEST(Win32FileSystemTest, CreatesReadsMovesAndDeletes) {
  ScratchFolder folder("korval-files");
  Win32FileSystem files;
  const std::string statement = folder / "RELEVE.TXT";
  const std::string backup = folder / "RELEVE.BAK";
  const std::string bytes("record 1\r\n\0\xFF record 2\r\n", 22);

  auto created = files.CreateAlways(statement + "  \t");
  ASSERT_NE(created, nullptr);
  ASSERT_TRUE(Write(*created, bytes.substr(0, 5)));
  ASSERT_TRUE(Write(*created, bytes.substr(5)));
  created.reset();
  EXPECT_EQ(Slurp(statement), bytes);
  EXPECT_EQ(files.SizeOf(statement + " "), bytes.size());

  auto reading = files.OpenForReading(statement + " ");
  ASSERT_NE(reading, nullptr);
  EXPECT_EQ(reading->Size(), bytes.size());
  EXPECT_EQ(ReadAll(*reading), bytes);
  ASSERT_TRUE(reading->Rewind());
  EXPECT_EQ(ReadAll(*reading), bytes);
  reading.reset();

  // The backup step: an old backup is replaced, the statement created anew is empty.
  std::ofstream(backup, std::ios::binary) << "old backup";
  EXPECT_TRUE(files.Move(statement, backup + " "));
  EXPECT_EQ(Slurp(backup), bytes);
  EXPECT_EQ(files.SizeOf(statement), std::nullopt);
  std::ofstream(statement, std::ios::binary) << "previous";
  ASSERT_NE(files.CreateAlways(statement), nullptr);
  EXPECT_EQ(files.SizeOf(statement), 0u);

  EXPECT_TRUE(files.Delete(backup + "\t"));
  EXPECT_FALSE(std::filesystem::exists(backup));
}

TEST(Win32FileSystemTest, RefusesWhatIsNoFile) {
  ScratchFolder folder("korval-files");
  Win32FileSystem files;
  const struct {
    const char* what;
    std::string path;
    bool can_create;
    OpenProblem problem;
    const char* reason;  // the system's, in French, never its English text
  } cases[] = {
      {"a missing file", folder / "missing.txt", true, OpenProblem::kMissing,
       "fichier introuvable"},
      {"a file in a missing folder", folder / "missing\\file.txt", false, OpenProblem::kMissing,
       "dossier introuvable"},
      {"a folder", folder.path().string(), false, OpenProblem::kFolder, "acc\xE8s refus\xE9"},
      {"a device", "NUL", false, OpenProblem::kNotAFile, "ce n'est pas un fichier ordinaire"},
      {"an empty path", "", false, OpenProblem::kMissing, "nom de fichier incorrect"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files.OpenForReading(c.path), nullptr) << c.what;
    EXPECT_EQ(files.LastProblemText(), c.reason) << c.what;
    EXPECT_EQ(files.ReadProblem(c.path), c.problem) << c.what;
    EXPECT_EQ(files.SizeOf(c.path), std::nullopt) << c.what;
    EXPECT_FALSE(files.Move(c.path, folder / "moved.txt")) << c.what;
    EXPECT_FALSE(files.Delete(c.path)) << c.what;
    EXPECT_EQ(files.CreateAlways(c.path) != nullptr, c.can_create) << c.what;
  }
}

// The statement's temporary file: beside its target, never over another file.
TEST(Win32FileSystemTest, CreatesANewFileBesideATarget) {
  ScratchFolder folder("korval-files");
  Win32FileSystem files;
  const std::string target = folder / "RELEVE.TXT";
  std::string first;
  std::string second;
  auto a = files.CreateBeside(target + " ", &first);
  auto b = files.CreateBeside(target, &second);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(target, 0), 0u) << first;
  ASSERT_TRUE(Write(*a, "partial"));
  a.reset();
  EXPECT_EQ(Slurp(first), "partial");
  EXPECT_EQ(files.ReadProblem(first), OpenProblem::kNone);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(files.CreateBeside(folder / "missing\\RELEVE.TXT", &first), nullptr);
}

// Another program opening the same file, before or after we do.
TEST(Win32FileSystemTest, SharesAFileAsItSays) {
  ScratchFolder folder("korval-files");
  Win32FileSystem files;
  const std::string path = folder / "LCR.DAT";
  enum class Ours { kRead, kCreate };
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const struct {
    const char* what;
    Ours ours;
    bool other_first;
    DWORD other_access;
    bool both_open;
  } cases[] = {
      {"a reader beside ours", Ours::kRead, false, GENERIC_READ, true},
      {"a reader before ours", Ours::kRead, true, GENERIC_READ, true},
      {"no writer beside ours", Ours::kRead, false, GENERIC_WRITE, false},
      {"not while a writer has it", Ours::kRead, true, GENERIC_WRITE, false},
      {"no reader beside a file we write", Ours::kCreate, false, GENERIC_READ, false},
  };
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary) << "0123456789";
    const auto open_other = [&] {
      return CreateFileA(path.c_str(), c.other_access, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE other = c.other_first ? open_other() : INVALID_HANDLE_VALUE;
    if (c.other_first) {
      ASSERT_NE(other, INVALID_HANDLE_VALUE) << c.what;
    }
    std::unique_ptr<File> ours =
        c.ours == Ours::kRead ? files.OpenForReading(path) : files.CreateAlways(path);
    if (!c.other_first) {
      ASSERT_NE(ours, nullptr) << c.what;
      other = open_other();
    }
    EXPECT_EQ(ours != nullptr && other != INVALID_HANDLE_VALUE, c.both_open) << c.what;
    if (ours == nullptr) {
      EXPECT_EQ(files.LastProblemText(), "fichier utilis\xE9 par un autre programme") << c.what;
    }
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  }
}

}  // namespace
}  // namespace korval::platform::win32
