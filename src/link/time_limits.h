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
// How long a whole statement may take, however it flows: a line that keeps sending
// (noise, a bank looping) must not run for ever nor fill the disk.
inline constexpr std::uint32_t kReceptionTotalDefaultS = 14400;
inline constexpr const char* kReceptionTotalKey = "DureeMaxReception";

// For PumpMessageWithin: the longest idle block after which a wait that started at
// start still sees its limit pass (now - start > limit_ms) on time; 0 once it has.
inline std::uint32_t WaitLeftMs(std::uint32_t start, std::uint32_t limit_ms, std::uint32_t now) {
  const std::uint32_t elapsed = now - start;
  return elapsed > limit_ms ? 0 : limit_ms - elapsed + 1;
}

// A limit in seconds from section KORVAL of win.ini, in milliseconds; the default
// when the key is absent or is not a positive whole number.
std::uint32_t ReadLimitMs(Process& process, const char* key, std::uint32_t default_s);
// Once per job: a limit of win.ini that is set but not a positive whole number is
// said, with the default that takes its place.
void CheckLimits(Process& process);

}  // namespace korval::link
