#pragma once
#include <cstdint>

namespace korval {
struct Process;
}

namespace korval::link {

// How long an expected answer is awaited while the call stays up.
inline constexpr std::uint32_t kReplyWaitDefaultS = 120;
inline constexpr const char* kReplyWaitKey = "DelaiReponse";
// How long the bank may take to acknowledge a whole file: checking a large one takes
// longer than an answer.
inline constexpr std::uint32_t kAcknowledgementWaitDefaultS = 900;
inline constexpr const char* kAcknowledgementWaitKey = "DelaiAcquittement";
// How long a statement may stay silent before it counts as cut off.
inline constexpr std::uint32_t kReceptionQuietDefaultS = 300;
inline constexpr const char* kReceptionQuietKey = "DelaiReception";

// A limit in seconds from section KORVAL of win.ini, in milliseconds; the default
// when the key is absent or is not a positive whole number.
std::uint32_t ReadLimitMs(Process& process, const char* key, std::uint32_t default_s);

}  // namespace korval::link
