#pragma once
#include <cstdint>

namespace korval::platform {

// The system's millisecond tick count. Every time limit is measured with it, by
// unsigned differences, so a wrap-around of the counter is harmless.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t TickCount() = 0;
};

}  // namespace korval::platform
