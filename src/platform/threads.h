#pragma once
#include <cstdint>
#include <functional>
#include <memory>

namespace korval::platform {

class Thread {
 public:
  virtual ~Thread() = default;  // releases the handle; never cuts the thread off
  // Waits at most timeout_ms for the thread to end; true once it has ended.
  virtual bool WaitForExit(std::uint32_t timeout_ms) = 0;
  virtual bool IsRunning() = 0;
  virtual std::uint32_t ExitCode() = 0;  // meaningful once the thread has ended
};

class Threads {
 public:
  virtual ~Threads() = default;
  // Starts body on a new thread at once; null when the thread cannot be created.
  virtual std::unique_ptr<Thread> Start(std::function<std::uint32_t()> body) = 0;
};

}  // namespace korval::platform
