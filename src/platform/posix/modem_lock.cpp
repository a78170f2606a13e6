#include "platform/posix/modem_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace korval::platform::posix {
namespace {

// Reads the holder's PID from a lock file: ten ASCII digits (HDB style) or, from old
// programs, a binary int.
pid_t ReadHolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t got = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (got <= 0) return 0;
  const long pid = std::strtol(text, nullptr, 10);
  if (pid <= 0 && got == static_cast<ssize_t>(sizeof(int))) {
    int binary = 0;
    std::memcpy(&binary, text, sizeof binary);
    return binary > 0 ? binary : 0;
  }
  return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

bool IsAlive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// Creates the lock file atomically: written under a private name, then linked, so no
// other program ever reads a half-written one.
enum class LockFileStatus { kTaken, kBusy, kNone };

LockFileStatus TakeLockFile(const std::string& folder, const std::string& name, std::string* taken,
                            pid_t* holder) {
  const std::string path = folder + "/" + name;
  const std::string temp = folder + "/LTMP." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return LockFileStatus::kNone;
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
  const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
  ::close(fd);
  if (!written) {
    ::unlink(temp.c_str());
    return LockFileStatus::kNone;
  }
  LockFileStatus status = LockFileStatus::kNone;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (::link(temp.c_str(), path.c_str()) == 0) {
      *taken = path;
      status = LockFileStatus::kTaken;
      break;
    }
    if (errno != EEXIST) break;
    const pid_t pid = ReadHolder(path);
    if (IsAlive(pid)) {
      *holder = pid;
      status = LockFileStatus::kBusy;
      break;
    }
    // Stale: its process is gone (or it names none).
    ::unlink(path.c_str());
  }
  ::unlink(temp.c_str());
  return status;
}

PortOpenStatus StatusOf(int error) {
  switch (error) {
    case EBUSY:
    case EWOULDBLOCK: return PortOpenStatus::kBusy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return PortOpenStatus::kMissing;
    case EACCES:
    case EPERM: return PortOpenStatus::kDenied;
    default: return PortOpenStatus::kFailed;
  }
}

}  // namespace

std::vector<std::string> DefaultLockFolders() { return {"/var/lock", "/run/lock"}; }

std::string LockFileName(const std::string& device_path) {
  std::string path = device_path;
  if (char* real = ::realpath(device_path.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  constexpr std::string_view kDev = "/dev/";
  if (path.compare(0, kDev.size(), kDev) == 0) {
    path.erase(0, kDev.size());
  } else {
    while (!path.empty() && path.front() == '/') path.erase(0, 1);
  }
  for (char& c : path) {
    if (c == '/') c = '_';
  }
  return "LCK.." + path;
}

PortOpenResult OpenPortExclusive(const std::string& device_path,
                                 const std::vector<std::string>& lock_folders) {
  PortOpenResult result;
  const std::string name = LockFileName(device_path);
  for (const std::string& folder : lock_folders) {
    if (::access(folder.c_str(), W_OK) != 0) continue;
    const LockFileStatus status = TakeLockFile(folder, name, &result.lock_file, &result.holder);
    if (status == LockFileStatus::kBusy) {
      result.status = PortOpenStatus::kBusy;
      result.error = EBUSY;
      return result;
    }
    if (status == LockFileStatus::kTaken) break;
  }

  auto fail = [&](int error, PortOpenStatus status) {
    if (result.fd >= 0) ::close(result.fd);
    result.fd = -1;
    if (!result.lock_file.empty()) ::unlink(result.lock_file.c_str());
    result.lock_file.clear();
    result.error = error;
    result.status = status;
    return result;
  };

  result.fd = ::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (result.fd < 0) return fail(errno, StatusOf(errno));
  struct termios settings;
  if (::tcgetattr(result.fd, &settings) != 0) return fail(errno, PortOpenStatus::kNotSerial);
  if (::flock(result.fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    return fail(error, error == EWOULDBLOCK ? PortOpenStatus::kBusy : PortOpenStatus::kFailed);
  }
  // Refuses later opens by anyone but root.
  if (::ioctl(result.fd, TIOCEXCL) != 0) return fail(errno, PortOpenStatus::kFailed);
  result.status = PortOpenStatus::kOpen;
  return result;
}

void ReleasePort(int fd, const std::string& lock_file) {
  if (fd >= 0) {
    // The exclusive mode outlives the descriptor while someone else holds the tty.
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
  }
  if (!lock_file.empty() && ReadHolder(lock_file) == ::getpid()) ::unlink(lock_file.c_str());
}

}  // namespace korval::platform::posix
