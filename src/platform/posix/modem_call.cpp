#include "platform/posix/modem_call.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/hayes/hayes_dialer.h"
#include "platform/telephony_records.h"

namespace korval::platform::posix {
namespace {

using hayes::HayesDialer;
using hayes::ModemAnswer;
using hayes::ModemReply;
using Result = hayes::HayesPort::Result;

// A port without modem lines (a pty) has nothing to look at between events: the
// carrier watch's wait is then only a safety bound.
constexpr int kEventOnlyWatchMs = 5000;

// How long one read may wait before the deadline and a stop are looked at again.
constexpr std::uint32_t kReadSliceMs = 250;
// How long the port may take no byte of a command before the write fails.
constexpr int kWriteStallMs = 2000;

// The modem's port as the dialler sees it. Its waits end early when wake_fd (-1 for
// none) becomes readable and stopping() then says so.
class DevicePort final : public hayes::HayesPort {
 public:
  DevicePort(ModemDevice& device, Clock& clock, int wake_fd, std::function<bool()> stopping)
      : device_(device), clock_(clock), wake_fd_(wake_fd), stopping_(std::move(stopping)) {}

  Result Write(std::string_view text) override {
    std::size_t written = 0;
    int error = 0;
    if (device_.WriteAll(text.data(), text.size(), &written, kWriteStallMs, wake_fd_, &error)) {
      return Result::kDone;
    }
    return error == ECANCELED && Stopping() ? Result::kStopped : Result::kFailed;
  }

  Result Read(std::string& bytes, std::uint32_t deadline) override {
    if (Stopping()) return Result::kStopped;
    const auto left = static_cast<std::int32_t>(deadline - clock_.TickCount());
    const int wait = static_cast<int>(std::clamp<std::int32_t>(left, 0, kReadSliceMs));
    char buffer[256];
    int error = 0;
    const ssize_t got = device_.ReadSome(buffer, sizeof buffer, wait, wake_fd_, &error);
    if (got < 0) return Result::kFailed;
    bytes.append(buffer, static_cast<std::size_t>(got));
    return got > 0 ? Result::kDone : Result::kTimeout;
  }

  bool SetDtr(bool up) override { return device_.ChangeLines(TIOCM_DTR, up); }

  std::optional<bool> Carrier() override {
    int bits = 0;
    if (!device_.GetLines(&bits)) return std::nullopt;
    return (bits & TIOCM_CAR) != 0;
  }

  std::uint32_t DrainQuietMs(std::uint32_t bound_ms) override {
    device_.Drain(static_cast<int>(bound_ms));
    return device_.QuietFor();
  }

  void Pause(std::uint32_t ms) override { ::poll(nullptr, 0, static_cast<int>(ms)); }

 private:
  bool Stopping() const { return stopping_ && stopping_(); }

  ModemDevice& device_;
  Clock& clock_;
  const int wake_fd_;
  const std::function<bool()> stopping_;
};

void Signal(int fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(fd, &one, sizeof one);
}

bool IsGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

}  // namespace

ModemCall::ModemCall(std::shared_ptr<ModemDevice> device, std::string init, std::string dial,
                     ModemTimings timings, CallReports reports)
    : device_(std::move(device)),
      init_(std::move(init)),
      dial_(std::move(dial)),
      timings_(timings),
      reports_(std::move(reports)),
      wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      done_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ModemCall::~ModemCall() {
  Close();
  if (wake_fd_ >= 0) ::close(wake_fd_);
  if (done_fd_ >= 0) ::close(done_fd_);
}

bool ModemCall::Start() {
  if (wake_fd_ < 0 || done_fd_ < 0 || thread_.joinable()) return false;
  {
    std::lock_guard lock(mutex_);
    finished_ = false;
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    std::lock_guard lock(mutex_);
    finished_ = true;
    return false;
  }
  return true;
}

void ModemCall::Drop() {
  {
    std::lock_guard lock(mutex_);
    if (!finished_) {
      drop_ = true;
      Signal(wake_fd_);
      return;
    }
  }
  // The thread has ended on a failed or lost call: only the release is left.
  if (state_.load() == kCallStateDisconnected) Report(kCallStateIdle);
}

void ModemCall::Close() {
  if (!thread_.joinable()) return;
  close_ = true;
  Signal(wake_fd_);
  // Every wait of the thread is bounded; this is the longest hang-up, with a margin.
  const int bound =
      static_cast<int>(HayesDialer::HangUpBoundMs(timings_) + HayesDialer::kLastCommandMs + 1000);
  pollfd done = {done_fd_, POLLIN, 0};
  ::poll(&done, 1, bound);
  thread_.join();
}

bool ModemCall::finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void ModemCall::Run() {
  if (reports_.accepted) reports_.accepted();
  bool online = false;
  Outcome outcome = Place();
  if (outcome == Outcome::kConnected) {
    online = true;
    outcome = Serve();
  }
  if (outcome == Outcome::kDropped || outcome == Outcome::kClosed) {
    if (online) {
      HangUpOnline();
    } else if (state_.load() == kCallStateDialing) {
      AbortDial();
    }
    if (outcome == Outcome::kDropped) {
      if (state_.load() != kCallStateDisconnected)
        Report(kCallStateDisconnected, kDisconnectNormal);
      Report(kCallStateIdle);
    }
  }
  bool idle_owed = false;
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
    idle_owed = drop_.load() && !close_.load() && state_.load() == kCallStateDisconnected;
  }
  if (idle_owed) Report(kCallStateIdle);
  Signal(done_fd_);
}

