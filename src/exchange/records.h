#pragma once
// The records of the bank dialogue, as ANSI text before conversion.

#include <string>

namespace korval::exchange {

inline const std::string kEndRecord = "FF" + std::string(18, ' ');
inline const std::string kAcknowledgement = "OKF" + std::string(17, ' ');
inline constexpr std::size_t kAnswerRecordLength = 20;

}  // namespace korval::exchange
