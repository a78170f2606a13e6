#include "platform/posix/modem_call.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "platform/posix/modem_chat.h"
#include "platform/telephony_records.h"

namespace korval::platform::posix {
namespace {

// How long the LF that completes "CONNECT ...\r" may take to come.
constexpr int kLineFeedWaitMs = 20;

// A port without modem lines (a pty) has nothing to look at between events: the
// carrier watch's wait is then only a safety bound.
constexpr int kEventOnlyWatchMs = 5000;

// The modem counts its guard time from when the last byte reached it, which is
// later than when write() returned (adapter buffers, the UART's FIFO).
constexpr std::uint32_t kGuardMarginMs = 250;

// What the modem gets to answer the escape and ATH within the hang-up's bound.
constexpr std::uint32_t kHangUpAnswerMs = 500;
// ATH goes even when the time is up: a modem still online takes it as data, harmless.
constexpr std::uint32_t kLastCommandMs = 200;

// The whole hang-up (DTR, both guard times, "+++", ATH) is bounded, about 3 s with the
// usual timings: a modem that ignores the escape must not hold every job's end, nor
// a stop, for the length of its reply time-outs.
std::uint32_t HangUpBoundMs(const ModemTimings& timings) {
  return timings.dtr_drop_ms + 2 * timings.guard_ms + kGuardMarginMs + kHangUpAnswerMs;
}

class Deadline {
 public:
  explicit Deadline(std::uint32_t ms)
      : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)) {}
  std::uint32_t LeftMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end_ - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<std::uint32_t>(left.count()) : 0;
  }

 private:
  std::chrono::steady_clock::time_point end_;
};

void Signal(int fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(fd, &one, sizeof one);
}

void Pause(std::uint32_t ms) { ::poll(nullptr, 0, static_cast<int>(ms)); }

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
  const int bound = static_cast<int>(HangUpBoundMs(timings_) + kLastCommandMs + 1000);
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
      if (state_.load() != kCallStateDisconnected) Report(kCallStateDisconnected, kDisconnectNormal);
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
  ModemChat chat(*device_, wake_fd_, [this] { return Stopping(); });
  device_->DropUnread();
  device_->Flush(TCIFLUSH);
  device_->SetConnectRate(0);

  if (!init_.empty()) {
    const ChatOutcome answer = chat.Command(init_, timings_.reply_ms);
    if (answer.kind == ChatOutcome::Kind::kInterrupted) return interruption();
    if (answer.kind != ChatOutcome::Kind::kDone || answer.reply != ModemReply::kOk) {
      if (answer.kind == ChatOutcome::Kind::kDone) {
        Warn("Le modem " + device_->path() + " refuse la commande d'initialisation \xAB " +
             init_ + " \xBB (r\xE9ponse \xAB " + answer.line + " \xBB).");
      } else {
        Warn("Le modem " + device_->path() + " ne r\xE9pond pas \xE0 la commande "
             "d'initialisation \xAB " + init_ + " \xBB.");
      }
      Report(kCallStateDisconnected, kDisconnectUnavail);
      return Outcome::kEnded;
    }
  }

  chat.scanner().Clear();
  device_->NoteCarrierBeforeCall();
  const ChatOutcome sent = chat.Send("ATD" + dial_ + "\r");
  if (sent.kind == ChatOutcome::Kind::kInterrupted) return interruption();
  if (sent.kind != ChatOutcome::Kind::kDone) {
    Warn("Le modem " + device_->path() + " ne prend pas la commande de num\xE9rotation.");
    Report(kCallStateDisconnected, kDisconnectUnavail);
    return Outcome::kEnded;
  }
  Report(kCallStateDialing);

  const ChatOutcome verdict = chat.Await(timings_.dial_timeout_ms);
  switch (verdict.kind) {
    case ChatOutcome::Kind::kInterrupted:
      return interruption();
    case ChatOutcome::Kind::kTimeout:
      Warn("Le modem " + device_->path() + " n'a pas obtenu la communication (d\xE9lai de " +
           std::to_string((timings_.dial_timeout_ms + 999) / 1000) + " s d\xE9pass\xE9).");
      AbortDial();
      Report(kCallStateDisconnected, kDisconnectUnavail);
      return Outcome::kEnded;
    case ChatOutcome::Kind::kFailed:
      Warn("Le modem " + device_->path() + " ne r\xE9pond plus.");
      Report(kCallStateDisconnected, kDisconnectUnavail);
      return Outcome::kEnded;
    case ChatOutcome::Kind::kDone:
      break;
  }
  if (verdict.reply != ModemReply::kConnect) {
    const std::uint32_t mode = hayes::DisconnectModeOf(verdict.reply);
    Report(kCallStateDisconnected, mode != 0 ? mode : kDisconnectUnavail);
    return Outcome::kEnded;
  }

  device_->SetConnectRate(hayes::ConnectRate(verdict.line));
  // What came after the CONNECT line belongs to the data stream (the far end may
  // speak at once); the LF of a CR LF ending is the modem's.
  ReplyScanner& scanner = chat.scanner();
  if (scanner.AwaitingLineFeed()) {
    char more[256];
    int error = 0;
    const ssize_t got = device_->ReadSome(more, sizeof more, kLineFeedWaitMs, -1, &error);
    if (got > 0) scanner.Feed(std::string_view(more, static_cast<std::size_t>(got)));
  }
  device_->Unread(scanner.TakeRest());
  Report(kCallStateConnected);
  return Outcome::kConnected;
}

