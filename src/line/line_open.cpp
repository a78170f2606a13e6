#include "line/line_open.h"

#include "line/error_boxes.h"
#include "line/growing_read.h"
#include "line/line_error_names.h"
#include "line/port_handle.h"
#include "line/telephony_setup.h"
#include "process/process.h"

namespace korval::line {
namespace {

using platform::Record;
namespace field = platform::field;

constexpr std::int32_t kNoMemory = static_cast<std::int32_t>(kLineErrNoMem);
constexpr std::uint32_t kQueueBytes = 4096;
constexpr std::uint32_t kProviderBlockSlack = 64;
constexpr int kConfigRoundsMax = 8;

std::int32_t ReadAddressCaps(Process& process, std::uint32_t address) {
  return GrowingRead(
      process.line.address_caps, platform::kAddressCapsSize, kNoMemory, [&](Record& record) {
        return process.os.telephony.lineGetAddressCaps(process.line.app_handle,
                                                       process.line.device_id, address,
                                                       process.line.api_version, 0, record);
      });
}

std::int32_t ReadAddressRecords(Process& process) {
  platform::Telephony& telephony = process.os.telephony;
  LineState& line = process.line;
  if (std::int32_t r = GrowingRead(
          line.translate_caps, platform::kTranslateCapsSize, kNoMemory, [&](Record& record) {
            return telephony.lineGetTranslateCaps(line.app_handle, line.api_version, record);
          })) {
    return r;
  }
  if (std::int32_t r = GrowingRead(
          line.line_dev_status, platform::kLineDevStatusSize, kNoMemory, [&](Record& record) {
            return telephony.lineGetLineDevStatus(line.line_handle, record);
          })) {
    return r;
  }
  return GrowingRead(
      line.address_status, platform::kAddressStatusSize, kNoMemory, [&](Record& record) {
        return telephony.lineGetAddressStatus(line.line_handle, line.address_id, record);
      });
}

enum class PropertiesRead { kNoHandle, kQueryFailed, kRead };

// One pass of GetCommProperties on a handle of its own, closed whatever happens.
PropertiesRead ReadCommProperties(Process& process, Record& record, std::uint32_t* error_code) {
  if (GetLinePortHandle(process) != 0) return PropertiesRead::kNoHandle;
  const bool read = process.os.serial.GetCommProperties(process.line.port.handle(), record);
  if (!read) *error_code = process.os.serial.LastError();
  ClosePort(process);
  return read ? PropertiesRead::kRead : PropertiesRead::kQueryFailed;
}

Record SizedCommProperties(std::uint32_t size) {
  Record record(size);
  record.Set32(0, 0);
  record.Set16(field::kPropPacketLength, static_cast<std::uint16_t>(size));
  return record;
}

bool HasEightNoneOne(const Record& config) {
  return config.Get8(field::kConfigByteSize) == 8 && config.Get8(field::kConfigParity) == 0 &&
         config.Get8(field::kConfigStopBits) == 0 &&
         (config.Get32(field::kConfigDcbFlags) & platform::kDcbParityFlag) == 0;
}

void SetEightNoneOne(Record& config) {
  config.Set8(field::kConfigByteSize, 8);
  config.Set8(field::kConfigParity, 0);
  config.Set8(field::kConfigStopBits, 0);
  config.Set32(field::kConfigDcbFlags,
               config.Get32(field::kConfigDcbFlags) & ~platform::kDcbParityFlag);
}

}  // namespace

int OpenLine(Process& process, platform::WindowHandle) {
  LineState& line = process.line;
  auto fail = [&process](int result) {
    ShutdownTelephony(process);
    return result;
  };
  if (!line.line_held) {
    const std::int32_t opened = process.os.telephony.lineOpen(
        line.app_handle, line.device_id, &line.line_handle, line.api_version, 0, 0,
        platform::kCallPrivilegeOwner | platform::kCallPrivilegeMonitor,
        platform::kMediaModeDataModem);
    if (opened != 0) return fail(opened);
  }
  line.line_held = false;
  line.line_open = true;
  // The device's icon would become the window's class icon; a console has none.
  process.os.telephony.lineGetIcon(line.device_id);
  if (std::int32_t r = ChooseAddress(process)) return fail(r);
  process.os.telephony.lineSetStatusMessages(
      line.line_handle, line.device_caps ? line.device_caps->Get32(field::kDevLineStates) : 0,
      line.address_caps->Get32(field::kAddrAddressStates));
  if (ReadPortProperties(process) != 0) return fail(-1);
  if (ConfigurePort(process) != 0) return fail(-1);
  return 0;
}

std::int32_t ChooseAddress(Process& process) {
  LineState& line = process.line;
  const std::uint32_t address_count =
      line.device_caps ? line.device_caps->Get32(field::kDevNumAddresses) : 0;
  for (std::uint32_t address = 0; address < address_count; ++address) {
    if (std::int32_t r = ReadAddressCaps(process, address)) return r;
    if (line.address_caps->Get32(field::kAddrCallFeatures) & platform::kCallFeatureAnswer) {
      line.address_id = address;
      return ReadAddressRecords(process);
    }
  }
  line.address_caps.reset();
  return -1;
}

int ReadPortProperties(Process& process) {
  Record first = SizedCommProperties(platform::kCommPropFirstSize);
  std::uint32_t error_code = 0;
  const PropertiesRead outcome = ReadCommProperties(process, first, &error_code);
  if (outcome == PropertiesRead::kQueryFailed) ReportSystemError(process, error_code);
  if (outcome != PropertiesRead::kRead) return -1;
  const std::uint32_t size = first.Get32(field::kPropProvChar + 4) + kProviderBlockSlack;
  if (size > 0xFFFF) return -1;  // wPacketLength is 16 bits
  Record second = SizedCommProperties(size);
  if (ReadCommProperties(process, second, &error_code) != PropertiesRead::kRead) return -1;
  process.line.port_properties = std::move(second);
  return 0;
}

int ConfigurePort(Process& process) {
  platform::SerialPorts& serial = process.os.serial;
  std::uint32_t size = platform::kCommConfigFirstSize;
  for (int round = 0; round < kConfigRoundsMax; ++round) {
    process.line.comm_config.reset();
    Record config(size);
    config.Set32(field::kConfigSize, size);
    if (GetLinePortHandle(process) != 0) return -1;
    const platform::PortHandle port = process.line.port.handle();
    serial.SetupComm(port, kQueueBytes, kQueueBytes);
    std::uint32_t reported = size;
    const bool read = serial.GetCommConfig(port, config, &reported);
    if (read && !HasEightNoneOne(config)) {
      SetEightNoneOne(config);
      serial.SetCommConfig(port, config, reported);
    }
    ClosePort(process);
    if (!read) return -1;
    if (config.Get32(field::kConfigSize) >= reported) {
      process.line.comm_config = std::move(config);
      return 0;
    }
    size = reported;
  }
  return -1;
}

}  // namespace korval::line
