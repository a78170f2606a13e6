#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace korval::platform {

// Debugger output and the few notes meant for whoever runs the batch.
class Diagnostics {
 public:
  virtual ~Diagnostics() = default;
  // OutputDebugStringA: seen only by a debugger (or, on Linux, with KORVAL_DEBUG set).
  virtual void DebugOutput(const std::string& text) = 0;
  // A problem the calling application's operator must see (standard error on Linux).
  virtual void Warn(const std::string& text) = 0;
};

// GetVersionExA's platform identifier: 1 for Windows 95/98, 2 for the NT family.
inline constexpr std::uint32_t kPlatformWin32Windows = 1;
inline constexpr std::uint32_t kPlatformWin32Nt = 2;

class VersionQuery {
 public:
  virtual ~VersionQuery() = default;
  // Nothing when the query fails.
  virtual std::optional<std::uint32_t> PlatformId() = 0;
  // The system actually run, where it is not the one the platform id names ("Linux
  // 6.1.0"); nothing on Windows.
  virtual std::optional<std::string> SystemName() { return std::nullopt; }
};

}  // namespace korval::platform
