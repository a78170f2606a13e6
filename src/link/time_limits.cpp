#include "link/time_limits.h"

#include <charconv>
#include <string>

#include "process/process.h"

namespace korval::link {
namespace {
// Beyond a day a limit is no limit; and the milliseconds must fit the tick count.
constexpr std::uint32_t kLimitMaxS = 24 * 3600;
}  // namespace

std::uint32_t ReadLimitMs(Process& process, const char* key, std::uint32_t default_s) {
  const std::string value = process.os.profiles.ReadSystem("KORVAL", key, 16);
  std::uint32_t seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (error != std::errc() || end != value.data() + value.size() || seconds == 0) {
    seconds = default_s;
  }
  if (seconds > kLimitMaxS) seconds = kLimitMaxS;
  return seconds * 1000;
}

}  // namespace korval::link
