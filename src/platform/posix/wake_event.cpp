#include "platform/posix/wake_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace korval::platform::posix {

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
  if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::Raise() const {
  if (fd_ < 0) return;
  // A signal handler calls this: the interrupted code must find errno as it left it.
  const int saved = errno;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(fd_, &one, sizeof one);
  errno = saved;
}

void WakeEvent::Drain() const {
  if (fd_ < 0) return;
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t ignored = ::read(fd_, &count, sizeof count);
}

}  // namespace korval::platform::posix
