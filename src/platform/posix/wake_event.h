#pragma once
// An event one thread (or a signal handler) raises and another's poll() waits for.
// A raise stays until Drain takes it, so one given before the wait began is not lost.

namespace korval::platform::posix {

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // For poll(): readable while raised. -1 when the system had no descriptor left.
  int fd() const { return fd_; }
  // Async-signal-safe; keeps errno.
  void Raise() const;
  // Takes every raise given so far.
  void Drain() const;

 private:
  const int fd_;
};

}  // namespace korval::platform::posix
