// The simulated calls' timed events: their effect on calls, lines and carriers, and
// their posting to the program's queue.
#include "platform/sim/sim_telephony.h"

#include <memory>

namespace korval::platform::sim {

namespace {

bool EndsCall(std::uintptr_t state) {
  return state == kCallStateIdle || state == kCallStateDisconnected || state == kCallStateBusy ||
         state == kCallStateSpecialInfo;
}

}  // namespace

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
      default: break;
    }
    generation = generation_;
  }
  Apply(effects);
  windows_.Post(
      [this, alive = std::weak_ptr<int>(alive_), out, generation, connected_port, instance] {
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

}  // namespace korval::platform::sim
