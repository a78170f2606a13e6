// The simulated ports' set-up calls: properties, queues, configuration, timeouts.
#include "platform/sim/sim_serial.h"

#include <algorithm>

namespace korval::platform::sim {

namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;

}  // namespace

bool SimSerialPorts::GetCommProperties(PortHandle handle, Record& properties) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  const int pass = ++port->commprop_calls_;
  SimPortRecord record = MakeRecord(SimPortOp::kGetCommProperties, handle);
  record.values = {properties.size()};
  const SimPortSetup& s = port->setup_;
  if (s.commprop_fail_pass == pass) {
    record.ok = false;
    record.error = s.commprop_error;
    AddRecord(*port, std::move(record));
    SetError(s.commprop_error);
    return false;
  }
  AddRecord(*port, std::move(record));
  // COMMPROP of a modem port, then the provider block; what does not fit is dropped.
  properties.Set16(2, 2);            // wPacketVersion
  properties.Set32(4, 1);            // dwServiceMask: SP_SERIALCOMM
  properties.Set32(20, 0x10000000);  // dwMaxBaud: BAUD_USER
  properties.Set32(24, 6);           // dwProvSubType: PST_MODEM
  properties.Set32(field::kPropProvCapabilities, s.prov_capabilities);
  properties.Set32(32, 0x7F);  // dwSettableParams
  properties.Set32(44, port->out_queue_);
  properties.Set32(48, port->in_queue_);
  if (properties.size() > field::kPropProvChar) {
    properties.Set32(field::kPropProvChar,
                     std::min(properties.size() - field::kPropProvChar, s.provider_required_size));
  }
  properties.Set32(field::kPropProvChar + 4, s.provider_required_size);
  return true;
}

bool SimSerialPorts::SetupComm(PortHandle handle, std::uint32_t in_queue, std::uint32_t out_queue) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  port->in_queue_ = in_queue;
  port->out_queue_ = out_queue;
  SimPortRecord record = MakeRecord(SimPortOp::kSetupComm, handle);
  record.values = {in_queue, out_queue};
  AddRecord(*port, std::move(record));
  return true;
}

bool SimSerialPorts::GetCommConfig(PortHandle handle, Record& config, std::uint32_t* size) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  SimPortRecord record = MakeRecord(SimPortOp::kGetCommConfig, handle);
  if (size == nullptr) {
    record.ok = false;
    record.error = kErrorInvalidParameter;
    AddRecord(*port, std::move(record));
    SetError(kErrorInvalidParameter);
    return false;
  }
  const std::uint32_t needed = port->setup_.config_size;
  record.values = {*size, needed};
  AddRecord(*port, std::move(record));
  // dwSize stays as the caller set it: the caller compares it with *size to grow.
  config.Set16(4, 0x100);   // wVersion
  config.Set32(8, 28);      // DCBlength
  config.Set32(12, 57600);  // BaudRate
  config.Set32(field::kConfigDcbFlags, port->dcb_.flags);
  config.Set8(field::kConfigByteSize, port->dcb_.byte_size);
  config.Set8(field::kConfigParity, port->dcb_.parity);
  config.Set8(field::kConfigStopBits, port->dcb_.stop_bits);
  config.Set32(36, 6);   // dwProviderSubType: PST_MODEM
  config.Set32(40, 48);  // dwProviderOffset
  config.Set32(44, needed > 48 ? needed - 48 : 0);
  *size = needed;
  return true;
}

bool SimSerialPorts::SetCommConfig(PortHandle handle, const Record& config, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  port->dcb_ = {config.Get8(field::kConfigByteSize), config.Get8(field::kConfigParity),
                config.Get8(field::kConfigStopBits), config.Get32(field::kConfigDcbFlags)};
  SimPortRecord record = MakeRecord(SimPortOp::kSetCommConfig, handle);
  record.values = {size, port->dcb_.byte_size, port->dcb_.parity, port->dcb_.stop_bits,
                   port->dcb_.flags};
  AddRecord(*port, std::move(record));
  return true;
}

bool SimSerialPorts::SetCommTimeouts(PortHandle handle, const CommTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  SimPortRecord record = MakeRecord(SimPortOp::kSetCommTimeouts, handle);
  record.values = {timeouts.read_interval, timeouts.read_total_multiplier,
                   timeouts.read_total_constant, timeouts.write_total_multiplier,
                   timeouts.write_total_constant};
  const std::uint32_t error = port->setup_.set_timeouts_error;
  if (error != 0) {
    record.ok = false;
    record.error = error;
    AddRecord(*port, std::move(record));
    SetError(error);
    return false;
  }
  port->timeouts_ = timeouts;
  AddRecord(*port, std::move(record));
  return true;
}

}  // namespace korval::platform::sim
