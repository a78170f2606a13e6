#pragma once
// One outgoing data call on a modem, run by a thread of its own: initialisation,
// dialling, the modem's verdict, watching the carrier while the call is up, and
// hanging up. It reports through callbacks that may run on any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/hayes/hayes_dialer.h"
#include "platform/posix/modem_device.h"
#include "platform/posix/posix_clock.h"

namespace korval::platform::posix {

struct ModemTimings : hayes::DialTimings {
  // How often the carrier detect line is looked at, on a port that has one: its fall
  // wakes no poll (the port is opened with CLOCAL), and TIOCMIWAIT cannot wait
  // together with the stop event. A hang-up the port or the modem reports ends the
  // wait at once, with or without the line.
  std::uint32_t carrier_poll_ms = 1000;
};

struct CallReports {
  std::function<void()> accepted;                                      // the request is taken
  std::function<void(std::uint32_t state, std::uint32_t mode)> state;  // a new call state
  std::function<void(const std::string& text)> warn;                   // for the operator
};

class ModemCall {
 public:
  ModemCall(std::shared_ptr<ModemDevice> device, std::string init, std::string dial,
            ModemTimings timings, CallReports reports);
  ~ModemCall();  // Close()
  ModemCall(const ModemCall&) = delete;
  ModemCall& operator=(const ModemCall&) = delete;

  // Starts the thread; false when it cannot be created.
  bool Start();
  // Hangs up: DISCONNECTED (unless already reported) and IDLE follow. On a call that
  // is already idle, nothing happens.
  void Drop();
  // Ends the thread, hanging up first when the call is still up; reports nothing more.
  void Close();
  // The last state reported; 0 before the first.
  std::uint32_t state() const { return state_.load(); }
  // The thread has ended (or never ran); the call is disconnected or idle.
  bool finished() const;

 private:
  enum class Outcome { kConnected, kEnded, kDropped, kClosed };

  void Run();
  Outcome Place();
  Outcome Serve();
  void AbortDial();
  void HangUpOnline();
  void Report(std::uint32_t state, std::uint32_t mode = 0);
  void Warn(const std::string& text);
  bool Stopping() const { return drop_.load() || close_.load(); }

  const std::shared_ptr<ModemDevice> device_;
  const std::string init_;
  const std::string dial_;
  const ModemTimings timings_;
  PosixClock clock_;
  const CallReports reports_;
  const int wake_fd_;  // readable once Drop or Close asks the thread to stop
  const int done_fd_;  // readable once the thread has ended

  std::atomic<std::uint32_t> state_{0};
  std::atomic<bool> drop_{false};
  std::atomic<bool> close_{false};
  mutable std::mutex mutex_;
  bool finished_ = true;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace korval::platform::posix
