#include "platform/hayes/hayes_text.h"

#include <cctype>

#include "platform/telephony_records.h"

namespace korval::platform::hayes {
namespace {

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

}  // namespace korval::platform::hayes
