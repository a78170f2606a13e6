#pragma once
// The serial-port operations on the handles that the modem line hands out: small
// integers naming the one open modem device. Closing a handle never closes the
// device; the line does that when it closes, and its handles then stop working.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/posix/modem_device.h"
#include "platform/serial_port.h"

namespace korval::platform::posix {

// Win32 error codes given for system errors; anything else is kApplicationErrorBit
// plus the errno value.
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorIoDevice = 1117;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorTimeout = 1460;
inline constexpr std::uint32_t kApplicationErrorBit = 0x20000000;
std::uint32_t Win32ErrorOf(int error);

class ModemPorts final : public SerialPorts {
 public:
  // Read waits this long at most when nothing has come: data and CancelRead end the
  // wait at once, so the bound only limits how late a stop that was never asked for
  // (a lost cancel) is seen, and each wake-up of an idle line costs CPU time.
  static constexpr int kReadWaitMs = 1000;
  explicit ModemPorts(int read_wait_ms = kReadWaitMs) : read_wait_ms_(read_wait_ms) {}

  // Any thread. A new handle to device at every call; never kNoPort.
  PortHandle Open(std::shared_ptr<ModemDevice> device);
  // Every handle to device stops working.
  void Forget(const ModemDevice* device);
  std::size_t OpenHandles() const;

  bool GetCommProperties(PortHandle port, Record& properties) override;
  bool SetupComm(PortHandle port, std::uint32_t in_queue, std::uint32_t out_queue) override;
  bool GetCommConfig(PortHandle port, Record& config, std::uint32_t* size) override;
  bool SetCommConfig(PortHandle port, const Record& config, std::uint32_t size) override;
  bool SetCommTimeouts(PortHandle port, const CommTimeouts& timeouts) override;
  IoStatus Read(PortHandle port, void* bytes, std::size_t count, std::size_t* got,
                IoMode mode) override;
  bool CancelRead(PortHandle port) override;
  bool WaitRead(PortHandle port, std::size_t* got) override;
  IoStatus Write(PortHandle port, const void* bytes, std::size_t count, std::size_t* written,
                 IoMode mode) override;
  bool WaitWrite(PortHandle port, std::size_t* written) override;
  bool ClearCommError(PortHandle port) override;
  bool PurgeComm(PortHandle port, std::uint32_t flags) override;
  bool FlushFileBuffers(PortHandle port) override;
  bool SetCommBreak(PortHandle port) override;
  bool ClearCommBreak(PortHandle port) override;
  bool CloseHandle(PortHandle port) override;
  std::uint32_t LastError() override;
  std::string SystemMessage(std::uint32_t code) override;

  // A read on a closed or unknown handle fails after this long, so that a reading
  // loop that outlives its line by a moment does not spin.
  static constexpr int kUnknownHandleWaitMs = 10;
  // Write gives up when the port has taken nothing for this long (CTS held low).
  static constexpr int kWriteStallMs = 10000;
  static constexpr int kDrainBoundMs = 5000;
  // dwCallSetupFailTimer in the configuration the port reports.
  void SetDialTimeout(std::uint32_t seconds);

 private:
  std::shared_ptr<ModemDevice> Find(PortHandle port);

  const int read_wait_ms_;

  mutable std::mutex mutex_;
  std::map<PortHandle, std::shared_ptr<ModemDevice>> handles_;  // guarded by mutex_
  std::uint32_t next_handle_ = 1;                               // guarded by mutex_
  std::uint32_t dial_timeout_s_ = 60;                           // guarded by mutex_
};

}  // namespace korval::platform::posix
