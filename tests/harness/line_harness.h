#pragma once
// A process whose telephony line runs on the simulated provider.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange/pump.h"
#include "harness/job_harness.h"
#include "line/call_control.h"
#include "line/port_handle.h"
#include "line/telephony_setup.h"
#include "platform/sim/sim_telephony.h"

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

// A connected call whose port handle the main thread has taken, as the connection does.
struct ConnectedLineHarness : LineHarness {
  explicit ConnectedLineHarness(bool nt = true) {
    process.job.is_windows_nt = nt;
    telephony.ModifyDevice(0, [](platform::sim::SimLineDevice& d) {
      d.script = platform::sim::ConnectingCall(100);
    });
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(Call(), 1);
    PumpFor(200);
    EXPECT_EQ(line::GetPortHandle(process), 0);
  }
  platform::sim::SimSerialPort& Port() { return telephony.Port(); }
};

}  // namespace korval::testing
