// The simulated provider's set-up calls: initialisation, devices, lines and their
// status.
#include "platform/sim/sim_telephony.h"

#include <utility>

#include "platform/sim/sim_telephony_records.h"

namespace korval::platform::sim {

std::int32_t SimTelephony::lineInitialize(std::uint32_t* app, InstanceHandle instance,
                                          LineCallback callback, const std::string& app_name,
                                          std::uint32_t* device_count) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineInitialize", {instance});
  rec.text = app_name;
  if (reinit_answers_ > 0) {
    --reinit_answers_;
    return Finish(std::move(rec), kLineErrReinit);
  }
  if (init_failure_ != 0) return Finish(std::move(rec), init_failure_);
  app_ = next_app_++;
  initialized_ = true;
  ++generation_;
  callback_ = std::move(callback);
  *app = app_;
  *device_count = static_cast<std::uint32_t>(devices_.size());
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineShutdown(std::uint32_t app) {
  Effects effects;
  std::int32_t result = 0;
  {
    std::lock_guard lock(mutex_);
    TelephonyCall rec = Begin("lineShutdown", {app});
    if (!AppValid(app)) {
      result = Finish(std::move(rec), kLineErrInvalAppHandle);
    } else {
      initialized_ = false;
      ++generation_;  // events already posted are dropped
      for (auto& [handle, line] : lines_) line.open = false;
      std::vector<std::uint32_t> all;
      for (const auto& [handle, call] : calls_) all.push_back(handle);
      for (std::uint32_t handle : all) EndCall(handle, effects);
      result = Finish(std::move(rec), 0);
    }
  }
  Apply(effects);
  return result;
}

std::int32_t SimTelephony::lineNegotiateAPIVersion(std::uint32_t app, std::uint32_t device,
                                                   std::uint32_t low, std::uint32_t high,
                                                   std::uint32_t* version) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineNegotiateAPIVersion", {app, device, low, high});
  if (!AppValid(app)) return Finish(std::move(rec), kLineErrInvalAppHandle);
  DeviceState* d = FindDevice(device);
  if (d == nullptr) return Finish(std::move(rec), kLineErrBadDeviceId);
  if (std::int32_t f = Fault(*d, d->config.faults.negotiate, "lineNegotiateAPIVersion")) {
    return Finish(std::move(rec), f);
  }
  if (!d->config.supports_v14 || low > kApiVersion14 || high < kApiVersion14) {
    return Finish(std::move(rec), kLineErrIncompatibleApiVersion);
  }
  *version = kApiVersion14;
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineGetDevCaps(std::uint32_t app, std::uint32_t device,
                                          std::uint32_t version, std::uint32_t ext_version,
                                          Record& caps) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineGetDevCaps", {app, device, version, ext_version, caps.size()});
  if (!AppValid(app)) return Finish(std::move(rec), kLineErrInvalAppHandle);
  DeviceState* d = FindDevice(device);
  if (d == nullptr) return Finish(std::move(rec), kLineErrBadDeviceId);
  if (std::int32_t f = Fault(*d, d->config.faults.get_dev_caps, "lineGetDevCaps")) {
    return Finish(std::move(rec), f);
  }
  const std::int32_t fits = SizeRecord(caps, kDevCapsSize + d->config.extra.dev_caps);
  if (fits != 1) return Finish(std::move(rec), fits);
  caps.Set32(field::kDevNumAddresses, static_cast<std::uint32_t>(d->config.addresses.size()));
  caps.Set32(field::kDevMediaModes, d->config.media_modes);
  caps.Set32(field::kDevLineStates, d->config.line_states);
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineGetDevConfig(std::uint32_t device, Record& config,
                                            const std::string& device_class) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineGetDevConfig", {device, config.size()});
  rec.device_class = device_class;
  if (!initialized_) return Finish(std::move(rec), kLineErrUninitialized);
  if (device_class != kDataModemClass) return Finish(std::move(rec), kLineErrInvalDeviceClass);
  DeviceState* d = FindDevice(device);
  if (d == nullptr) return Finish(std::move(rec), kLineErrBadDeviceId);
  if (std::int32_t f = Fault(*d, d->config.faults.get_dev_config, "lineGetDevConfig")) {
    return Finish(std::move(rec), f);
  }
  const std::string& block = d->current_config;
  const auto size = static_cast<std::uint32_t>(block.size());
  const std::int32_t fits = SizeRecord(config, kVarStringSize + size);
  if (fits != 1) return Finish(std::move(rec), fits);
  config.Set32(field::kVarStringFormat, kStringFormatBinary);
  config.Set32(field::kVarStringSize, size);
  config.Set32(field::kVarStringOffset, kVarStringSize);
  config.PutBytes(kVarStringSize, block);
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineSetDevConfig(std::uint32_t device, const std::string& block,
                                            const std::string& device_class) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineSetDevConfig", {device});
  rec.text = block;
  rec.device_class = device_class;
  if (!initialized_) return Finish(std::move(rec), kLineErrUninitialized);
  if (device_class != kDataModemClass) return Finish(std::move(rec), kLineErrInvalDeviceClass);
  DeviceState* d = FindDevice(device);
  if (d == nullptr) return Finish(std::move(rec), kLineErrBadDeviceId);
  d->current_config = block;
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineOpen(std::uint32_t app, std::uint32_t device, std::uint32_t* line,
                                    std::uint32_t version, std::uint32_t ext_version,
                                    std::uintptr_t callback_instance, std::uint32_t privileges,
                                    std::uint32_t media_modes) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin(
      "lineOpen", {app, device, version, ext_version, callback_instance, privileges, media_modes});
  if (!AppValid(app)) return Finish(std::move(rec), kLineErrInvalAppHandle);
  DeviceState* d = FindDevice(device);
  if (d == nullptr) return Finish(std::move(rec), kLineErrBadDeviceId);
  if (std::int32_t f = Fault(*d, d->config.faults.line_open, "lineOpen")) {
    return Finish(std::move(rec), f);
  }
  if ((media_modes & ~d->config.media_modes) != 0) {
    return Finish(std::move(rec), kLineErrInvalMediaMode);
  }
  const std::uint32_t handle = next_line_++;
  lines_[handle] = {device, callback_instance, true};
  translate_device_ = device;
  *line = handle;
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineClose(std::uint32_t line) {
  Effects effects;
  std::int32_t result = 0;
  {
    std::lock_guard lock(mutex_);
    TelephonyCall rec = Begin("lineClose", {line});
    LineState* l = FindLine(line);
    if (l == nullptr) {
      result = Finish(std::move(rec), kLineErrInvalLineHandle);
    } else {
      l->open = false;
      std::vector<std::uint32_t> on_line;
      for (const auto& [handle, call] : calls_) {
        if (call.line == line) on_line.push_back(handle);
      }
      for (std::uint32_t handle : on_line) EndCall(handle, effects);
      result = Finish(std::move(rec), 0);
    }
  }
  Apply(effects);
  return result;
}

bool SimTelephony::lineGetIcon(std::uint32_t device) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineGetIcon", {device});
  DeviceState* d = FindDevice(device);
  const bool icon = d != nullptr && d->config.has_icon;
  Finish(std::move(rec), icon ? 1 : 0);
  return icon;
}

