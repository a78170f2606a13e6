#pragma once
// The modem's port as the line provider uses it: opened overlapped (the application
// reads and writes its duplicate overlapped), every transfer bounded in time and
// cut short when the stop event is set.
//
// Threads: one call thread at a time transfers; Duplicate may run on any thread.

#include <windows.h>

#include <cstdint>
#include <string>

namespace korval::tapi_double {

class CommPort {
 public:
  // "COM1" as "\\.\COM1"; nothing when the port does not open.
  static HANDLE OpenOverlapped(const std::string& name);
  // 8 data bits, no parity, one stop bit at bps, DTR and RTS up, no flow control.
  static bool MakeModemSettings(HANDLE port, std::uint32_t bps);

  CommPort(HANDLE port, HANDLE stop) : port_(port), stop_(stop) {}

  enum class Result { kDone, kTimeout, kStopped, kFailed };
  Result Write(const std::string& text);
  // One byte, waiting wait_ms at most.
  Result ReadByte(char* byte, std::uint32_t wait_ms);
  // Reads that return as soon as a byte is there, or after a slice with none: the
  // application may have left its own time-outs on the port.
  bool UseReplyTimeouts();
  // False when the port has no DTR line (a pseudo-terminal under Wine).
  bool SetDtr(bool up);

 private:
  Result Finish(OVERLAPPED& overlapped, BOOL started, std::uint32_t wait_ms, DWORD* moved);

  HANDLE port_;
  HANDLE stop_;  // manual-reset; set when the call is to stop
};

// Waits ms, or less when stop is set; true when stop was set.
bool PauseUnlessStopped(HANDLE stop, std::uint32_t ms);

}  // namespace korval::tapi_double
