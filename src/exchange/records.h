#pragma once
// The records of the bank dialogue, as ANSI text before conversion.

#include <string>

namespace korval::exchange {

inline const std::string kEndRecord = "FF" + std::string(18, ' ');
inline const std::string kAcknowledgement = "OKF" + std::string(17, ' ');
inline constexpr std::size_t kAnswerRecordLength = 20;

// The first acceptance word "OK " in text; the "OK " inside a refusal "NOK " (a
// first code that begins with a blank) is not one.
inline std::size_t FindAcceptance(const std::string& text) {
  for (std::size_t at = text.find("OK "); at != std::string::npos; at = text.find("OK ", at + 1)) {
    if (at == 0 || text[at - 1] != 'N') return at;
  }
  return std::string::npos;
}

}  // namespace korval::exchange
