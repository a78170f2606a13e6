#include "comm_port.h"

namespace korval::tapi_double {
namespace {

// The slice of one read when no byte comes: a stop is seen within it.
constexpr DWORD kReadSliceMs = 100;
// Even a stalled 1200-bit/s line takes a command line within this.
constexpr DWORD kWriteWaitMs = 5000;

}  // namespace

HANDLE CommPort::OpenOverlapped(const std::string& name) {
  const std::string path = name.rfind("\\\\.\\", 0) == 0 ? name : "\\\\.\\" + name;
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  return port == INVALID_HANDLE_VALUE ? nullptr : port;
}

bool CommPort::MakeModemSettings(HANDLE port, std::uint32_t bps) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return false;
  dcb.BaudRate = bps;
  dcb.fBinary = 1;
  dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = 0;
  dcb.fDsrSensitivity = dcb.fAbortOnError = dcb.fNull = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return SetCommState(port, &dcb) != 0;
}

CommPort::Result CommPort::Finish(OVERLAPPED& overlapped, BOOL started, std::uint32_t wait_ms,
                                  DWORD* moved) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return Result::kFailed;
  Result result = Result::kDone;
  if (!started) {
    const HANDLE waits[2] = {overlapped.hEvent, stop_};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, wait_ms);
    if (woke != WAIT_OBJECT_0) {
      result = woke == WAIT_OBJECT_0 + 1 ? Result::kStopped : Result::kTimeout;
      CancelIo(port_);
    }
  }
  // After a cancel, the transfer may still have completed: its bytes count.
  if (!GetOverlappedResult(port_, &overlapped, moved, TRUE) &&
      GetLastError() != ERROR_OPERATION_ABORTED) {
    return Result::kFailed;
  }
  return result;
}

CommPort::Result CommPort::Write(const std::string& text) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return Result::kFailed;
  DWORD written = 0;
  const BOOL started =
      WriteFile(port_, text.data(), static_cast<DWORD>(text.size()), &written, &overlapped);
  Result result = Finish(overlapped, started, kWriteWaitMs, &written);
  CloseHandle(overlapped.hEvent);
  if (result == Result::kDone && written != text.size()) result = Result::kFailed;
  return result;
}

CommPort::Result CommPort::ReadByte(char* byte, std::uint32_t wait_ms) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return Result::kFailed;
  DWORD got = 0;
  const BOOL started = ReadFile(port_, byte, 1, &got, &overlapped);
  Result result = Finish(overlapped, started, wait_ms, &got);
  CloseHandle(overlapped.hEvent);
  if (got == 1) return Result::kDone;
  return result == Result::kDone ? Result::kTimeout : result;
}

bool CommPort::UseReplyTimeouts() {
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, kReadSliceMs, 0, kWriteWaitMs};
  return SetCommTimeouts(port_, &timeouts) != 0;
}

bool CommPort::SetDtr(bool up) { return EscapeCommFunction(port_, up ? SETDTR : CLRDTR) != 0; }

bool PauseUnlessStopped(HANDLE stop, std::uint32_t ms) {
  return WaitForSingleObject(stop, ms) == WAIT_OBJECT_0;
}

}  // namespace korval::tapi_double
