#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

#include "platform/posix/posix_error_text.h"
#include "platform/posix/posix_paths.h"

namespace korval::platform {
namespace {

// Larger counts go in several calls: read() and write() take at most SSIZE_MAX.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

class PosixFile final : public File {
 public:
  // last_error: where a failed read or write leaves its errno; the file system says it.
  PosixFile(int fd, std::shared_ptr<std::atomic<int>> last_error)
      : fd_(fd), last_error_(std::move(last_error)) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  std::optional<std::uint64_t> Size() override {
    struct stat info;
    if (::fstat(fd_, &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
  }

  bool Read(void* bytes, std::size_t count, std::size_t* got) override {
    if (got != nullptr) *got = 0;
    if (count == 0) return true;
    ssize_t result;
    do {
      result = ::read(fd_, bytes, std::min(count, kMaxChunk));
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
      last_error_->store(errno);
      return false;
    }
    if (got != nullptr) *got = static_cast<std::size_t>(result);
    return true;
  }

  bool Rewind() override { return ::lseek(fd_, 0, SEEK_SET) == 0; }

  bool Write(const void* bytes, std::size_t count, std::size_t* written) override {
    const auto* next = static_cast<const char*>(bytes);
    std::size_t done = 0;
    bool ok = true;
    while (done < count) {
      const ssize_t result = ::write(fd_, next + done, std::min(count - done, kMaxChunk));
      if (result < 0 && errno == EINTR) continue;
      if (result <= 0) {
        last_error_->store(result < 0 ? errno : ENOSPC);
        ok = false;
        break;
      }
      done += static_cast<std::size_t>(result);
    }
    if (written != nullptr) *written = done;
    return ok;
  }

 private:
  int fd_;
  std::shared_ptr<std::atomic<int>> last_error_;
};

// Opens without blocking (a FIFO would wait for its other end) and keeps the
// descriptor only for a regular file; later I/O blocks as usual.
int OpenRegular(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat info;
  int status = -1;
  if (::fstat(fd, &info) == 0) {
    // Said as the reason: errno would still hold an earlier failure's.
    if (!S_ISREG(info.st_mode)) errno = S_ISDIR(info.st_mode) ? EISDIR : posix::kNotARegularFile;
    status = S_ISREG(info.st_mode) ? ::fcntl(fd, F_GETFL) : -1;
  }
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<File> PosixFileSystem::OpenForReading(const std::string& path) {
  const int fd = OpenRegular(FileSystemPath(path), O_RDONLY, 0);
  if (fd < 0) return Failed(), nullptr;
  // Advisory only, and not required: a file a writer holds is still read.
  ::flock(fd, LOCK_SH | LOCK_NB);
  return std::make_unique<PosixFile>(fd, last_error_);
}

std::unique_ptr<File> PosixFileSystem::CreateAlways(const std::string& path) {
  // Emptied only once it is private: an existing file keeps its mode through O_CREAT,
  // and one we cannot make private is refused untouched.
  const int fd = OpenRegular(FileSystemPath(path), O_WRONLY | O_CREAT, 0600);
  if (fd < 0) return Failed(), nullptr;
  if (::fchmod(fd, 0600) != 0 || ::ftruncate(fd, 0) != 0) {
    Failed();
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFile>(fd, last_error_);
}

std::unique_ptr<File> PosixFileSystem::CreateBeside(const std::string& path, std::string* created) {
  const std::string base = TrimTrailingBlanks(path);
  if (base.empty()) return nullptr;
  const std::string suffix = ".XXXXXX";
  std::string name = FileSystemPath(base) + suffix;
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Failed(), nullptr;
  // The name as it is held: the characters mkostemp chose are ASCII.
  if (created != nullptr) *created = base + name.substr(name.size() - suffix.size());
  return std::make_unique<PosixFile>(fd, last_error_);
}

bool PosixFileSystem::Delete(const std::string& path) {
  return ::unlink(FileSystemPath(path).c_str()) == 0 || Failed();
}

bool PosixFileSystem::Move(const std::string& from, const std::string& to) {
  return ::rename(FileSystemPath(from).c_str(), FileSystemPath(to).c_str()) == 0 || Failed();
}

std::optional<std::uint64_t> PosixFileSystem::SizeOf(const std::string& path) {
  struct stat info;
  if (::stat(FileSystemPath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.st_size);
}

namespace {

OpenProblem ProblemOfMode(mode_t mode) {
  if (S_ISDIR(mode)) return OpenProblem::kFolder;
  return S_ISREG(mode) ? OpenProblem::kNone : OpenProblem::kNotAFile;
}

}  // namespace

OpenProblem PosixFileSystem::ReadProblem(const std::string& path) {
  const std::string name = FileSystemPath(path);
  // A device or a FIFO is told by its mode, never opened: opening some has effects.
  struct stat info;
  if (::stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return ProblemOfMode(info.st_mode);
  }
  int fd;
  do {
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
      case ENOTDIR: return OpenProblem::kMissing;
      case EACCES:
      case EPERM: return OpenProblem::kAccessDenied;
      case EISDIR: return OpenProblem::kFolder;
      default: return OpenProblem::kUnknown;
    }
  }
  OpenProblem problem = OpenProblem::kUnknown;
  if (::fstat(fd, &info) == 0) problem = ProblemOfMode(info.st_mode);
  ::close(fd);
  return problem;
}

void PosixFileSystem::KeepPermissions(const std::string& from, const std::string& to) {
  struct stat info;
  if (::stat(FileSystemPath(from).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  const std::string target = FileSystemPath(to);
  mode_t mode = info.st_mode & 0777;  // never the set-id bits
  struct stat mine;
  const bool same_group = ::stat(target.c_str(), &mine) == 0 && mine.st_gid == info.st_gid;
  // Group bits meant for the old group must not open the file to ours.
  if (!same_group && ::chown(target.c_str(), static_cast<uid_t>(-1), info.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(070);
  }
  ::chmod(target.c_str(), mode);
}

bool PosixFileSystem::Failed() {
  last_error_->store(errno);
  return false;
}

std::string PosixFileSystem::LastProblemText() {
  const int error = last_error_->load();
  return error == 0 ? std::string() : posix::SystemErrorText(error);
}

}  // namespace korval::platform
