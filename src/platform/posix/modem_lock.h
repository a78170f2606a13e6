#pragma once
// Taking a serial port for this process alone: the UUCP lock file that other dialling
// programs honour, an exclusive flock on the descriptor, and the tty's exclusive mode.

#include <sys/types.h>

#include <string>
#include <vector>

namespace korval::platform::posix {

// Where lock files go, in order of preference; the first writable folder is used.
std::vector<std::string> DefaultLockFolders();

// "LCK..ttyACM0" for /dev/ttyACM0; the path below /dev with '/' turned into '_', so
// /dev/pts/3 gives "LCK..pts_3". Symbolic links are resolved first, so that two
// names of one port share one lock.
std::string LockFileName(const std::string& device_path);

enum class PortOpenStatus {
  kOpen,
  kBusy,       // another program (or another line of ours) holds the port
  kMissing,    // no such device
  kDenied,     // no permission
  kNotSerial,  // not a terminal device
  kFailed,     // any other error
};

struct PortOpenResult {
  PortOpenStatus status = PortOpenStatus::kFailed;
  int fd = -1;            // open, flocked and exclusive when status is kOpen
  pid_t holder = 0;       // the lock file's process when kBusy and known
  int error = 0;          // errno of the failing step
  std::string lock_file;  // the lock file created, empty when none could be
};

// Opens the port O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC and takes it. A lock file
// left by a process that no longer exists is removed and taken over.
PortOpenResult OpenPortExclusive(const std::string& device_path,
                                 const std::vector<std::string>& lock_folders);

// Undoes OpenPortExclusive except for closing the descriptor: the port may still be
// read for a moment by a thread that started before.
void ReleasePort(int fd, const std::string& lock_file);

}  // namespace korval::platform::posix
