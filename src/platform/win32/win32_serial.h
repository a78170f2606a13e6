#pragma once
// The modem's serial port on the handles that lineGetID hands out (a PortHandle is
// the HANDLE's value). Each handle in use gets one overlapped record and event per
// direction, made on first use and freed when the handle is closed here.
//
// Threads: any; one thread reads and another writes the same handle at once.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/serial_port.h"

namespace korval::platform::win32 {

class Win32SerialPorts : public SerialPorts {
 public:
  Win32SerialPorts() = default;
  ~Win32SerialPorts() override;
  Win32SerialPorts(const Win32SerialPorts&) = delete;
  Win32SerialPorts& operator=(const Win32SerialPorts&) = delete;

  bool GetCommProperties(PortHandle port, Record& properties) override;
  bool SetupComm(PortHandle port, std::uint32_t in_queue, std::uint32_t out_queue) override;
  bool GetCommConfig(PortHandle port, Record& config, std::uint32_t* size) override;
  bool SetCommConfig(PortHandle port, const Record& config, std::uint32_t size) override;
  // Reads that take what is there (MAXDWORD, 0, 0) become reads that end kReadGapMs
  // after the last byte that came, or after kReadWaitMs with none, so that an idle
  // reading loop neither spins nor wakes often: under Wine each read costs several
  // server round trips. A stop ends the read at once through CancelRead, a close
  // through the cancel of the pending I/O.
  bool SetCommTimeouts(PortHandle port, const CommTimeouts& timeouts) override;
  IoStatus Read(PortHandle port, void* bytes, std::size_t count, std::size_t* got,
                IoMode mode) override;
  // Waits kReadBoundMs at most, or until CancelRead, then cancels the read, keeping
  // what it had taken.
  bool WaitRead(PortHandle port, std::size_t* got) override;
  bool CancelRead(PortHandle port) override;
  IoStatus Write(PortHandle port, const void* bytes, std::size_t count, std::size_t* written,
                 IoMode mode) override;
  // Gives up, cancelling the write, when the port has not taken the bytes in a time
  // that even a stalled 1200-bit/s line would have needed.
  bool WaitWrite(PortHandle port, std::size_t* written) override;
  bool ClearCommError(PortHandle port) override;
  bool PurgeComm(PortHandle port, std::uint32_t flags) override;
  // Waits, within a bound, for the port's output queue to empty; the system's own
  // flush, which could wait for ever, is not used.
  bool FlushFileBuffers(PortHandle port) override;
  bool SetCommBreak(PortHandle port) override;
  bool ClearCommBreak(PortHandle port) override;
  bool CloseHandle(PortHandle port) override;
  std::uint32_t LastError() override;
  std::string SystemMessage(std::uint32_t code) override;

  static constexpr std::uint32_t kReadWaitMs = 4000;
  static constexpr std::uint32_t kReadGapMs = 2;
  // Past the port's own time-out: a port that does not keep it is cancelled then.
  static constexpr std::uint32_t kReadBoundMs = kReadWaitMs + 100;
  // After a read that someone else's time-outs ended at once with nothing.
  static constexpr std::uint32_t kForeignReadPauseMs = 10;
  static constexpr std::uint32_t kWriteBoundBaseMs = 10000;
  static constexpr std::uint32_t kWriteBoundPerByteMs = 10;
  static constexpr std::uint32_t kFlushBoundBaseMs = 2000;
  static constexpr std::uint32_t kFlushPollMs = 5;

  struct PortState;

 private:
  // The handle's state, made on first use of a handle that is a serial port; null
  // (with ERROR_INVALID_HANDLE) for anything else.
  std::shared_ptr<PortState> Find(PortHandle port);

  std::mutex mutex_;
  std::map<PortHandle, std::shared_ptr<PortState>> ports_;  // guarded by mutex_
};

}  // namespace korval::platform::win32
