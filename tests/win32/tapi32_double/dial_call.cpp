#include "dial_call.h"

#include <optional>
#include <string_view>

#include "platform/hayes/hayes_port.h"
#include "platform/telephony_records.h"

namespace korval::tapi_double {
namespace {

namespace hayes = platform::hayes;
using hayes::HayesDialer;
using hayes::ModemAnswer;
using DialResult = hayes::HayesPort::Result;

// How often the thread of a call that is up looks at the port; a drop's stop event
// wakes it at once. The system's telephony service runs in a process of its own,
// but this thread is the program's: each look costs it a few Wine server round trips.
constexpr std::uint32_t kCarrierCheckMs = 2000;

// The port as the dialler sees it: one byte per read, so that nothing the far end
// sends after the verdict leaves the port, which the application reads itself.
class DialPort final : public hayes::HayesPort {
 public:
  DialPort(CommPort& port, HANDLE handle, HANDLE stop, platform::Clock& clock)
      : port_(port), handle_(handle), stop_(stop), clock_(clock) {}

  HayesPort::Result Write(std::string_view text) override {
    return Of(port_.Write(std::string(text)));
  }

  HayesPort::Result Read(std::string& bytes, std::uint32_t deadline) override {
    const auto left = static_cast<std::int32_t>(deadline - clock_.TickCount());
    char byte = 0;
    const CommPort::Result read =
        port_.ReadByte(&byte, left > 0 ? static_cast<std::uint32_t>(left) : 0);
    if (read == CommPort::Result::kDone) bytes += byte;
    return Of(read);
  }

  bool SetDtr(bool up) override { return port_.SetDtr(up); }

  std::optional<bool> Carrier() override {
    DWORD status = 0;
    if (!GetCommModemStatus(handle_, &status)) return std::nullopt;
    return (status & MS_RLSD_ON) != 0;
  }

  // The application writes through a handle of its own: how long the line has been
  // quiet is unknown, so the whole guard time is waited.
  std::uint32_t DrainQuietMs(std::uint32_t) override { return 0; }

  void Pause(std::uint32_t ms) override { PauseUnlessStopped(stop_, ms); }

 private:
  static HayesPort::Result Of(CommPort::Result result) {
    switch (result) {
      case CommPort::Result::kDone: return HayesPort::Result::kDone;
      case CommPort::Result::kTimeout: return HayesPort::Result::kTimeout;
      case CommPort::Result::kStopped: return HayesPort::Result::kStopped;
      case CommPort::Result::kFailed: break;
    }
    return HayesPort::Result::kFailed;
  }

  CommPort& port_;
  HANDLE handle_;
  HANDLE stop_;
  platform::Clock& clock_;
};

}  // namespace

DialCall::DialCall(HANDLE port, std::string init, std::string dial, DialTimings timings,
                   DialReports reports, ProviderVariant variant)
    : port_(port),
      init_(std::move(init)),
      dial_(std::move(dial)),
      timings_(timings),
      reports_(std::move(reports)),
      variant_(variant),
      stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      no_stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

DialCall::~DialCall() {
  Close();
  if (stop_) CloseHandle(stop_);
  if (no_stop_) CloseHandle(no_stop_);
}

bool DialCall::Start(std::int32_t request) {
  if (stop_ == nullptr || no_stop_ == nullptr || thread_ != nullptr) return false;
  make_request_ = request;
  finished_ = false;
  thread_ = CreateThread(nullptr, 0, &DialCall::ThreadMain, this, 0, nullptr);
  if (thread_ == nullptr) finished_ = true;
  return thread_ != nullptr;
}

void DialCall::Drop(std::int32_t request) {
  {
    std::lock_guard lock(mutex_);
    if (!finished_.load()) {
      drop_request_ = request;
      drop_asked_ = true;
      SetEvent(stop_);
      return;
    }
  }
  // The thread has ended on a failed call: only the release is left.
  if (reports_.reply) reports_.reply(request, 0);
  Report(platform::kCallStateIdle);
}

void DialCall::Close() {
  if (thread_ == nullptr) return;
  close_ = true;
  SetEvent(stop_);
  // Every wait of the thread is bounded; this is the sum of the longest hang-up.
  const DWORD bound = 2 * timings_.guard_ms + 3 * timings_.reply_ms + timings_.dtr_drop_ms + 5500;
  if (WaitForSingleObject(thread_, bound) != WAIT_OBJECT_0) {
    // A thread that outlives every bound of its own is left running rather than
    // freed under it.
    TerminateThread(thread_, 1);
  }
  CloseHandle(thread_);
  thread_ = nullptr;
}

DWORD WINAPI DialCall::ThreadMain(void* self) {
  static_cast<DialCall*>(self)->Run();
  return 0;
}

void DialCall::Run() {
  if (variant_.reply_error != 0) {
    // The request fails after lineMakeCall accepted it: no call ever existed.
    if (reports_.reply)
      reports_.reply(make_request_, static_cast<std::int32_t>(variant_.reply_error));
    std::lock_guard lock(mutex_);
    finished_ = true;
    return;
  }
  if (reports_.reply && !variant_.states_before_reply) reports_.reply(make_request_, 0);
  CommPort port(port_, stop_);
  bool online = false;
  Outcome outcome = Place(port);
  if (reports_.reply && variant_.states_before_reply) reports_.reply(make_request_, 0);
  if (outcome == Outcome::kConnected) {
    online = true;
    outcome = AwaitDrop();
  }
  if (outcome == Outcome::kDropped || outcome == Outcome::kClosed) {
    CommPort quiet(port_, no_stop_);
    quiet.UseReplyTimeouts();
    if (online) {
      HangUpOnline(quiet);
    } else if (state_.load() == platform::kCallStateDialing) {
      AbortDial(quiet);
    }
    if (outcome == Outcome::kDropped) {
      if (reports_.reply) reports_.reply(drop_request_.load(), 0);
      if (state_.load() != platform::kCallStateDisconnected) {
        Report(platform::kCallStateDisconnected, platform::kDisconnectNormal);
      }
      Report(platform::kCallStateIdle);
    }
  }
  bool idle_owed = false;
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
    // A drop asked while the call was failing by itself found the thread still there.
    idle_owed = outcome == Outcome::kEnded && drop_asked_ && !close_.load();
  }
  if (idle_owed) {
    if (reports_.reply) reports_.reply(drop_request_.load(), 0);
    Report(platform::kCallStateIdle);
  }
}

