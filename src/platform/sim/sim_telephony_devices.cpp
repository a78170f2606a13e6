// The simulated provider's devices, what tests observe of it, and the helpers its
// calls share.
#include "platform/sim/sim_telephony.h"

#include <algorithm>
#include <utility>

namespace korval::platform::sim {

SimTelephony::SimTelephony(SimWorld& world, WindowSystem& windows, SimSerialPorts& serial)
    : world_(world), windows_(windows), serial_(serial) {}

std::size_t SimTelephony::AddDevice(const SimLineDevice& device) {
  SimSerialPort* reused = nullptr;
  std::size_t index = 0;
  {
    std::lock_guard lock(mutex_);
    index = devices_.size();
    SimSerialPort* port = nullptr;
    if (index < ports_.size()) {
      port = reused = ports_[index];
    } else {
      port = &serial_.AddPort(device.port, false);
      ports_.push_back(port);
    }
    devices_.push_back({device, port, device.dev_config, {}, 0});
  }
  if (reused != nullptr) {  // outside the lock: the far end may be told
    reused->SetCarrier(false);
    reused->Configure(device.port);
  }
  return index;
}

void SimTelephony::SetDevices(const std::vector<SimLineDevice>& devices) {
  {
    std::lock_guard lock(mutex_);
    devices_.clear();
  }
  for (const SimLineDevice& device : devices) AddDevice(device);
}

std::size_t SimTelephony::DeviceCount() const {
  std::lock_guard lock(mutex_);
  return devices_.size();
}

const SimLineDevice& SimTelephony::Device(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return devices_.at(index).config;
}

void SimTelephony::ModifyDevice(std::size_t index,
                                const std::function<void(SimLineDevice&)>& change) {
  SimLineDevice copy;
  {
    std::lock_guard lock(mutex_);
    copy = devices_.at(index).config;
  }
  change(copy);
  SimSerialPort* reconfigure = nullptr;
  {
    std::lock_guard lock(mutex_);
    DeviceState& d = devices_.at(index);
    if (!(copy.port == d.config.port)) reconfigure = d.port;
    if (copy.dev_config != d.config.dev_config) d.current_config = copy.dev_config;
    d.config = copy;
  }
  if (reconfigure != nullptr) reconfigure->Configure(copy.port);
}

SimSerialPort& SimTelephony::Port(std::size_t device) {
  std::lock_guard lock(mutex_);
  return *devices_.at(device).port;
}

void SimTelephony::ScriptInitialize(unsigned reinit_answers, std::int32_t failure) {
  std::lock_guard lock(mutex_);
  reinit_answers_ = reinit_answers;
  init_failure_ = failure;
}

void SimTelephony::FarEndHangUp(std::size_t device, std::uint32_t mode) {
  std::uint32_t call = 0;
  std::uint64_t epoch = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = calls_.find(devices_.at(device).current_call);
    if (it == calls_.end()) return;
    const std::uint32_t state = it->second.state;
    if (state == kCallStateIdle || state == kCallStateDisconnected) return;
    call = it->first;
    epoch = ++it->second.epoch;  // what the script still had for this call is moot
  }
  Fire(call, epoch, CallStateEvent(0, kCallStateDisconnected, mode));
}

std::vector<TelephonyCall> SimTelephony::Calls() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::vector<TelephonyCall> SimTelephony::Calls(const std::string& function) const {
  std::lock_guard lock(mutex_);
  std::vector<TelephonyCall> out;
  for (const TelephonyCall& c : log_) {
    if (c.function == function) out.push_back(c);
  }
  return out;
}

std::vector<std::string> SimTelephony::Names() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const TelephonyCall& c : log_) out.push_back(c.function);
  return out;
}

std::vector<SimLineEvent> SimTelephony::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::size_t SimTelephony::DroppedEvents() const {
  std::lock_guard lock(mutex_);
  return dropped_events_;
}

std::uint32_t SimTelephony::CurrentCall(std::size_t device) const {
  std::lock_guard lock(mutex_);
  const std::uint32_t call = devices_.at(device).current_call;
  return calls_.count(call) != 0 ? call : 0;
}

std::uint32_t SimTelephony::CallStateOf(std::uint32_t call) const {
  std::lock_guard lock(mutex_);
  auto it = calls_.find(call);
  return it == calls_.end() ? 0 : it->second.state;
}

bool SimTelephony::LineIsOpen(std::size_t device) const {
  std::lock_guard lock(mutex_);
  return std::any_of(lines_.begin(), lines_.end(), [device](const auto& entry) {
    return entry.second.open && entry.second.device == device;
  });
}

std::string SimTelephony::CurrentDevConfig(std::size_t device) const {
  std::lock_guard lock(mutex_);
  return devices_.at(device).current_config;
}

// ---------------------------------------------------------------------------------
// Helpers; all under mutex_.

TelephonyCall SimTelephony::Begin(const char* function, std::vector<std::uint64_t> args) {
  return {function, std::move(args), {}, {}, 0, serial_.Now(), serial_.OnMainThread()};
}

std::int32_t SimTelephony::Finish(TelephonyCall call, std::int32_t result) {
  call.result = result;
  log_.push_back(std::move(call));
  return result;
}

bool SimTelephony::AppValid(std::uint32_t app) const { return initialized_ && app == app_; }

SimTelephony::DeviceState* SimTelephony::FindDevice(std::uint32_t device) {
  return device < devices_.size() ? &devices_[device] : nullptr;
}

SimTelephony::LineState* SimTelephony::FindLine(std::uint32_t line) {
  auto it = lines_.find(line);
  return it != lines_.end() && it->second.open ? &it->second : nullptr;
}

std::int32_t SimTelephony::Fault(DeviceState& device, const SimFault& fault, const char* function) {
  const unsigned n = ++device.fault_calls[function];
  if (fault.code == 0 || n <= fault.skip) return 0;
  return n - fault.skip <= fault.times ? fault.code : 0;
}

}  // namespace korval::platform::sim
