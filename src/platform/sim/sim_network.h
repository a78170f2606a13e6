#pragma once
// The simulated network behind a simulated modem port: the network's PAD and the
// bank's site, played by the far-end emulator's engine, which was written apart from
// the program so that a mistake on one side is caught by the other. It checks what
// it receives and reports every protocol violation.

#include <cstdint>
#include <memory>

#include "engine/far_end.h"
#include "platform/sim/sim_serial.h"
#include "platform/sim/sim_telephony.h"
#include "platform/sim/sim_world.h"

namespace korval::platform::sim {

class SimNetwork final : public SimFarEnd {
 public:
  // Attaches itself to the device's port. The modem layer is the telephony sim's.
  SimNetwork(SimWorld& world, SimTelephony& telephony, netemu::Options options,
             std::size_t device = 0);
  ~SimNetwork() override;

  void OnWrite(SimSerialPort& port, const std::string& bytes, std::uint64_t at_ms) override;
  void OnBreak(SimSerialPort& port, bool on, std::uint64_t at_ms) override;
  void OnConnect(SimSerialPort& port, std::uint64_t at_ms) override;
  void OnHangUp(SimSerialPort& port, std::uint64_t at_ms) override;

  const netemu::Report& report() const { return engine_.report(); }

 private:
  // Carries out what the engine has to do, and books its next deadline.
  void Perform();

  SimWorld& world_;
  SimTelephony& telephony_;
  std::size_t device_;
  netemu::FarEnd engine_;
  std::uint64_t booked_deadline_ = 0;
  bool deadline_booked_ = false;
  // Scheduled actions outlive this object in the world's queue: they check it.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace korval::platform::sim
