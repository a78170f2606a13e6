#include "platform/hayes/modem_hangup_text.h"

#include <algorithm>

namespace korval::platform::hayes {
namespace {

// Length of the longest end of bytes that begins kText (a whole kText is found first).
std::size_t PossibleStart(std::string_view bytes) {
  const std::string_view text = ModemHangUpText::kText;
  for (std::size_t length = std::min(bytes.size(), text.size() - 1); length > 0; --length) {
    if (bytes.substr(bytes.size() - length) == text.substr(0, length)) return length;
  }
  return 0;
}

}  // namespace

ModemHangUpText::Result ModemHangUpText::Feed(std::string_view bytes, std::int64_t now_ms,
                                              bool carrier_up) {
  Result result;
  if (carrier_up && !bytes.empty()) {
    result.data = std::move(held_);
    held_.clear();
    result.data.append(bytes);
    return result;
  }
  if (bytes.empty()) {
    if (!held_.empty() && now_ms - held_since_ms_ >= hold_ms_) result.data.swap(held_);
    return result;
  }
  std::string joined = std::move(held_);
  held_.clear();
  joined.append(bytes);
  const std::size_t found = joined.find(kText);
  if (found != std::string::npos) {
    // Nothing after it is the far end's: the modem is back in command mode.
    joined.resize(found);
    result.data = std::move(joined);
    result.hung_up = true;
    return result;
  }
  const std::size_t keep = PossibleStart(joined);
  if (keep > 0) {
    held_.assign(joined, joined.size() - keep, keep);
    held_since_ms_ = now_ms;
    joined.resize(joined.size() - keep);
  }
  result.data = std::move(joined);
  return result;
}

std::string ModemHangUpText::Finish() {
  constexpr std::string_view kWords = kText.substr(0, kText.size() - 2);
  std::string rest;
  rest.swap(held_);
  if (rest.starts_with(kWords)) rest.clear();
  return rest;
}

std::uint32_t HangUpTextHoldMs(std::uint32_t bits_per_second) {
  constexpr std::uint32_t kMarginMs = 20;
  constexpr std::uint32_t kBitsPerCharacter = 10;
  const std::uint32_t rate = bits_per_second != 0 ? bits_per_second : 9600;
  const auto text_bits =
      static_cast<std::uint32_t>(ModemHangUpText::kText.size()) * kBitsPerCharacter;
  // Twice the text's own time: a modem may pause between its lines.
  return 2 * (text_bits * 1000 + rate - 1) / rate + kMarginMs;
}

}  // namespace korval::platform::hayes
