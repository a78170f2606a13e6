#pragma once
// One outgoing data call on a modem, run by a thread of its own: the Hayes dialler's
// init command and its OK, ATD and the modem's verdict, then, on lineDrop, its
// hang-up. The port is read byte by byte up to the LF that ends the verdict, so every
// byte the far end sends after CONNECT stays in the port for the application.
//
// While the call is up the application owns the port: the thread waits for a drop
// and looks at the port now and then. A carrier that was seen and is gone, or a port
// that no longer answers, is the far end's hang-up: a pseudo-terminal under Wine has
// no DCD, but once its far side has closed every request on it fails.
//
// Threads: the owner calls Start, Drop and Close; the reports run on the call's thread
// (and Drop's on the caller's), and only post.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "comm_port.h"
#include "platform/hayes/hayes_dialer.h"
#include "platform/win32/win32_clock.h"
#include "provider_variant.h"

namespace korval::tapi_double {

using DialTimings = platform::hayes::DialTimings;

struct DialReports {
  std::function<void(std::int32_t request, std::int32_t result)> reply;  // LINE_REPLY
  std::function<void(std::uint32_t state, std::uint32_t mode)> state;    // LINE_CALLSTATE
  std::function<void()> line_close;                                      // LINE_CLOSE
};

class DialCall {
 public:
  DialCall(HANDLE port, std::string init, std::string dial, DialTimings timings,
           DialReports reports, ProviderVariant variant = {});
  ~DialCall();  // Close()
  DialCall(const DialCall&) = delete;
  DialCall& operator=(const DialCall&) = delete;

  // The thread starts and answers request with LINE_REPLY; false when it cannot.
  bool Start(std::int32_t request);
  // Hangs up: LINE_REPLY for request, DISCONNECTED (unless already said), then IDLE.
  void Drop(std::int32_t request);
  // Ends the thread within a bound, hanging up first when the call is still up;
  // reports nothing more.
  void Close();
  std::uint32_t state() const { return state_.load(); }
  bool finished() const { return finished_.load(); }

 private:
  enum class Outcome { kConnected, kEnded, kDropped, kClosed };

  static DWORD WINAPI ThreadMain(void* self);
  void Run();
  Outcome Place(CommPort& port);
  Outcome AwaitDrop();
  void ReportPortLost();
  bool CarrierLost(bool has_lines, bool* carrier_seen);
  void AbortDial(CommPort& port);
  void HangUpOnline(CommPort& port);
  void Report(std::uint32_t state, std::uint32_t mode = 0);
  Outcome Interruption() const { return close_.load() ? Outcome::kClosed : Outcome::kDropped; }

  const HANDLE port_;  // the line's; not owned
  const std::string init_;
  const std::string dial_;
  const DialTimings timings_;
  const DialReports reports_;
  const ProviderVariant variant_;
  platform::win32::Win32Clock clock_;
  const HANDLE stop_;        // manual-reset: Drop or Close asks the thread to stop
  const HANDLE no_stop_;     // never set: the hang-up runs to its end, within its bounds
  HANDLE thread_ = nullptr;  // written by Start and Close, on the owner's thread

  std::int32_t make_request_ = 0;              // written by Start before the thread runs
  std::atomic<std::int32_t> drop_request_{0};  // written by Drop before stop_ is set
  std::atomic<std::uint32_t> state_{0};
  std::atomic<bool> close_{false};
  std::atomic<bool> finished_{true};  // written under mutex_ once the thread runs
  std::mutex mutex_;
  bool drop_asked_ = false;  // guarded by mutex_
};

}  // namespace korval::tapi_double
