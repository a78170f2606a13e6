#pragma once
// A process whose telephony line runs on the simulated provider.

#include <string>
#include <vector>

#include "exchange/pump.h"
#include "harness/job_harness.h"
#include "line/call_control.h"
#include "line/telephony_setup.h"

namespace korval::testing {

struct LineHarness : JobHarness {
  platform::sim::SimTelephony& telephony = sim.telephony;
  platform::sim::SimSerialPorts& serial = sim.serial;

  int Start() { return line::StartTelephony(process, 0, 0); }
  int Call(std::string number = "0836064545") { return line::PlaceCall(process, number, 0); }
  void PumpFor(std::uint32_t ms) { exchange::Pause(process, ms); }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : sim.windows.MessageBoxes()) texts.push_back(box.text);
    return texts;
  }
  std::size_t CallsOf(const std::string& function) const {
    return telephony.Calls(function).size();
  }
};

}  // namespace korval::testing
