#pragma once
#include <chrono>
#include <thread>

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
  void Sleep(std::uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

}  // namespace korval::platform::posix
