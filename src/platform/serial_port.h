#pragma once
// The modem's serial port, reached through the handles that lineGetID hands out.
//
// Threads: the read thread calls SetCommTimeouts, Read, WaitRead, ClearCommError,
// PurgeComm, FlushFileBuffers and CloseHandle; the main thread calls everything
// else, including Write, the break and CancelRead (while the read thread is inside
// Read or WaitRead). Every operation on a handle that has been closed (or never
// existed) fails with ERROR_INVALID_HANDLE and touches nothing.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/telephony_records.h"
#include "platform/types.h"

namespace korval::platform {

inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorIoPending = 997;
inline constexpr std::uint32_t kErrorOperationAborted = 995;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kPurgeRxClear = 0x8;

struct CommTimeouts {
  std::uint32_t read_interval;
  std::uint32_t read_total_multiplier;
  std::uint32_t read_total_constant;
  std::uint32_t write_total_multiplier;
  std::uint32_t write_total_constant;
};
inline constexpr std::uint32_t kMaxDword = 0xFFFFFFFF;

// How a read or a write was asked for: plain (blocking) or overlapped with an event.
enum class IoMode { kPlain, kOverlapped };

// The outcome of a read or write: done (count is valid), pending (overlapped only:
// complete it with the matching Wait call), or failed (LastError says why).
enum class IoStatus { kDone, kPending, kFailed };

class SerialPorts {
 public:
  virtual ~SerialPorts() = default;

  virtual bool GetCommProperties(PortHandle port, Record& properties) = 0;
  virtual bool SetupComm(PortHandle port, std::uint32_t in_queue, std::uint32_t out_queue) = 0;
  // *size in: the record's size; out: the size the configuration needs.
  virtual bool GetCommConfig(PortHandle port, Record& config, std::uint32_t* size) = 0;
  virtual bool SetCommConfig(PortHandle port, const Record& config, std::uint32_t size) = 0;
  virtual bool SetCommTimeouts(PortHandle port, const CommTimeouts& timeouts) = 0;

  // With the read time-outs the read thread sets, a read takes what the input queue
  // holds, at most count bytes. When the queue is empty it waits for a byte to come,
  // for a CancelRead or for a bound of its own (a second at most; a few milliseconds
  // on some ports), so that the reading loop neither spins nor misses its stop flag
  // for long; it then completes with 0 bytes. It may also complete with 0 bytes early.
  virtual IoStatus Read(PortHandle port, void* bytes, std::size_t count, std::size_t* got,
                        IoMode mode) = 0;
  // GetOverlappedResult with wait: the pending read completes, within the same bound.
  virtual bool WaitRead(PortHandle port, std::size_t* got) = 0;
  // The read under way on the port, or the next one when none is yet, stops waiting
  // for data: it completes at once with what it has (possibly nothing) or fails with
  // ERROR_OPERATION_ABORTED. A port whose reads wait only a few milliseconds may do
  // nothing. For the reading loop's stop: the flag is cleared first, then this.
  virtual bool CancelRead(PortHandle port) = 0;
  virtual IoStatus Write(PortHandle port, const void* bytes, std::size_t count,
                         std::size_t* written, IoMode mode) = 0;
  virtual bool WaitWrite(PortHandle port, std::size_t* written) = 0;

  virtual bool ClearCommError(PortHandle port) = 0;
  virtual bool PurgeComm(PortHandle port, std::uint32_t flags) = 0;
  virtual bool FlushFileBuffers(PortHandle port) = 0;
  virtual bool SetCommBreak(PortHandle port) = 0;
  virtual bool ClearCommBreak(PortHandle port) = 0;
  virtual bool CloseHandle(PortHandle port) = 0;

  // The calling thread's last error code, and the system's text for a code.
  virtual std::uint32_t LastError() = 0;
  virtual std::string SystemMessage(std::uint32_t code) = 0;
};

}  // namespace korval::platform
