#include "platform/posix/modem_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace korval::platform::posix {
namespace {

constexpr short kHangUpEvents = POLLHUP | POLLERR;

bool IsHangUpError(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

bool Readable(const pollfd& entry) { return (entry.revents & POLLIN) != 0; }

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

std::shared_ptr<ModemDevice> ModemDevice::Open(const std::string& path,
                                               const std::vector<std::string>& lock_folders,
                                               PortOpenResult* result) {
  *result = OpenPortExclusive(path, lock_folders);
  if (result->status != PortOpenStatus::kOpen) return nullptr;
  return std::shared_ptr<ModemDevice>(new ModemDevice(path, result->fd, result->lock_file));
}

ModemDevice::ModemDevice(std::string path, int fd, std::string lock_file)
    : path_(std::move(path)),
      fd_(fd),
      lock_file_(std::move(lock_file)),
      hangup_event_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ModemDevice::~ModemDevice() {
  Release();
  ::close(fd_);
  if (hangup_event_ >= 0) ::close(hangup_event_);
}

void ModemDevice::Release() {
  if (released_.exchange(true)) return;
  ReleasePort(fd_, lock_file_);
}

ssize_t ModemDevice::ReadSome(void* bytes, std::size_t count, int wait_ms, int wake_fd,
                              int* error) {
  *error = 0;
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd, POLLIN, 0}};
  const nfds_t nfds = wake_fd >= 0 ? 2 : 1;
  if (hung_up()) {
    // Nothing will come: wait all the same, so that a reading loop does not spin.
    ::poll(fds + 1, wake_fd >= 0 ? 1 : 0, wait_ms);
    *error = EIO;
    return -1;
  }
  const int ready = ::poll(fds, nfds, wait_ms);
  if (ready < 0) {
    if (errno == EINTR) return 0;
    *error = errno;
    return -1;
  }
  if (ready == 0 || (nfds == 2 && Readable(fds[1]) && !Readable(fds[0]))) return 0;
  if (fds[0].revents & POLLNVAL) {
    *error = EBADF;
    return -1;
  }
  const bool hang_up = (fds[0].revents & kHangUpEvents) != 0;
  if (!Readable(fds[0]) && hang_up) {
    NoteHangUp();
    *error = EIO;
    return -1;
  }
  const ssize_t got = ::read(fd_, bytes, count);
  if (got > 0) return got;
  if (got == 0) {
    // In raw mode with VMIN 0 a read of 0 means "nothing yet" unless the line hung up.
    if (!hang_up) return 0;
    NoteHangUp();
    *error = EIO;
    return -1;
  }
  if (errno == EAGAIN || errno == EINTR) return 0;
  *error = errno;
  if (IsHangUpError(*error)) NoteHangUp();
  return -1;
}

ssize_t ModemDevice::ReadData(void* bytes, std::size_t count, int wait_ms, int* error) {
  *error = 0;
  std::lock_guard lock(data_mutex_);
  if (filtered_.empty() && count > 0) {
    std::string& raw = raw_;
    raw.resize(count);
    std::size_t got = TakeUnread(raw.data(), count);
    if (got == 0) {
      const ssize_t read =
          ReadSome(raw.data(), count, DataWaitMs(wait_ms), read_cancel_.fd(), error);
      // A cancel left standing would end every later wait at once.
      if (read <= 0) read_cancel_.Drain();
      if (read < 0) {
        filtered_ = hangup_text_.Finish();
        if (filtered_.empty()) return -1;
        *error = 0;
      }
      got = read > 0 ? static_cast<std::size_t>(read) : 0;
    }
    raw.resize(got);
    int bits = 0;
    const bool carrier_up =
        got > 0 && dcd_follows_carrier_.load() && GetLines(&bits) && (bits & TIOCM_CAR) != 0;
    hayes::ModemHangUpText::Result result = hangup_text_.Feed(raw, NowMs(), carrier_up);
    filtered_.append(result.data);
    if (result.hung_up) NoteHangUp();
  }
  const std::size_t given = std::min(count, filtered_.size());
  std::memcpy(bytes, filtered_.data(), given);
  filtered_.erase(0, given);
  return static_cast<ssize_t>(given);
}