DialCall::Outcome DialCall::Place(CommPort& port) {
  PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
  if (!port.UseReplyTimeouts()) {
    Report(platform::kCallStateDisconnected, platform::kDisconnectUnavail);
    return Outcome::kEnded;
  }
  DialPort dial_port(port, port_, stop_, clock_);
  HayesDialer dialer(dial_port, clock_, timings_);
  if (!init_.empty()) {
    const ModemAnswer answer = dialer.Initialise(init_);
    if (answer.result == DialResult::kStopped) return Interruption();
    if (answer.result != DialResult::kDone || answer.reply != hayes::ModemReply::kOk) {
      Report(platform::kCallStateDisconnected, platform::kDisconnectUnavail);
      return Outcome::kEnded;
    }
  }
  const DialResult sent = dialer.Dial(dial_);
  if (sent == DialResult::kStopped) return Interruption();
  if (sent != DialResult::kDone) {
    Report(platform::kCallStateDisconnected, platform::kDisconnectUnavail);
    return Outcome::kEnded;
  }
  if (!variant_.connected_only) {
    Report(platform::kCallStateDialing);
    if (variant_.states_before_reply) Report(platform::kCallStateProceeding);
  }

  const ModemAnswer verdict = dialer.AwaitVerdict();
  if (verdict.result == DialResult::kStopped) return Interruption();
  if (verdict.result == DialResult::kTimeout) {
    // The modem is still dialling: any character stops it.
    CommPort quiet(port_, no_stop_);
    AbortDial(quiet);
    // What the modem itself says when its own wait (S7) runs out: NO CARRIER.
    Report(platform::kCallStateDisconnected,
           hayes::DisconnectModeOf(hayes::ModemReply::kNoCarrier));
    return Outcome::kEnded;
  }
  const hayes::ModemReply reply =
      verdict.result == DialResult::kDone ? verdict.reply : hayes::ModemReply::kNone;
  if (reply != hayes::ModemReply::kConnect) {
    const std::uint32_t mode = hayes::DisconnectModeOf(reply);
    Report(platform::kCallStateDisconnected, mode != 0 ? mode : platform::kDisconnectUnavail);
    return Outcome::kEnded;
  }
  Report(platform::kCallStateConnected);
  return Outcome::kConnected;
}

DialCall::Outcome DialCall::AwaitDrop() {
  DWORD status = 0;
  const bool has_lines = GetCommModemStatus(port_, &status) != 0;
  // Only a carrier seen once can be lost: a cable without DCD reads as low throughout.
  bool carrier_seen = has_lines && (status & MS_RLSD_ON) != 0;
  const bool watched = variant_.port_loss != PortLoss::kUnwatched;
  while (WaitForSingleObject(stop_, kCarrierCheckMs) != WAIT_OBJECT_0) {
    if (watched && CarrierLost(has_lines, &carrier_seen)) {
      ReportPortLost();
      return Outcome::kEnded;
    }
  }
  return Interruption();
}

void DialCall::ReportPortLost() {
  if (variant_.port_loss == PortLoss::kLineClose && reports_.line_close) {
    state_ = platform::kCallStateDisconnected;
    reports_.line_close();
    return;
  }
  Report(platform::kCallStateDisconnected, variant_.lost_mode);
}

bool DialCall::CarrierLost(bool has_lines, bool* carrier_seen) {
  DCB settings{};
  settings.DCBlength = sizeof settings;
  if (!GetCommState(port_, &settings)) return true;
  DWORD status = 0;
  if (!has_lines || !GetCommModemStatus(port_, &status)) return false;
  const bool carrier = (status & MS_RLSD_ON) != 0;
  const bool lost = *carrier_seen && !carrier;
  *carrier_seen = *carrier_seen || carrier;
  return lost;
}

void DialCall::AbortDial(CommPort& port) {
  DialPort dial_port(port, port_, no_stop_, clock_);
  HayesDialer(dial_port, clock_, timings_).AbortDial();
}

void DialCall::HangUpOnline(CommPort& port) {
  // DTR low hangs up a modem that follows DTR (AT&D2); the escape and ATH one that
  // does not, and a pseudo-terminal, which has no DTR for the far end to see.
  DialPort dial_port(port, port_, no_stop_, clock_);
  HayesDialer(dial_port, clock_, timings_).HangUp();
}

void DialCall::Report(std::uint32_t state, std::uint32_t mode) {
  state_ = state;
  if (reports_.state) reports_.state(state, mode);
}

}  // namespace korval::tapi_double
