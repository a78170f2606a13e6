#pragma once
// Small value types shared by every platform interface.

#include <cstdint>

namespace korval::platform {

// Opaque handles, in the style of the Windows API: plain integers, so that state
// shared with the read thread can be held in a std::atomic.
using WindowHandle = std::uintptr_t;
using InstanceHandle = std::uintptr_t;
using PortHandle = std::uintptr_t;

inline constexpr WindowHandle kNoWindow = 0;
inline constexpr PortHandle kNoPort = 0;

}  // namespace korval::platform
