#pragma once
#include <cstdint>

namespace korval::platform {

// The system's millisecond tick count. Every time limit is measured with it, by
// unsigned differences, so a wrap-around of the counter is harmless.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t TickCount() = 0;
  // The calling thread waits ms on this clock's time, so that a simulated clock
  // covers the pauses of every thread.
  virtual void Sleep(std::uint32_t ms) = 0;
};

}  // namespace korval::platform
