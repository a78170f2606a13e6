#include "platform/posix/posix_profile_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>

#include "platform/posix/posix_error_text.h"
#include "platform/posix/posix_paths.h"
#include "platform/profile_text.h"

namespace korval::platform {
namespace {

using ReadOutcome = ProfileFileStore::ReadOutcome;
using ReplaceOutcome = ProfileFileStore::ReplaceOutcome;

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The whole of a regular file. A missing file (or a missing folder on the way to
// it) is told apart from one that is there but cannot be read.
ReadOutcome ReadWholeFile(const std::string& path, std::string* bytes, struct stat* info) {
  // O_NONBLOCK: a FIFO at that path must not hang us; it is refused below.
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    return errno == ENOENT || errno == ENOTDIR ? ReadOutcome::kMissing : ReadOutcome::kFailed;
  }
  ReadOutcome outcome = ReadOutcome::kFailed;
  if (::fstat(fd, info) == 0 && S_ISREG(info->st_mode)) {
    bytes->clear();
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      if (got == 0) {
        outcome = ReadOutcome::kRead;
        break;
      }
      bytes->append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  if (outcome != ReadOutcome::kRead) bytes->clear();
  return outcome;
}

std::string ReadOrEmpty(const std::string& path) {
  std::string bytes;
  struct stat info;
  if (path.empty() || ReadWholeFile(path, &bytes, &info) != ReadOutcome::kRead) return {};
  return bytes;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t went = ::write(fd, bytes.data(), bytes.size());
    if (went < 0 && errno == EINTR) continue;
    if (went <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(went));
  }
  return true;
}

// A name no other writer uses at the same time; O_EXCL settles any clash.
std::string TemporaryName(const std::string& folder, std::string_view base) {
  static std::atomic<unsigned> counter{0};
  const auto ticks =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  // Kept short of NAME_MAX whatever the length of the file's own name.
  std::string name = folder + "/." + std::string(base.substr(0, 64));
  name += "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
          std::to_string(ticks) + ".tmp";
  return name;
}

void SyncFolder(const std::string& folder) {
  const int fd = OpenRetrying(folder.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);  // only makes the rename durable sooner; the write has succeeded already
  ::close(fd);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// The folder, not the file, said no: creating or renaming there is not allowed.
bool FolderRefuses(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == EBUSY;
}

// Writes bytes to a new file beside path and renames it over path.
ReplaceOutcome ReplaceFile(const std::string& path, std::string_view bytes,
                           const struct stat* old) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = FolderOf(path);
  const std::string_view base =
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  if (base.empty()) return ReplaceOutcome::kFailed;

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = TemporaryName(folder, base);
    fd = OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0 && errno != EEXIST) {
      return FolderRefuses(errno) ? ReplaceOutcome::kFolderRefused : ReplaceOutcome::kFailed;
    }
  }
  if (fd < 0) return ReplaceOutcome::kFailed;

  bool ok = true;
  if (old != nullptr) {
    // The owner can only be kept when we are allowed to give the file away.
    if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
      // Not an error: the file then belongs to whoever rewrote it.
    }
    ok = ::fchmod(fd, old->st_mode & 07777) == 0;
  }
  ok = ok && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    ::unlink(temporary.c_str());
    return ReplaceOutcome::kFailed;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return FolderRefuses(error) ? ReplaceOutcome::kFolderRefused : ReplaceOutcome::kFailed;
  }
  SyncFolder(folder);
  return ReplaceOutcome::kReplaced;
}

// The file a write must replace: through a symbolic link, the file it names, so that
// the link survives.
std::string WriteTarget(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

// KORVAL_WININI when it is set and not empty.
const char* NamedSystemProfile() {
  const char* named = std::getenv("KORVAL_WININI");
  return named != nullptr && *named != '\0' ? named : nullptr;
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string PosixProfileStore::FileOf(const std::string& path) { return WriteTarget(path); }

ReadOutcome PosixProfileStore::ReadWhole(const std::string& file, std::string* bytes) {
  struct stat info;
  errno = 0;
  const ReadOutcome outcome = ReadWholeFile(file, bytes, &info);
  last_error_ = outcome == ReadOutcome::kFailed ? errno : 0;
  return outcome;
}

ReplaceOutcome PosixProfileStore::Replace(const std::string& file, std::string_view bytes,
                                          bool existed) {
  struct stat old_info;
  const bool known = existed && ::stat(file.c_str(), &old_info) == 0;
  errno = 0;
  const ReplaceOutcome outcome = ReplaceFile(file, bytes, known ? &old_info : nullptr);
  last_error_ = outcome == ReplaceOutcome::kReplaced ? 0 : errno;
  return outcome;
}

bool PosixProfileStore::RewriteInPlace(const std::string& file, std::string_view bytes) {
  // No O_CREAT: only a file that is there is rewritten; no O_TRUNC: it is cut after
  // the new bytes are in, so that a failed write leaves the most of it.
  errno = 0;
  const int fd = OpenRetrying(file.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    last_error_ = errno;
    return false;
  }
  struct stat info;
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && WriteAll(fd, bytes) &&
            ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  last_error_ = ok ? 0 : errno;
  return ok;
}

std::string PosixProfileStore::LastProblemText() {
  return last_error_ == 0 ? std::string() : posix::SystemErrorText(last_error_);
}

std::string PosixProfileStore::ReadSystem(const std::string& section, const std::string& key,
                                          std::size_t capacity) {
  return ReadProfileValue(ReadOrEmpty(SystemProfilePath()), section, key, capacity);
}

bool PosixProfileStore::HasSystemKey(const std::string& section, const std::string& key) {
  // Removing a key changes the bytes exactly when the key is there.
  const std::string bytes = ReadOrEmpty(SystemProfilePath());
  return WriteProfileValue(bytes, section, key, std::nullopt) != bytes;
}

std::vector<std::string> PosixProfileStore::SystemProfileCandidates() {
  if (const char* named = NamedSystemProfile()) return {TrimTrailingBlanks(named)};

  std::vector<std::string> candidates;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (config != nullptr && config[0] == '/') {
    candidates.push_back(std::string(config) + "/korval/win.ini");
  } else if (home != nullptr && *home != '\0') {
    candidates.push_back(std::string(home) + "/.config/korval/win.ini");
  }
  candidates.push_back("/etc/korval/win.ini");
  return candidates;
}

std::string PosixProfileStore::SystemProfilePath() {
  const std::vector<std::string> candidates = SystemProfileCandidates();
  // A file named by KORVAL_WININI is the one, whether it is there or not.
  if (NamedSystemProfile() != nullptr) return candidates.front();
  for (const std::string& candidate : candidates) {
    if (IsRegularFile(candidate)) return candidate;
  }
  return {};
}

std::string PosixProfileStore::MissingSystemProfile() {
  const std::vector<std::string> candidates = SystemProfileCandidates();
  std::string looked;
  for (const std::string& candidate : candidates) {
    if (IsRegularFile(candidate)) return {};
    looked += (looked.empty() ? "" : ", ") + candidate;
  }
  return "win.ini introuvable (cherch\xE9 : " + looked + ").";
}

}  // namespace korval::platform
