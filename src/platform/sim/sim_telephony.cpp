#include "platform/sim/sim_telephony.h"

#include <algorithm>
#include <utility>

#include "platform/hayes/modem_records.h"

namespace korval::platform::sim {

namespace {

constexpr std::uint32_t kStringFormatBinary = 4;
constexpr std::uint32_t kCallSelectAddress = 0x2;
constexpr std::uint32_t kTranslateOutputFixed = 40;
constexpr std::uint32_t kFrance = 33;

bool EndsCall(std::uintptr_t state) {
  return state == kCallStateIdle || state == kCallStateDisconnected ||
         state == kCallStateBusy || state == kCallStateSpecialInfo;
}

// The provider's half of a growing read: 1 when the record is big enough (dwNeededSize
// and dwUsedSize written, fill it), 0 when only dwNeededSize was written, or an error.
std::int32_t SizeRecord(Record& record, std::uint32_t needed) {
  const std::uint32_t total = std::min(record.TotalSize(), record.size());
  if (total < 12) return kLineErrStructureTooSmall;
  record.Set32(field::kNeededSize, needed);
  if (total < needed) return 0;
  record.Set32(field::kUsedSize, needed);
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------
// Scripts.

SimCallEvent CallStateEvent(std::uint64_t at_ms, std::uint32_t state, std::uint32_t mode,
                            std::uint32_t privilege) {
  return {at_ms, kLineCallState, state, mode, privilege, false};
}

SimCallEvent ReplyEvent(std::uint64_t at_ms, std::int32_t result) {
  return {at_ms, kLineReply, 0, static_cast<std::uint32_t>(result), 0, false};
}

SimCallEvent LineDevStateEvent(std::uint64_t at_ms, std::uint32_t state) {
  return {at_ms, kLineLineDevState, state, 0, 0, false};
}

SimCallEvent LineCloseEvent(std::uint64_t at_ms) { return {at_ms, kLineClose, 0, 0, 0, false}; }

SimCallEvent AddressStateEvent(std::uint64_t at_ms, std::uint32_t address, std::uint32_t state) {
  return {at_ms, kLineAddressState, address, state, 0, false};
}

SimCallScript ConnectingCall(std::uint64_t connect_at_ms, bool dial_tone) {
  const std::uint64_t c = connect_at_ms;
  SimCallScript script = {ReplyEvent(std::min<std::uint64_t>(10, c), 0)};
  if (dial_tone) script.push_back(CallStateEvent(c / 30, kCallStateDialtone));
  script.push_back(CallStateEvent(c / 10, kCallStateDialing));
  script.push_back(CallStateEvent(c / 3, kCallStateProceeding));
  script.push_back(CallStateEvent(c, kCallStateConnected));
  return script;
}

SimCallScript BusyCall(std::uint64_t at_ms) {
  return {ReplyEvent(std::min<std::uint64_t>(10, at_ms), 0),
          CallStateEvent(at_ms / 4, kCallStateDialing), CallStateEvent(at_ms, kCallStateBusy)};
}

SimCallScript DisconnectedCall(std::uint32_t mode, std::uint64_t at_ms) {
  return {ReplyEvent(std::min<std::uint64_t>(10, at_ms), 0),
          CallStateEvent(at_ms / 4, kCallStateDialing),
          CallStateEvent(at_ms, kCallStateDisconnected, mode)};
}

SimCallScript FailedReplyCall(std::int32_t code, std::uint64_t at_ms) {
  return {ReplyEvent(at_ms, code)};
}

SimCallScript OutOfServiceLine(std::uint64_t at_ms) {
  return {ReplyEvent(std::min<std::uint64_t>(10, at_ms), 0),
          CallStateEvent(at_ms / 4, kCallStateDialing),
          LineDevStateEvent(at_ms, kLineDevStateOutOfService)};
}

SimCallScript FarEndHangsUp(std::uint64_t hang_up_after_ms, std::uint64_t connect_at_ms) {
  SimCallScript script = ConnectingCall(connect_at_ms);
  script.push_back(CallStateEvent(connect_at_ms + hang_up_after_ms, kCallStateDisconnected,
                                  kDisconnectNormal));
  return script;
}

SimCallScript IncomingCall(std::uint64_t at_ms) {
  SimCallEvent offering = CallStateEvent(at_ms, kCallStateOffering);
  offering.other_call = true;
  return {offering};
}

SimCallScript Combine(SimCallScript a, const SimCallScript& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string DefaultDevConfig() {
  // Binary, with NULs inside, as a real configuration block is.
  std::string block(40, '\0');
  block[0] = 40;
  block[4] = 1;
  block[6] = 0x10;
  for (std::size_t i = 12; i < block.size(); i += 2) block[i] = static_cast<char>('A' + i);
  return block;
}

// ---------------------------------------------------------------------------------
// Devices and observation.

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

std::int32_t SimTelephony::Fault(DeviceState& device, const SimFault& fault,
                                 const char* function) {
  const unsigned n = ++device.fault_calls[function];
  if (fault.code == 0 || n <= fault.skip) return 0;
  return n - fault.skip <= fault.times ? fault.code : 0;
}

void SimTelephony::Schedule(std::uint32_t call, std::uint64_t epoch, std::uint64_t at_ms,
                            SimCallEvent event) {
  world_.At(at_ms, [this, alive = std::weak_ptr<int>(alive_), call, epoch, event] {
    if (!alive.expired()) Fire(call, epoch, event);
  });
}

void SimTelephony::EndCall(std::uint32_t call, Effects& effects) {
  auto it = calls_.find(call);
  if (it == calls_.end()) return;
  if (!it->second.incoming) effects.carrier.emplace_back(devices_[it->second.device].port, false);
  calls_.erase(it);
}

void SimTelephony::Apply(const Effects& effects) {
  for (const auto& [port, up] : effects.carrier) port->SetCarrier(up);
}

// A scripted event becomes due (a world action, main thread): its effect on the call
// and the line happens now, and the event is posted for the program's next turn of
// its queue.
void SimTelephony::Fire(std::uint32_t call, std::uint64_t epoch, SimCallEvent event) {
  Effects effects;
  SimLineEvent out{0, event.message, event.param1, event.param2, event.param3, 0};
  SimSerialPort* connected_port = nullptr;
  std::uintptr_t instance = 0;
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = calls_.find(call);
    if (!initialized_ || it == calls_.end() || it->second.epoch != epoch) return;
    CallState& c = it->second;
    const std::uint32_t line = c.line;
    SimSerialPort* port = devices_[c.device].port;
    if (auto l = lines_.find(line); l != lines_.end()) instance = l->second.instance;
    out.device = line;
    switch (event.message) {
      case kLineCallState:
        if (event.other_call) {
          if (calls_.count(c.other) == 0) {
            c.other = next_call_++;
            CallState incoming{c.device, line};
            incoming.incoming = true;
            calls_.emplace(c.other, incoming);
          }
          calls_.at(c.other).state = static_cast<std::uint32_t>(event.param1);
          out.device = c.other;
        } else {
          c.state = static_cast<std::uint32_t>(event.param1);
          out.device = call;
          if (event.param1 == kCallStateConnected && !c.incoming) {
            effects.carrier.emplace_back(port, true);
            connected_port = port;
          } else if (EndsCall(event.param1) && !c.incoming) {
            effects.carrier.emplace_back(port, false);
          }
        }
        break;
      case kLineReply:
        out.device = 0;
        if (out.param1 == 0) out.param1 = c.request;
        // A refused request leaves no call behind.
        if (out.param1 == c.request && event.param2 == 0 && c.handle_place != nullptr) {
          *c.handle_place = call;
          c.handle_place = nullptr;
        }
        if (event.param2 != 0 && out.param1 == c.request) EndCall(call, effects);
        break;
      case kLineClose: {
        lines_[line].open = false;
        std::vector<std::uint32_t> on_line;
        for (const auto& [handle, state] : calls_) {
          if (state.line == line) on_line.push_back(handle);
        }
        for (std::uint32_t handle : on_line) EndCall(handle, effects);
        break;
      }
      case kLineLineDevState:
        if (event.param1 == kLineDevStateDisconnected ||
            event.param1 == kLineDevStateOutOfService || event.param1 == kLineDevStateClose) {
          effects.carrier.emplace_back(port, false);
        }
        break;
      default:
        break;
    }
    generation = generation_;
  }
  Apply(effects);
  windows_.Post([this, alive = std::weak_ptr<int>(alive_), out, generation, connected_port,
                 instance] {
    if (!alive.expired()) Dispatch(out, generation, connected_port, instance);
  });
}

void SimTelephony::Dispatch(SimLineEvent event, std::uint64_t generation,
                            SimSerialPort* connected_port, std::uintptr_t instance) {
  LineCallback callback;
  {
    std::lock_guard lock(mutex_);
    if (!initialized_ || generation != generation_) {
      ++dropped_events_;
      return;
    }
    event.at_ms = world_.Now();
    events_.push_back(event);
    callback = callback_;
  }
  if (callback) {
    callback(event.device, event.message, instance, event.param1, event.param2, event.param3);
  }
  // The program starts its reader on this event; deliveries now wait for its first read.
  if (connected_port != nullptr) connected_port->ExpectReader();
}

// ---------------------------------------------------------------------------------
// The provider.

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
  TelephonyCall rec = Begin("lineOpen", {app, device, version, ext_version, callback_instance,
                                         privileges, media_modes});
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

std::int32_t SimTelephony::lineGetID(std::uint32_t line, std::uint32_t address,
                                     std::uint32_t call, std::uint32_t select, Record& id,
                                     const std::string& device_class) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineGetID", {line, address, call, select, id.size()});
  rec.device_class = device_class;
  auto fail = [&](std::int32_t code) {
    rec.args.push_back(0);
    return Finish(std::move(rec), code);
  };
  if (device_class != kDataModemClass) return fail(kLineErrInvalDeviceClass);
  DeviceState* d = nullptr;
  if (select == kCallSelectLine || select == kCallSelectAddress) {
    LineState* l = FindLine(line);
    if (l == nullptr) return fail(kLineErrInvalLineHandle);
    d = &devices_[l->device];
    if (std::int32_t f = Fault(*d, d->config.faults.get_id_line, "lineGetID/line")) return fail(f);
  } else if (select == kCallSelectCall) {
    auto it = calls_.find(call);
    if (it == calls_.end()) return fail(kLineErrInvalCallHandle);
    d = &devices_[it->second.device];
    if (std::int32_t f = Fault(*d, d->config.faults.get_id_call, "lineGetID/call")) return fail(f);
  } else {
    return fail(kLineErrInvalCallSelect);
  }
  const std::string name = d->port->Name();
  const auto string_size = static_cast<std::uint32_t>(4 + name.size() + 1);
  const std::int32_t fits = SizeRecord(id, kVarStringSize + string_size);
  if (fits != 1) return fail(fits);
  // Only a filled answer hands out a handle: the caller closes what it was given.
  const PortHandle handle = serial_.OpenHandle(*d->port);
  id.Set32(field::kVarStringFormat, kStringFormatBinary);
  id.Set32(field::kVarStringSize, string_size);
  id.Set32(field::kVarStringOffset, kVarStringSize);
  id.Set32(kVarStringSize, static_cast<std::uint32_t>(handle));
  id.PutBytes(kVarStringSize + 4, name);
  id.Set8(kVarStringSize + 4 + static_cast<std::uint32_t>(name.size()), 0);
  rec.args.push_back(handle);
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineTranslateAddress(std::uint32_t app, std::uint32_t device,
                                                std::uint32_t version,
                                                const std::string& canonical, std::uint32_t card,
                                                std::uint32_t options, Record& output) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec =
      Begin("lineTranslateAddress", {app, device, version, card, options, output.size()});
  rec.text = canonical;
  if (!AppValid(app)) return Finish(std::move(rec), kLineErrInvalAppHandle);
  DeviceState* d = FindDevice(device);
  if (d == nullptr) return Finish(std::move(rec), kLineErrBadDeviceId);
  if (std::int32_t f = Fault(*d, d->config.faults.translate_address, "lineTranslateAddress")) {
    return Finish(std::move(rec), f);
  }
  std::optional<hayes::Translation> translated = hayes::TranslateAddress(canonical);
  if (d->config.dialable) {
    translated = hayes::Translation{*d->config.dialable, translated ? translated->dest_country : 0};
  }
  if (!translated) return Finish(std::move(rec), kLineErrInvalAddress);
  // Both strings are counted with their terminating NUL, as the API does.
  const auto dial_size = static_cast<std::uint32_t>(translated->dialable.size() + 1);
  const auto display_size = static_cast<std::uint32_t>(canonical.size() + 1);
  const std::int32_t fits =
      SizeRecord(output, kTranslateOutputFixed + dial_size + display_size);
  if (fits != 1) return Finish(std::move(rec), fits);
  output.Set32(field::kDialableSize, dial_size);
  output.Set32(field::kDialableOffset, kTranslateOutputFixed);
  output.PutBytes(kTranslateOutputFixed, translated->dialable);
  output.Set8(kTranslateOutputFixed + dial_size - 1, 0);
  output.Set32(20, display_size);  // dwDisplayableStringSize
  output.Set32(24, kTranslateOutputFixed + dial_size);
  output.PutBytes(kTranslateOutputFixed + dial_size, canonical);
  output.Set32(28, kFrance);  // dwCurrentCountry
  output.Set32(32, translated->dest_country);
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineMakeCall(std::uint32_t line, std::uint32_t* call,
                                        const std::string& dial_string, std::uint32_t country,
                                        const Record& call_params) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin(
      "lineMakeCall",
      {line, country, call_params.Get32(field::kCallBearerMode),
       call_params.Get32(field::kCallMediaMode), call_params.Get32(field::kCallParamFlags),
       call_params.Get32(field::kCallAddressMode), call_params.Get32(field::kCallAddressId),
       call_params.size()});
  rec.text = dial_string;
  LineState* l = FindLine(line);
  if (l == nullptr) {
    rec.args.push_back(0);
    return Finish(std::move(rec), kLineErrInvalLineHandle);
  }
  DeviceState& d = devices_[l->device];
  if (std::int32_t f = Fault(d, d.config.faults.make_call, "lineMakeCall")) {
    rec.args.push_back(0);
    return Finish(std::move(rec), f);
  }
  const std::uint32_t handle = next_call_++;
  const std::uint32_t request = next_request_++;
  CallState state{l->device, line};
  state.request = request;
  if (d.config.handle_at_reply) {
    state.handle_place = call;
  } else {
    *call = handle;
  }
  calls_.emplace(handle, state);
  d.current_call = handle;
  const std::uint64_t now = world_.Now();
  for (const SimCallEvent& event : d.config.script) Schedule(handle, 0, now + event.at_ms, event);
  rec.args.push_back(handle);
  return Finish(std::move(rec), static_cast<std::int32_t>(request));
}

std::int32_t SimTelephony::lineDeallocateCall(std::uint32_t call) {
  std::lock_guard lock(mutex_);
  TelephonyCall rec = Begin("lineDeallocateCall", {call});
  auto it = calls_.find(call);
  if (it == calls_.end()) return Finish(std::move(rec), kLineErrInvalCallHandle);
  // As for a sole owner: only an idle call can be released.
  if (it->second.state != kCallStateIdle) return Finish(std::move(rec), kLineErrInvalCallState);
  calls_.erase(it);
  return Finish(std::move(rec), 0);
}

std::int32_t SimTelephony::lineDrop(std::uint32_t call, const std::string& user_data) {
  Effects effects;
  std::int32_t result = 0;
  {
    std::lock_guard lock(mutex_);
    TelephonyCall rec = Begin("lineDrop", {call});
    rec.text = user_data;
    auto it = calls_.find(call);
    if (it == calls_.end()) return Finish(std::move(rec), kLineErrInvalCallHandle);
    CallState& c = it->second;
    if (c.state == kCallStateIdle) return Finish(std::move(rec), kLineErrInvalCallState);
    const SimLineDevice& d = devices_[c.device].config;
    const std::uint64_t epoch = ++c.epoch;  // the script's remaining events are cancelled
    const std::uint32_t request = next_request_++;
    const std::uint64_t now = world_.Now();
    SimCallEvent reply = ReplyEvent(0, 0);
    reply.param1 = request;
    Schedule(call, epoch, now + 1, reply);
    if (c.state != kCallStateDisconnected) {
      Schedule(call, epoch, now + d.drop_disconnect_ms,
               CallStateEvent(0, kCallStateDisconnected, kDisconnectNormal));
    }
    if (d.drop_goes_idle) {
      Schedule(call, epoch, now + std::max(d.drop_idle_ms, d.drop_disconnect_ms),
               CallStateEvent(0, kCallStateIdle));
    }
    if (!c.incoming) effects.carrier.emplace_back(devices_[c.device].port, false);
    result = Finish(std::move(rec), static_cast<std::int32_t>(request));
  }
  Apply(effects);
  return result;
}

}  // namespace korval::platform::sim
