#include "platform/posix/modem_chat.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>

#include "platform/telephony_records.h"

namespace korval::platform::posix {
namespace {

// A slice of a reply wait: how long one read may wait before the deadline and the
// interruption are looked at again.
constexpr std::uint32_t kSliceMs = 250;

std::string Upper(std::string_view line) {
  std::string text;
  for (const char c : line) text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool StartsWord(const std::string& text, std::string_view word) {
  if (text.compare(0, word.size(), word) != 0) return false;
  return text.size() == word.size() || text[word.size()] == ' ' || text[word.size()] == '/';
}

}  // namespace

ModemReply ClassifyReply(std::string_view line) {
  const std::string text = Upper(line);
  struct Entry {
    std::string_view word;
    ModemReply reply;
  };
  static constexpr Entry kExact[] = {
      {"OK", ModemReply::kOk},
      {"RING", ModemReply::kRing},
      {"NO CARRIER", ModemReply::kNoCarrier},
      {"ERROR", ModemReply::kError},
      {"NO DIALTONE", ModemReply::kNoDialtone},
      {"NO DIAL TONE", ModemReply::kNoDialtone},
      {"BUSY", ModemReply::kBusy},
      {"NO ANSWER", ModemReply::kNoAnswer},
      {"DELAYED", ModemReply::kDelayed},
      {"BLACKLISTED", ModemReply::kDelayed},
  };
  for (const Entry& entry : kExact) {
    if (text == entry.word) return entry.reply;
  }
  // "CONNECT", "CONNECT 9600", "CONNECT 2400/REL"; not "CONNECTED" or an echo.
  if (StartsWord(text, "CONNECT")) return ModemReply::kConnect;
  return ModemReply::kNone;
}

std::uint32_t ConnectRate(std::string_view line) {
  const std::string text = Upper(line);
  if (!StartsWord(text, "CONNECT")) return 0;
  std::size_t at = text.find_first_not_of(' ', 7);
  std::uint64_t rate = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) &&
         rate < 0xFFFFFFFFu / 10) {
    rate = rate * 10 + static_cast<std::uint64_t>(text[at++] - '0');
  }
  return static_cast<std::uint32_t>(rate);
}

std::uint32_t DisconnectModeOf(ModemReply reply) {
  switch (reply) {
    case ModemReply::kBusy: return kDisconnectBusy;
    case ModemReply::kNoAnswer: return kDisconnectNoAnswer;
    case ModemReply::kNoDialtone: return kDisconnectNoDialtone;
    case ModemReply::kError: return kDisconnectBadAddress;
    case ModemReply::kNoCarrier:
    case ModemReply::kDelayed: return kDisconnectUnavail;
    default: return 0;
  }
}

std::optional<std::string> ReplyScanner::NextLine() {
  for (;;) {
    if (last_cr_ && !pending_.empty() && pending_.front() == '\n') pending_.erase(0, 1);
    const std::size_t end = pending_.find_first_of("\r\n");
    if (end == std::string::npos) return std::nullopt;
    std::string line = pending_.substr(0, end);
    last_cr_ = pending_[end] == '\r';
    pending_.erase(0, end + 1);
    if (!line.empty()) return line;
  }
}

std::string ReplyScanner::TakeRest() {
  if (last_cr_ && !pending_.empty() && pending_.front() == '\n') pending_.erase(0, 1);
  if (!pending_.empty()) last_cr_ = false;
  std::string rest;
  rest.swap(pending_);
  return rest;
}

void ReplyScanner::Clear() {
  pending_.clear();
  last_cr_ = false;
}

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
      const ModemReply reply = ClassifyReply(*line);
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
