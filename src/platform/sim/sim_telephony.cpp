// The simulated provider's calls on a call: the port handle, the dialable address, and
// making, releasing and dropping calls.
#include "platform/sim/sim_telephony.h"

#include <algorithm>
#include <utility>

#include "platform/hayes/modem_records.h"
#include "platform/sim/sim_telephony_records.h"

namespace korval::platform::sim {

namespace {

constexpr std::uint32_t kCallSelectAddress = 0x2;
constexpr std::uint32_t kTranslateOutputFixed = 40;
constexpr std::uint32_t kFrance = 33;

}  // namespace

std::int32_t SimTelephony::lineGetID(std::uint32_t line, std::uint32_t address, std::uint32_t call,
                                     std::uint32_t select, Record& id,
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
                                                std::uint32_t version, const std::string& canonical,
                                                std::uint32_t card, std::uint32_t options,
                                                Record& output) {
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
  const std::int32_t fits = SizeRecord(output, kTranslateOutputFixed + dial_size + display_size);
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
  TelephonyCall rec =
      Begin("lineMakeCall",
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
