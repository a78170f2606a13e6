#pragma once
#include <chrono>

#include "platform/clock.h"

namespace korval::platform::posix {

// Milliseconds of the monotonic clock, cut to 32 bits like the Windows tick count.
class PosixClock final : public Clock {
 public:
  std::uint32_t TickCount() override {
    const auto since_boot = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since_boot).count());
  }
};

}  // namespace korval::platform::posix
