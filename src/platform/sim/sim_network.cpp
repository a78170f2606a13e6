#include "platform/sim/sim_network.h"

namespace korval::platform::sim {
namespace {

netemu::Options WithoutModem(netemu::Options options) {
  options.modem = false;
  options.breaks_visible = true;  // the simulated port reports breaks
  return options;
}

}  // namespace

SimNetwork::SimNetwork(SimWorld& world, SimTelephony& telephony, netemu::Options options,
                       std::size_t device)
    : world_(world),
      telephony_(telephony),
      device_(device),
      engine_(WithoutModem(std::move(options))) {
  telephony_.Port(device_).SetFarEnd(this);
}

SimNetwork::~SimNetwork() {
  *alive_ = false;
  telephony_.Port(device_).SetFarEnd(nullptr);
}

void SimNetwork::OnWrite(SimSerialPort&, const std::string& bytes, std::uint64_t at_ms) {
  engine_.OnBytes(bytes, at_ms);
  Perform();
}

void SimNetwork::OnBreak(SimSerialPort&, bool on, std::uint64_t at_ms) {
  engine_.OnBreak(on, at_ms);
  Perform();
}

void SimNetwork::OnConnect(SimSerialPort&, std::uint64_t at_ms) {
  engine_.OnConnected(at_ms);
  Perform();
}

void SimNetwork::OnHangUp(SimSerialPort&, std::uint64_t at_ms) {
  engine_.OnHangUp(at_ms);
  Perform();
}

void SimNetwork::Perform() {
  for (const netemu::Action& action : engine_.TakeActions()) {
    if (action.kind == netemu::Action::Kind::kSend) {
      telephony_.Port(device_).Deliver(action.bytes);
    } else {
      telephony_.FarEndHangUp(device_);
    }
  }
  const std::optional<std::uint64_t> deadline = engine_.NextDeadline();
  if (!deadline || (deadline_booked_ && booked_deadline_ == *deadline)) return;
  booked_deadline_ = *deadline;
  deadline_booked_ = true;
  world_.At(*deadline, [this, alive = alive_, due = *deadline] {
    if (!*alive || !deadline_booked_ || booked_deadline_ != due) return;
    deadline_booked_ = false;
    engine_.OnTick(world_.Now());
    Perform();
  });
}

}  // namespace korval::platform::sim