ModemCall::Outcome ModemCall::Place() {
  const auto interruption = [this] { return close_.load() ? Outcome::kClosed : Outcome::kDropped; };
  DevicePort port(*device_, clock_, wake_fd_, [this] { return Stopping(); });
  HayesDialer dialer(port, clock_, timings_);
  device_->DropUnread();
  device_->Flush(TCIFLUSH);
  device_->SetConnectRate(0);

  if (!init_.empty()) {
    const ModemAnswer answer = dialer.Initialise(init_);
    if (answer.result == Result::kStopped) return interruption();
    if (answer.result != Result::kDone || answer.reply != ModemReply::kOk) {
      if (answer.result == Result::kDone) {
        Warn("Le modem " + device_->path() + " refuse la commande d'initialisation \xAB " + init_ +
             " \xBB (r\xE9ponse \xAB " + answer.line + " \xBB).");
      } else {
        Warn("Le modem " + device_->path() +
             " ne r\xE9pond pas \xE0 la commande "
             "d'initialisation \xAB " +
             init_ + " \xBB.");
      }
      Report(kCallStateDisconnected, kDisconnectUnavail);
      return Outcome::kEnded;
    }
  }

  device_->NoteCarrierBeforeCall();
  const Result sent = dialer.Dial(dial_);
  if (sent == Result::kStopped) return interruption();
  if (sent != Result::kDone) {
    Warn("Le modem " + device_->path() + " ne prend pas la commande de num\xE9rotation.");
    Report(kCallStateDisconnected, kDisconnectUnavail);
    return Outcome::kEnded;
  }
  Report(kCallStateDialing);

  const ModemAnswer verdict = dialer.AwaitVerdict();
  switch (verdict.result) {
    case Result::kStopped: return interruption();
    case Result::kTimeout:
      Warn("Le modem " + device_->path() + " n'a pas obtenu la communication (d\xE9lai de " +
           std::to_string((timings_.dial_timeout_ms + 999) / 1000) + " s d\xE9pass\xE9).");
      AbortDial();
      Report(kCallStateDisconnected, kDisconnectUnavail);
      return Outcome::kEnded;
    case Result::kFailed:
      Warn("Le modem " + device_->path() + " ne r\xE9pond plus.");
      Report(kCallStateDisconnected, kDisconnectUnavail);
      return Outcome::kEnded;
    case Result::kDone: break;
  }
  if (verdict.reply != ModemReply::kConnect) {
    const std::uint32_t mode = hayes::DisconnectModeOf(verdict.reply);
    Report(kCallStateDisconnected, mode != 0 ? mode : kDisconnectUnavail);
    return Outcome::kEnded;
  }

  device_->SetConnectRate(hayes::ConnectRate(verdict.line));
  // What came after the CONNECT line belongs to the data stream (the far end may
  // speak at once).
  device_->Unread(dialer.TakeData());
  Report(kCallStateConnected);
  return Outcome::kConnected;
}

ModemCall::Outcome ModemCall::Serve() {
  int bits = 0;
  const bool has_lines = device_->GetLines(&bits);
  // Only a carrier seen once can be lost: a cable without DCD reads as low throughout.
  bool carrier_seen = has_lines && (bits & TIOCM_CAR) != 0;
  const int watch_ms = has_lines ? static_cast<int>(timings_.carrier_poll_ms) : kEventOnlyWatchMs;
  for (;;) {
    pollfd fds[3] = {
        {wake_fd_, POLLIN, 0}, {device_->hangup_event(), POLLIN, 0}, {device_->fd(), 0, 0}};
    ::poll(fds, 3, watch_ms);
    if (close_.load()) return Outcome::kClosed;
    if (drop_.load()) return Outcome::kDropped;
    bool lost = device_->hung_up();
    if (!lost && (fds[2].revents & (POLLHUP | POLLERR)) != 0) {
      device_->NoteHangUp();
      lost = true;
    }
    if (!lost && has_lines) {
      if (!device_->GetLines(&bits)) {
        lost = IsGone(errno);
      } else if (bits & TIOCM_CAR) {
        carrier_seen = true;
      } else {
        lost = carrier_seen;
      }
    }
    if (lost) {
      Report(kCallStateDisconnected, kDisconnectNormal);
      return Outcome::kEnded;
    }
  }
}

void ModemCall::AbortDial() {
  if (device_->hung_up()) return;
  DevicePort port(*device_, clock_, -1, nullptr);
  HayesDialer(port, clock_, timings_).AbortDial();
}

void ModemCall::HangUpOnline() {
  if (device_->hung_up()) return;
  DevicePort port(*device_, clock_, -1, nullptr);
  HayesDialer(port, clock_, timings_).HangUp();
}

void ModemCall::Report(std::uint32_t state, std::uint32_t mode) {
  state_ = state;
  if (reports_.state) reports_.state(state, mode);
}

void ModemCall::Warn(const std::string& text) {
  if (reports_.warn) reports_.warn(text);
}

}  // namespace korval::platform::posix
