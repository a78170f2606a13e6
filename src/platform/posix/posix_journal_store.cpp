#include "platform/posix/posix_journal_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/posix/posix_error_text.h"
#include "platform/posix/posix_paths.h"

namespace korval::platform::posix {
namespace {

constexpr const char* kPendingInfix = ".en-cours.";
constexpr const char* kLockSuffix = ".verrou";
constexpr int kLockRetryMs = 20;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folders of the default place are made on first use, private to the user.
void MakeFolders(const std::string& folder) {
  for (std::size_t at = 1; at != std::string::npos && at <= folder.size();) {
    at = folder.find('/', at + 1);
    const std::string part = folder.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return true;
}

std::string ReadFd(int fd) {
  std::string text;
  char chunk[8192];
  off_t at = 0;
  for (;;) {
    const ssize_t got = ::pread(fd, chunk, sizeof chunk, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(chunk, static_cast<std::size_t>(got));
    at += got;
  }
}

std::string ReadPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text = ReadFd(fd);
  ::close(fd);
  return text;
}

// flock with a bounded wait: a job holds the journal's lock only while it appends.
bool LockWithin(int fd, int wait_ms) {
  for (int waited = 0;; waited += kLockRetryMs) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (waited >= wait_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockRetryMs));
  }
}

// The pending files beside the journal, sorted by name.
std::vector<std::string> PendingFiles(const std::string& journal) {
  std::vector<std::string> found;
  const std::string prefix = BaseName(journal) + kPendingInfix;
  const std::string folder = FolderOf(journal);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) == 0) {
      found.emplace_back(folder).append("/").append(name);
    }
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

// The block a killed job left, closed by killed_end; empty when its job still runs
// (it holds the lock) or has written nothing yet.
std::string KilledBlock(const std::string& path, std::string_view killed_end) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {};
  std::string block;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    block = ReadFd(fd);
    if (!block.empty()) {
      if (block.back() != '\n') block += '\n';
      block += killed_end;
    }
  }
  ::close(fd);
  return block;
}

}  // namespace

PosixJournalStore::~PosixJournalStore() {
  if (pending_fd_ >= 0) ::close(pending_fd_);
}

std::string PosixJournalStore::DefaultPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/korval/journal.log";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    return std::string(home) + "/.local/state/korval/journal.log";
  }
  return {};
}

std::string PosixJournalStore::LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[40] = {};
  if (::localtime_r(&now, &local) == nullptr) return "?";
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

std::uint32_t PosixJournalStore::ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool PosixJournalStore::Open(const std::string& journal_path) {
  journal_ = FileSystemPath(journal_path);
  if (journal_.empty() || journal_.back() == '/') return Failed(journal_.empty() ? ENOENT : EISDIR);
  MakeFolders(FolderOf(journal_));
  const std::string base = journal_ + kPendingInfix + std::to_string(::getpid());
  // A file of our number left by an earlier process is a killed job's: it stays for
  // the next commit to take.
  for (int attempt = 0; attempt < 10 && pending_fd_ < 0; ++attempt) {
    pending_path_ = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    pending_fd_ = ::open(pending_path_.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (pending_fd_ < 0 && errno != EEXIST) return Failed(errno);
  }
  if (pending_fd_ < 0) return Failed(EEXIST);
  // Locked before its first byte: another job's commit takes only unlocked blocks
  // that hold something.
  if (!LockWithin(pending_fd_, kLockWaitMaxMs)) {
    const int error = errno;
    ::close(pending_fd_);
    pending_fd_ = -1;
    ::unlink(pending_path_.c_str());
    return Failed(error);
  }
  return true;
}

bool PosixJournalStore::Append(std::string_view text) {
  return pending_fd_ >= 0 && (WriteAll(pending_fd_, text) || Failed(errno));
}

bool PosixJournalStore::Commit(std::uint64_t max_bytes, std::string_view killed_end) {
  if (pending_fd_ < 0) return false;
  const std::string lock_path = journal_ + kLockSuffix;
  const int lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_fd < 0) return Failed(errno);
  bool done = false;
  int error = 0;
  if (!LockWithin(lock_fd, kLockWaitMaxMs)) {
    error = errno;
  } else {
    std::string blocks;
    std::vector<std::string> taken;
    for (const std::string& path : PendingFiles(journal_)) {
      if (path == pending_path_) continue;
      const std::string block = KilledBlock(path, killed_end);
      if (block.empty()) continue;
      blocks += block;
      taken.push_back(path);
    }
    blocks += ReadFd(pending_fd_);
    struct stat info {};
    if (::stat(journal_.c_str(), &info) == 0 && info.st_size > 0 &&
        static_cast<std::uint64_t>(info.st_size) + blocks.size() > max_bytes) {
      ::rename(journal_.c_str(), (journal_ + ".1").c_str());
    }
    const int fd =
        ::open(journal_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      done = WriteAll(fd, blocks);
      done = ::close(fd) == 0 && done;
    }
    error = errno;
    // Blocks that did not go in stay pending: a later job moves them.
    if (done) {
      for (const std::string& path : taken) ::unlink(path.c_str());
      ::unlink(pending_path_.c_str());
    }
  }
  ::close(lock_fd);
  ::close(pending_fd_);
  pending_fd_ = -1;
  return done || Failed(error);
}

std::string PosixJournalStore::ReadAll(const std::string& journal_path) {
  const std::string journal = FileSystemPath(journal_path);
  std::string text = ReadPath(journal + ".1") + ReadPath(journal);
  for (const std::string& path : PendingFiles(journal)) text += ReadPath(path);
  return text;
}

bool PosixJournalStore::Failed(int error) {
  last_error_ = error;
  return false;
}

std::string PosixJournalStore::LastProblemText() {
  return last_error_ == 0 ? std::string() : SystemErrorText(last_error_);
}

}  // namespace korval::platform::posix
