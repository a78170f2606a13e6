#pragma once
// PortHandle and PortOpen as one atomic word, so that "close the port only while it
// is open, then mark it closed" is one exchange and two threads can never both close
// the same handle, nor close a handle that has just replaced the one they saw.

#include <atomic>
#include <cstdint>
#include <optional>

#include "platform/types.h"

namespace korval::line {

class PortSlot {
 public:
  platform::PortHandle handle() const {
    return static_cast<platform::PortHandle>(word_.load() & kHandleMask);
  }
  bool open() const { return (word_.load() & kOpenBit) != 0; }

  // Clears PortOpen; the handle it held, when it was open, for its caller to close.
  std::optional<platform::PortHandle> TakeOpen() {
    const std::uint64_t old = word_.fetch_and(kHandleMask);
    if ((old & kOpenBit) == 0) return std::nullopt;
    return static_cast<platform::PortHandle>(old & kHandleMask);
  }
  // Stores a fresh open handle; the one it replaces, when that one was still open.
  std::optional<platform::PortHandle> Replace(platform::PortHandle handle) {
    const std::uint64_t old = word_.exchange((handle & kHandleMask) | kOpenBit);
    if ((old & kOpenBit) == 0) return std::nullopt;
    return static_cast<platform::PortHandle>(old & kHandleMask);
  }

 private:
  static constexpr std::uint64_t kHandleMask = 0xFFFFFFFFull;
  static constexpr std::uint64_t kOpenBit = 1ull << 32;
  std::atomic<std::uint64_t> word_{0};
};

}  // namespace korval::line
