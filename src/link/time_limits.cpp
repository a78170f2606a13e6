#include "link/time_limits.h"

#include <charconv>
#include <optional>
#include <string>

#include "process/process.h"

namespace korval::link {
namespace {
// Beyond a day a limit is no limit; and the milliseconds must fit the tick count.
constexpr std::uint32_t kLimitMaxS = 24 * 3600;

std::optional<std::uint32_t> PositiveSeconds(const std::string& value) {
  std::uint32_t seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (error != std::errc() || end != value.data() + value.size() || seconds == 0) {
    return std::nullopt;
  }
  return seconds;
}

std::string ReadLimitText(Process& process, const char* key) {
  return process.os.profiles.ReadSystem("KORVAL", key, 16);
}

}  // namespace

std::uint32_t ReadLimitMs(Process& process, const char* key, std::uint32_t default_s) {
  std::uint32_t seconds = PositiveSeconds(ReadLimitText(process, key)).value_or(default_s);
  if (seconds > kLimitMaxS) seconds = kLimitMaxS;
  return seconds * 1000;
}

void CheckLimits(Process& process) {
  const struct {
    const char* key;
    std::uint32_t default_s;
  } limits[] = {{kReplyWaitKey, kReplyWaitDefaultS},
                {kAcknowledgementWaitKey, kAcknowledgementWaitDefaultS},
                {kReceptionQuietKey, kReceptionQuietDefaultS},
                {kReceptionTotalKey, kReceptionTotalDefaultS}};
  for (const auto& limit : limits) {
    const std::string value = ReadLimitText(process, limit.key);
    if (value.empty() || PositiveSeconds(value)) continue;
    process.os.diagnostics.Warn(std::string("KORVAL : ") + limit.key + " \xAB " + value +
                                " \xBB n'est pas un nombre de secondes positif, " +
                                std::to_string(limit.default_s) + " s retenus.");
  }
}

}  // namespace korval::link
