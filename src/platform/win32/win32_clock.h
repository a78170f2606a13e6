#pragma once
#include <windows.h>

#include "platform/clock.h"

namespace korval::platform::win32 {

// The system's own tick count, the one every time limit is measured in.
class Win32Clock final : public Clock {
 public:
  std::uint32_t TickCount() override { return GetTickCount(); }
  void Sleep(std::uint32_t ms) override { ::Sleep(ms); }
};

}  // namespace korval::platform::win32
