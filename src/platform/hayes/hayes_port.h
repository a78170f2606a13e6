#pragma once
// What the Hayes dialler needs of a modem's port. Each back-end adapts its own port
// to it; every wait is bounded by the caller.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korval::platform::hayes {

class HayesPort {
 public:
  enum class Result { kDone, kTimeout, kStopped, kFailed };

  virtual ~HayesPort() = default;
  // Writes every byte of text.
  virtual Result Write(std::string_view text) = 0;
  // Appends the bytes that came to bytes, waiting until the clock's tick deadline at
  // most; kTimeout when none came by then, or after a slice of waiting.
  virtual Result Read(std::string& bytes, std::uint32_t deadline) = 0;
  // False when the port has no DTR line that it could move.
  virtual bool SetDtr(bool up) = 0;
  // Carrier detect; nothing when the port cannot tell.
  virtual std::optional<bool> Carrier() = 0;
  // Waits at most bound_ms for what was written to leave the port, then tells how
  // long the line has been quiet since our last byte (0 when the port cannot tell).
  virtual std::uint32_t DrainQuietMs(std::uint32_t bound_ms) = 0;
  // Waits ms, neither reading nor writing.
  virtual void Pause(std::uint32_t ms) = 0;
};

}  // namespace korval::platform::hayes
