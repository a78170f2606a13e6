#include "platform/posix/modem_chat.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <optional>

namespace korval::platform::posix {
namespace {

// A slice of a reply wait: how long one read may wait before the deadline and the
// interruption are looked at again.
constexpr std::uint32_t kSliceMs = 250;

}  // namespace

ModemChat::ModemChat(ModemDevice& device, int wake_fd, std::function<bool()> interrupted)
    : device_(device), wake_fd_(wake_fd), interrupted_(std::move(interrupted)) {}

ChatOutcome ModemChat::Send(std::string_view text) {
  ChatOutcome outcome;
  std::size_t written = 0;
  if (device_.WriteAll(text.data(), text.size(), &written, static_cast<int>(kSliceMs * 8),
                       wake_fd_, &outcome.error)) {
    outcome.kind = ChatOutcome::Kind::kDone;
  } else if (outcome.error == ECANCELED && Interrupted()) {
    outcome.kind = ChatOutcome::Kind::kInterrupted;
  }
  return outcome;
}

ChatOutcome ModemChat::Await(std::uint32_t timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  ChatOutcome outcome;
  char buffer[256];
  for (;;) {
    while (std::optional<std::string> line = scanner_.NextLine()) {
      const ModemReply reply = hayes::ClassifyReply(*line);
      if (reply == ModemReply::kNone || reply == ModemReply::kRing) continue;
      outcome.kind = ChatOutcome::Kind::kDone;
      outcome.reply = reply;
      outcome.line = std::move(*line);
      return outcome;
    }
    if (Interrupted()) {
      outcome.kind = ChatOutcome::Kind::kInterrupted;
      return outcome;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      outcome.kind = ChatOutcome::Kind::kTimeout;
      return outcome;
    }
    const int wait = static_cast<int>(std::min<long long>(left, kSliceMs));
    const ssize_t got = device_.ReadSome(buffer, sizeof buffer, wait, wake_fd_, &outcome.error);
    if (got < 0) {
      outcome.kind = ChatOutcome::Kind::kFailed;
      return outcome;
    }
    scanner_.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
  }
}

ChatOutcome ModemChat::Command(std::string_view command, std::uint32_t timeout_ms) {
  ChatOutcome sent = Send(std::string(command) + "\r");
  if (sent.kind != ChatOutcome::Kind::kDone) return sent;
  return Await(timeout_ms);
}

}  // namespace korval::platform::posix
