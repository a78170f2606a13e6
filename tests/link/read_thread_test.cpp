#include "link/read_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "harness/line_harness.h"
#include "line/port_handle.h"
#include "link/receive_busy.h"
#include "platform/sim/sim_telephony.h"

namespace korval::link {
namespace {

namespace sim = platform::sim;
using sim::SimPortOp;
using testing::LineHarness;

struct ConnectedHarness : LineHarness {
  explicit ConnectedHarness(bool nt = true,
                            std::function<void(sim::SimLineDevice&)> setup = nullptr) {
    process.job.is_windows_nt = nt;
    telephony.ModifyDevice(0, [&](sim::SimLineDevice& d) {
      d.script = sim::ConnectingCall(100);
      if (setup) setup(d);
    });
  }
  void Connect() {
    ASSERT_EQ(Start(), 0);
    ASSERT_EQ(Call(), 1);
    PumpFor(200);
    ASSERT_EQ(process.call.call_state, platform::kCallStateConnected);
  }
  sim::SimSerialPort& Port() { return telephony.Port(); }
  std::string Buffer() {
    ReceiveBusySection section(process);
    return process.receive.buffer;
  }
};

TEST(ReadThreadTest, ServesThePortInEitherMode) {
  for (bool nt : {true, false}) {
    ConnectedHarness h(nt);
    h.Connect();
    std::string burst;
    for (int i = 0; i < 450; ++i) burst.push_back(static_cast<char>('A' + i % 26));
    h.Port().Deliver(burst);
    EXPECT_EQ(h.Buffer(), burst) << nt;
    for (const auto& read : h.Port().Records(SimPortOp::kRead)) {
      EXPECT_LE(read.bytes.size(), kReadChunkBytes);
    }
    EXPECT_GE(h.Port().Records(SimPortOp::kRead).size(), 3u);
    const auto timeouts = h.Port().Timeouts();
    ASSERT_TRUE(timeouts);
    EXPECT_EQ(timeouts->read_interval, platform::kMaxDword);
    EXPECT_EQ(timeouts->read_total_constant, 0u);

    line::HangUp(h.process);
    EXPECT_EQ(h.Port().Count(SimPortOp::kFlush) > 0, nt);  // after the loop, NT only
    EXPECT_EQ(h.Port().Count(SimPortOp::kPurge), 1u);
    EXPECT_EQ(h.serial.DoubleCloses(), 0u);
    EXPECT_EQ(h.serial.InvalidHandleUses(), 0u);
    EXPECT_EQ(h.serial.SettleTimeouts(), 0u);
  }
}

TEST(ReadThreadTest, PortWithoutIntervalTimeoutsIsNeverRead) {
  ConnectedHarness h(true, [](sim::SimLineDevice& d) { d.port.prov_capabilities = 0x7F; });
  h.serial.SetSettleLimit(std::chrono::milliseconds(50));
  h.Connect();
  h.PumpFor(50);
  ASSERT_TRUE(h.process.call.read_thread);
  EXPECT_TRUE(h.process.call.read_thread->WaitForExit(5000));
  EXPECT_EQ(h.process.call.read_thread->ExitCode(), 1u);
  h.Port().Deliver("TRANSPAC");
  EXPECT_EQ(h.Buffer(), "");
  EXPECT_TRUE(h.BoxTexts().empty());
  EXPECT_FALSE(h.Port().Timeouts());
}

TEST(ReadThreadTest, NoPortHandleShowsOneBoxAndEnds) {
  ConnectedHarness h(true, [](sim::SimLineDevice& d) {
    d.faults.get_id_call.code = platform::kLineErrOperationFailed;
  });
  h.Connect();
  ASSERT_TRUE(h.process.call.read_thread);
  EXPECT_TRUE(h.process.call.read_thread->WaitForExit(5000));
  EXPECT_EQ(h.process.call.read_thread->ExitCode(), 1u);
  h.PumpFor(10);  // the box is shown from the main thread's queue
  const auto boxes = h.sim.windows.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Erreur dans l'obtention du handle du modem pour le transfert");
  EXPECT_EQ(boxes[0].title, "");
}

TEST(ReadThreadTest, LinkAlreadyDownMakesNoReadButRunsTheEndSteps) {
  LineHarness h;
  h.process.job.is_windows_nt = true;
  ASSERT_EQ(h.Start(), 0);
  ASSERT_EQ(h.Call(), 1);
  h.PumpFor(10);  // the call exists, not yet connected: no thread
  h.process.call.link_active = false;
  EXPECT_EQ(ReadThread(h.process, {&line::GetPortHandle, &line::OnPortLost}), 0u);
  auto& port = h.telephony.Port();
  EXPECT_EQ(port.Count(SimPortOp::kRead), 0u);
  EXPECT_EQ(port.Count(SimPortOp::kFlush), 1u);
  EXPECT_EQ(port.Count(SimPortOp::kPurge), 1u);
  EXPECT_FALSE(h.process.line.port.open());
}

// A few failures are cleared and reading goes on; failures that last (the port went
// away) are tried a few times a second, then the call ends as a hang-up does. The
// pauses between tries pass on the simulated clock.
TEST(ReadThreadTest, ReadErrorsAreClearedUntilTheyLast) {
  struct Case {
    unsigned failures;
    bool port_lost;
    std::uint64_t paused_ms;  // the pauses before the last failure seen
  };
  for (const Case c : {Case{3, false, 10 + 20}, Case{8, false, 10 + 20 + 40 + 80 + 160 + 500},
                       Case{100000, true, 310 + 7 * 250}}) {
    ConnectedHarness h;
    h.Connect();
    h.Port().FailNextReads(c.failures);
    // The faults fall on reads made in real time, the pauses on simulated time: wait
    // for them, with a bound on both.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto waiting = [&] {
      return c.port_lost ? h.process.call.read_thread->IsRunning()
                         : h.Port().Count(SimPortOp::kClearCommError) < c.failures;
    };
    const std::uint64_t start_ms = h.sim.world.Now();
    while (waiting() && std::chrono::steady_clock::now() < deadline &&
           h.sim.world.Now() - start_ms < 60'000) {
      h.PumpFor(5);
    }
    EXPECT_GE(h.sim.world.Now() - start_ms, c.paused_ms) << c.failures;
    EXPECT_GE(h.Port().Count(SimPortOp::kClearCommError), std::min(c.failures, 3u));
    if (!c.port_lost) {
      h.Port().Deliver("COM");
      EXPECT_EQ(h.Buffer(), "COM");
      EXPECT_TRUE(h.process.call.read_thread->IsRunning());
      continue;
    }
    EXPECT_FALSE(h.process.call.read_thread->IsRunning());
    EXPECT_LE(h.Port().Count(SimPortOp::kClearCommError), 20u);  // no spinning
    EXPECT_TRUE(h.process.line.port.open());  // the main thread may be writing on it
    h.PumpFor(10);
    EXPECT_EQ(h.process.call.call_state, platform::kCallStateDisconnected);
    EXPECT_FALSE(h.process.call.link_active);
    EXPECT_FALSE(h.process.line.port.open());
  }
}

TEST(ReadThreadTest, ReceiveBusyHolderNeverSeesPartOfAChunk) {
  ConnectedHarness h;
  h.Connect();
  const std::string chunk(10, 'x');
  for (int i = 0; i < 40; ++i) h.Port().DeliverAt(h.sim.world.Now() + 1 + i, chunk);
  const std::uint64_t end = h.sim.world.Now() + 60;
  while (h.sim.world.Now() < end) {
    {
      ReceiveBusySection section(h.process);
      EXPECT_EQ(h.process.receive.buffer.size() % chunk.size(), 0u);
    }
    exchange::PumpMessage(h.process);
  }
  EXPECT_EQ(h.Buffer().size(), 400u);
}

}  // namespace
}  // namespace korval::link