int ModemDevice::DataWaitMs(int wait_ms) {
  hangup_text_.set_hold_ms(hayes::HangUpTextHoldMs(connect_rate()));
  if (!hangup_text_.holding()) return wait_ms;
  const std::int64_t due_in = hangup_text_.release_at_ms() - NowMs();
  return static_cast<int>(std::clamp<std::int64_t>(due_in, 0, wait_ms));
}

bool ModemDevice::WriteAll(const void* bytes, std::size_t count, std::size_t* written, int stall_ms,
                           int wake_fd, int* error) {
  *written = 0;
  *error = 0;
  const auto* next = static_cast<const std::uint8_t*>(bytes);
  while (*written < count) {
    if (hung_up()) {
      *error = EIO;
      return false;
    }
    const ssize_t put = ::write(fd_, next + *written, count - *written);
    if (put > 0) {
      *written += static_cast<std::size_t>(put);
      last_write_ms_ = NowMs();
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN) {
      *error = errno;
      if (IsHangUpError(*error)) NoteHangUp();
      return false;
    }
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_fd, POLLIN, 0}};
    const int ready = ::poll(fds, wake_fd >= 0 ? 2 : 1, stall_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      *error = errno;
      return false;
    }
    if (ready == 0) {
      *error = ETIMEDOUT;
      return false;
    }
    if (wake_fd >= 0 && Readable(fds[1])) {
      *error = ECANCELED;
      return false;
    }
    if ((fds[0].revents & POLLOUT) == 0 && (fds[0].revents & kHangUpEvents) != 0) {
      NoteHangUp();
      *error = EIO;
      return false;
    }
  }
  return true;
}

bool ModemDevice::Drain(int bound_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  for (;;) {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    const int left = MillisecondsLeft(deadline);
    if (left == 0 || hung_up()) return false;
    ::poll(nullptr, 0, std::min(left, 10));
  }
}

std::uint32_t ModemDevice::QuietFor() const {
  const std::int64_t quiet = NowMs() - last_write_ms_.load();
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(quiet, 0, 0xFFFFFFFF));
}

void ModemDevice::NoteCarrierBeforeCall() {
  int bits = 0;
  dcd_follows_carrier_.store(GetLines(&bits) && (bits & TIOCM_CAR) == 0);
}

void ModemDevice::ResetDataStream() {
  std::lock_guard lock(data_mutex_);
  hangup_text_.Clear();
  filtered_.clear();
}

void ModemDevice::Unread(std::string_view bytes) {
  ResetDataStream();
  std::lock_guard lock(mutex_);
  unread_.insert(0, bytes.data(), bytes.size());
}

std::size_t ModemDevice::TakeUnread(void* bytes, std::size_t count) {
  std::lock_guard lock(mutex_);
  const std::size_t taken = std::min(count, unread_.size());
  std::memcpy(bytes, unread_.data(), taken);
  unread_.erase(0, taken);
  return taken;
}

void ModemDevice::DropUnread() {
  ResetDataStream();
  std::lock_guard lock(mutex_);
  unread_.clear();
}

void ModemDevice::NoteHangUp() {
  if (hung_up_.exchange(true)) return;
  read_cancel_.Raise();
  if (hangup_event_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(hangup_event_, &one, sizeof one);
}

bool ModemDevice::GetSettings(struct termios* settings) const {
  return ::tcgetattr(fd_, settings) == 0;
}

bool ModemDevice::SetSettings(const struct termios& settings) {
  return ::tcsetattr(fd_, TCSANOW, &settings) == 0;
}

bool ModemDevice::GetLines(int* bits) const { return ::ioctl(fd_, TIOCMGET, bits) == 0; }

bool ModemDevice::ChangeLines(int bits, bool raise) {
  return ::ioctl(fd_, raise ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool ModemDevice::Break(bool on) { return ::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0; }

bool ModemDevice::Flush(int queue_selector) { return ::tcflush(fd_, queue_selector) == 0; }

void ModemDevice::SetQueues(std::uint32_t in_queue, std::uint32_t out_queue) {
  std::lock_guard lock(mutex_);
  in_queue_ = in_queue;
  out_queue_ = out_queue;
}

void ModemDevice::SetConnectRate(std::uint32_t rate) { connect_rate_.store(rate); }

PortState ModemDevice::Port() const {
  std::lock_guard lock(mutex_);
  PortState port;
  port.in_queue = in_queue_;
  port.out_queue = out_queue_;
  port.model = path_;
  return port;
}

}  // namespace korval::platform::posix