ModemCall::Outcome ModemCall::Serve() {
  int bits = 0;
  const bool has_lines = device_->GetLines(&bits);
  // Only a carrier seen once can be lost: a cable without DCD reads as low throughout.
  bool carrier_seen = has_lines && (bits & TIOCM_CAR) != 0;
  const int watch_ms =
      has_lines ? static_cast<int>(timings_.carrier_poll_ms) : kEventOnlyWatchMs;
  for (;;) {
    pollfd fds[3] = {{wake_fd_, POLLIN, 0},
                     {device_->hangup_event(), POLLIN, 0},
                     {device_->fd(), 0, 0}};
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
  // Any character stops a dialling modem.
  ModemChat chat(*device_, -1, nullptr);
  if (chat.Send("\r").kind != ChatOutcome::Kind::kDone) return;
  const ChatOutcome answer = chat.Await(timings_.reply_ms);
  if (answer.kind == ChatOutcome::Kind::kDone && answer.reply == ModemReply::kConnect) {
    HangUpOnline();
  }
}

void ModemCall::HangUpOnline() {
  if (device_->hung_up()) return;
  const Deadline deadline(HangUpBoundMs(timings_));
  if (device_->ChangeLines(TIOCM_DTR, false)) {
    Pause(timings_.dtr_drop_ms);
    device_->ChangeLines(TIOCM_DTR, true);
    int bits = 0;
    // A modem told to ignore DTR (AT&D0) still holds the carrier.
    if (!device_->GetLines(&bits) || (bits & TIOCM_CAR) == 0) return;
  }
  ModemChat chat(*device_, -1, nullptr);
  // The escape needs a guard time of silence before it; the line may be quiet already.
  device_->Drain(static_cast<int>(std::min(timings_.guard_ms, deadline.LeftMs())));
  const std::uint32_t silence = timings_.guard_ms + kGuardMarginMs;
  const std::uint32_t quiet = device_->QuietFor();
  if (quiet < silence) Pause(std::min(silence - quiet, deadline.LeftMs()));
  if (chat.Send("+++").kind != ChatOutcome::Kind::kDone) return;
  // The modem answers OK once the second silence has passed.
  chat.Await(std::min(timings_.guard_ms + timings_.reply_ms, deadline.LeftMs()));
  chat.Command("ATH", std::max(std::min(timings_.reply_ms, deadline.LeftMs()), kLastCommandMs));
}

void ModemCall::Report(std::uint32_t state, std::uint32_t mode) {
  state_ = state;
  if (reports_.state) reports_.state(state, mode);
}

void ModemCall::Warn(const std::string& text) {
  if (reports_.warn) reports_.warn(text);
}

}  // namespace korval::platform::posix
