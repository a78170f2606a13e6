#pragma once
// A machine with no modem: the telephony API starts but has no line device, and no
// port handle is ever handed out.

#include "platform/serial_port.h"
#include "platform/telephony.h"

namespace korval::platform {

inline constexpr std::int32_t kNoModemError = static_cast<std::int32_t>(0x80000002);  // BADDEVICEID

class NoModemTelephony final : public Telephony {
 public:
  std::int32_t lineInitialize(std::uint32_t* app, InstanceHandle, LineCallback,
                              const std::string&, std::uint32_t* device_count) override {
    *app = 1;
    *device_count = 0;
    return 0;
  }
  std::int32_t lineShutdown(std::uint32_t) override { return 0; }
  std::int32_t lineNegotiateAPIVersion(std::uint32_t, std::uint32_t, std::uint32_t,
                                       std::uint32_t, std::uint32_t*) override {
    return kNoModemError;
  }
  std::int32_t lineGetDevCaps(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                              Record&) override { return kNoModemError; }
  std::int32_t lineGetDevConfig(std::uint32_t, Record&, const std::string&) override {
    return kNoModemError;
  }
  std::int32_t lineSetDevConfig(std::uint32_t, const std::string&, const std::string&) override {
    return kNoModemError;
  }
  std::int32_t lineOpen(std::uint32_t, std::uint32_t, std::uint32_t*, std::uint32_t,
                        std::uint32_t, std::uintptr_t, std::uint32_t, std::uint32_t) override {
    return kNoModemError;
  }
  std::int32_t lineClose(std::uint32_t) override { return kNoModemError; }
  bool lineGetIcon(std::uint32_t) override { return false; }
  std::int32_t lineGetAddressCaps(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                  std::uint32_t, Record&) override { return kNoModemError; }
  std::int32_t lineGetTranslateCaps(std::uint32_t, std::uint32_t, Record&) override {
    return kNoModemError;
  }
  std::int32_t lineGetLineDevStatus(std::uint32_t, Record&) override { return kNoModemError; }
  std::int32_t lineGetAddressStatus(std::uint32_t, std::uint32_t, Record&) override {
    return kNoModemError;
  }
  std::int32_t lineSetStatusMessages(std::uint32_t, std::uint32_t, std::uint32_t) override {
    return kNoModemError;
  }
  std::int32_t lineGetID(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, Record&,
                         const std::string&) override { return kNoModemError; }
  std::int32_t lineTranslateAddress(std::uint32_t, std::uint32_t, std::uint32_t,
                                    const std::string&, std::uint32_t, std::uint32_t,
                                    Record&) override { return kNoModemError; }
  std::int32_t lineMakeCall(std::uint32_t, std::uint32_t*, const std::string&, std::uint32_t,
                            const Record&) override { return kNoModemError; }
  std::int32_t lineDeallocateCall(std::uint32_t) override { return kNoModemError; }
  std::int32_t lineDrop(std::uint32_t, const std::string&) override { return kNoModemError; }
};

class NoSerialPorts final : public SerialPorts {
 public:
  bool GetCommProperties(PortHandle, Record&) override { return false; }
  bool SetupComm(PortHandle, std::uint32_t, std::uint32_t) override { return false; }
  bool GetCommConfig(PortHandle, Record&, std::uint32_t*) override { return false; }
  bool SetCommConfig(PortHandle, const Record&, std::uint32_t) override { return false; }
  bool SetCommTimeouts(PortHandle, const CommTimeouts&) override { return false; }
  IoStatus Read(PortHandle, void*, std::size_t, std::size_t* got, IoMode) override {
    *got = 0;
    return IoStatus::kFailed;
  }
  bool WaitRead(PortHandle, std::size_t* got) override {
    *got = 0;
    return false;
  }
  IoStatus Write(PortHandle, const void*, std::size_t, std::size_t* written, IoMode) override {
    *written = 0;
    return IoStatus::kFailed;
  }
  bool WaitWrite(PortHandle, std::size_t* written) override {
    *written = 0;
    return false;
  }
  bool ClearCommError(PortHandle) override { return false; }
  bool PurgeComm(PortHandle, std::uint32_t) override { return false; }
  bool FlushFileBuffers(PortHandle) override { return false; }
  bool SetCommBreak(PortHandle) override { return false; }
  bool ClearCommBreak(PortHandle) override { return false; }
  bool CloseHandle(PortHandle) override { return false; }
  std::uint32_t LastError() override { return kErrorInvalidHandle; }
  std::string SystemMessage(std::uint32_t) override { return "Descripteur non valide."; }
};

}  // namespace korval::platform
