#include "platform/hayes/hayes_dialer.h"

#include <algorithm>
#include <optional>

namespace korval::platform::hayes {
namespace {

using Result = HayesPort::Result;

// How long the LF that completes "CONNECT ...\r" may take to come.
constexpr std::uint32_t kLineFeedWaitMs = 20;

// The modem counts its guard time from when the last byte reached it, which is
// later than when the write returned (adapter buffers, the UART's FIFO).
constexpr std::uint32_t kGuardMarginMs = 250;

// What the modem gets to answer the escape and ATH within the hang-up's bound.
constexpr std::uint32_t kHangUpAnswerMs = 500;

}  // namespace

std::uint32_t HayesDialer::HangUpBoundMs(const DialTimings& timings) {
  return timings.dtr_drop_ms + 2 * timings.guard_ms + kGuardMarginMs + kHangUpAnswerMs;
}

std::uint32_t HayesDialer::LeftMs(std::uint32_t deadline) {
  // A signed difference: the tick count may wrap around inside a wait.
  const auto left = static_cast<std::int32_t>(deadline - clock_.TickCount());
  return left > 0 ? static_cast<std::uint32_t>(left) : 0;
}

ModemAnswer HayesDialer::Await(std::uint32_t timeout_ms) {
  const std::uint32_t deadline = clock_.TickCount() + timeout_ms;
  ModemAnswer answer;
  std::string bytes;
  for (;;) {
    while (std::optional<std::string> line = scanner_.NextLine()) {
      const ModemReply reply = ClassifyReply(*line);
      if (reply == ModemReply::kNone || reply == ModemReply::kRing) continue;
      answer.result = Result::kDone;
      answer.reply = reply;
      answer.line = std::move(*line);
      return answer;
    }
    if (LeftMs(deadline) == 0) {
      answer.result = Result::kTimeout;
      return answer;
    }
    bytes.clear();
    const Result read = port_.Read(bytes, deadline);
    scanner_.Feed(bytes);
    if (read == Result::kStopped || read == Result::kFailed) {
      answer.result = read;
      return answer;
    }
  }
}

ModemAnswer HayesDialer::Command(std::string_view command, std::uint32_t timeout_ms) {
  std::string text(command);
  text += '\r';
  const Result sent = Send(text);
  if (sent != Result::kDone) {
    ModemAnswer answer;
    answer.result = sent == Result::kTimeout ? Result::kFailed : sent;
    return answer;
  }
  return Await(timeout_ms);
}

Result HayesDialer::Dial(std::string_view number) {
  scanner_.Clear();
  std::string command = "ATD";
  command.append(number);
  command += '\r';
  return Send(command);
}

ModemAnswer HayesDialer::AwaitVerdict() {
  ModemAnswer verdict = Await(timings_.dial_timeout_ms);
  if (verdict.reply != ModemReply::kConnect || !scanner_.AwaitingLineFeed()) return verdict;
  // The LF of a CR LF ending is the modem's, not the far end's first byte.
  std::string more;
  port_.Read(more, clock_.TickCount() + kLineFeedWaitMs);
  scanner_.Feed(more);
  return verdict;
}

void HayesDialer::AbortDial() {
  if (Send("\r") != Result::kDone) return;
  const ModemAnswer answer = Await(timings_.reply_ms);
  if (answer.result == Result::kDone && answer.reply == ModemReply::kConnect) HangUp();
}

void HayesDialer::HangUp() {
  const std::uint32_t deadline = clock_.TickCount() + HangUpBoundMs(timings_);
  if (port_.SetDtr(false)) {
    port_.Pause(timings_.dtr_drop_ms);
    port_.SetDtr(true);
    // A modem told to ignore DTR (AT&D0) still holds the carrier.
    const std::optional<bool> carrier = port_.Carrier();
    if (!carrier || !*carrier) return;
  }
  // The escape needs a guard time of silence before it; the line may be quiet already.
  const std::uint32_t quiet = port_.DrainQuietMs(std::min(timings_.guard_ms, LeftMs(deadline)));
  const std::uint32_t silence = timings_.guard_ms + kGuardMarginMs;
  if (quiet < silence) port_.Pause(std::min(silence - quiet, LeftMs(deadline)));
  if (Send("+++") != Result::kDone) return;
  // The modem answers OK once the second silence has passed.
  Await(std::min(timings_.guard_ms + timings_.reply_ms, LeftMs(deadline)));
  // ATH goes even when the time is up: a modem still online takes it as data, harmless.
  Command("ATH", std::max(std::min(timings_.reply_ms, LeftMs(deadline)), kLastCommandMs));
}

}  // namespace korval::platform::hayes