std::int32_t SimTelephony::lineGetAddressCaps(std::uint32_t app, std::uint32_t device,
                                              std::uint32_t address, std::uint32_t version,
                                              std::uint32_t ext_version, Record& caps) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec =
      Begin("lineGetAddressCaps", {app, device, address, version, ext_version, caps.size()});
  if (!AppValid(app)) return Finish(std::move(rec), kLineErrInvalAppHandle);
  DeviceState* d = FindDevice(device);
  if (d == nullptr) return Finish(std::move(rec), kLineErrBadDeviceId);
  if (std::int32_t f = Fault(*d, d->config.faults.get_address_caps, "lineGetAddressCaps")) {
    return Finish(std::move(rec), f);
  }
  const std::int32_t fits = SizeRecord(caps, kAddressCapsSize + d->config.extra.address_caps);
  if (fits != 1) return Finish(std::move(rec), fits);
  // An address past the device's list reads as one with no features at all.
  if (address < d->config.addresses.size()) {
    const SimAddress& a = d->config.addresses[address];
    caps.Set32(field::kAddrAddressStates, a.address_states);
    caps.Set32(field::kAddrCallFeatures, a.call_features);
  }
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineGetTranslateCaps(std::uint32_t app, std::uint32_t version,
                                                Record& caps) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineGetTranslateCaps", {app, version, caps.size()});
  if (!AppValid(app)) return Finish(std::move(rec), kLineErrInvalAppHandle);
  std::uint32_t extra = 0;
  if (DeviceState* d = FindDevice(static_cast<std::uint32_t>(translate_device_))) {
    if (std::int32_t f = Fault(*d, d->config.faults.get_translate_caps, "lineGetTranslateCaps")) {
      return Finish(std::move(rec), f);
    }
    extra = d->config.extra.translate_caps;
  }
  const std::int32_t fits = SizeRecord(caps, kTranslateCapsSize + extra);
  if (fits != 1) return Finish(std::move(rec), fits);
  caps.Set32(12, 1);  // dwNumLocations
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineGetLineDevStatus(std::uint32_t line, Record& status) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineGetLineDevStatus", {line, status.size()});
  LineState* l = FindLine(line);
  if (l == nullptr) return Finish(std::move(rec), kLineErrInvalLineHandle);
  DeviceState& d = devices_[l->device];
  if (std::int32_t f = Fault(d, d.config.faults.get_line_dev_status, "lineGetLineDevStatus")) {
    return Finish(std::move(rec), f);
  }
  const std::int32_t fits = SizeRecord(status, kLineDevStatusSize + d.config.extra.line_dev_status);
  return Finish(std::move(rec), fits == 1 ? 0 : fits);
}

std::int32_t SimTelephony::lineGetAddressStatus(std::uint32_t line, std::uint32_t address,
                                                Record& status) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineGetAddressStatus", {line, address, status.size()});
  LineState* l = FindLine(line);
  if (l == nullptr) return Finish(std::move(rec), kLineErrInvalLineHandle);
  DeviceState& d = devices_[l->device];
  if (std::int32_t f = Fault(d, d.config.faults.get_address_status, "lineGetAddressStatus")) {
    return Finish(std::move(rec), f);
  }
  const std::int32_t fits = SizeRecord(status, kAddressStatusSize + d.config.extra.address_status);
  if (fits != 1) return Finish(std::move(rec), fits);
  if (address < d.config.addresses.size()) {
    status.Set32(field::kAddrStatusFeatures, d.config.addresses[address].address_features);
  }
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineSetStatusMessages(std::uint32_t line, std::uint32_t line_states,
                                                 std::uint32_t address_states) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineSetStatusMessages", {line, line_states, address_states});
  if (FindLine(line) == nullptr) return Finish(std::move(rec), kLineErrInvalLineHandle);
  return Finish(std::move(rec), 0);
}

}  // namespace korval::platform::sim
