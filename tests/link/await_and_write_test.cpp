#include <gtest/gtest.h>

#include "exchange/pump.h"
#include "harness/line_harness.h"
#include "line/port_handle.h"
#include "link/receive_busy.h"
#include "link/write_link.h"
#include "platform/sim/sim_telephony.h"

namespace korval::link {
namespace {

namespace sim = platform::sim;
using exchange::AwaitAnswer;  // the wait and the hang-up when no reply comes
using sim::SimPortOp;

struct LinkHarness : testing::LineHarness {
  explicit LinkHarness(bool nt = true) {
    process.job.is_windows_nt = nt;
    telephony.ModifyDevice(0, [](sim::SimLineDevice& d) { d.script = sim::ConnectingCall(100); });
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(Call(), 1);
    PumpFor(200);
    // As the connection does: the main thread takes its own handle.
    EXPECT_EQ(line::GetPortHandle(process), 0);
  }
  sim::SimSerialPort& Port() { return telephony.Port(); }
};

TEST(AwaitReplyTest, EitherTextEndsTheWait) {
  for (const char* answer : {"xxNOK 1234", "  OK 0000"}) {
    LinkHarness h;
    h.Port().DeliverAt(h.sim.world.Now() + 500, answer);
    EXPECT_EQ(AwaitAnswer(h.process, "NOK", "OK "), 1) << answer;
    EXPECT_EQ(h.process.call.call_state, platform::kCallStateConnected);
  }
}

TEST(AwaitReplyTest, EndedCallGivesZeroWhateverTheBufferHolds) {
  LinkHarness h;
  h.Port().Deliver("TRANSPAC");
  h.process.call.call_state = platform::kCallStateIdle;
  EXPECT_EQ(AwaitAnswer(h.process, "TRANSPAC", ""), 0);
  EXPECT_EQ(h.process.call.call_state, platform::kCallStateIdle);  // marked, then dropped
  EXPECT_GE(h.CallsOf("lineDrop"), 1u);
  EXPECT_FALSE(h.process.line.port.open());
  EXPECT_FALSE(h.process.call.link_active);
}

TEST(AwaitReplyTest, SilenceEndsAtTheBound) {
  struct Case {
    const char* win_ini;
    std::uint64_t bound_ms;
  };
  for (const Case& c : {Case{"", 120'000}, Case{"[KORVAL]\r\nDelaiReponse=5\r\n", 5'000},
                        Case{"[KORVAL]\r\nDelaiReponse=abc\r\n", 120'000}}) {
    LinkHarness h;
    h.WinIni(c.win_ini);
    const std::uint64_t start = h.sim.world.Now();
    EXPECT_EQ(AwaitAnswer(h.process, "COM", ""), 0);
    const std::uint64_t waited = h.sim.world.Now() - start;
    EXPECT_GE(waited, c.bound_ms);
    EXPECT_LT(waited, c.bound_ms + 2'100);  // plus the hang-up's own wait
    EXPECT_EQ(h.process.call.call_state, platform::kCallStateIdle);
    EXPECT_FALSE(h.process.line.port.open());
  }
}

TEST(AwaitReplyTest, AReplyInTheLastTurnCounts) {
  // DelaiReponse=5: the turn that passes 5000 ms is the last one.
  struct Case {
    std::uint64_t arrives_ms;
    const char* reply;
    int result;
  };
  for (const Case& c : {Case{5'000, "COM", 1}, Case{5'001, "COM", 1}, Case{5'001, "NOK", 1},
                        Case{5'002, "COM", 0}}) {
    LinkHarness h;
    h.WinIni("[KORVAL]\r\nDelaiReponse=5\r\n");
    h.Port().DeliverAt(h.sim.world.Now() + c.arrives_ms, c.reply);
    EXPECT_EQ(AwaitAnswer(h.process, "COM", "NOK"), c.result) << c.arrives_ms << " " << c.reply;
  }
}

TEST(WriteLinkTest, WritesOnlyWhileTheLinkIsUp) {
  LinkHarness h;
  const std::size_t writes_before = h.Port().Count(SimPortOp::kWrite);
  EXPECT_EQ(WriteLink(h.process, "abc", 0), 0u);
  EXPECT_EQ(h.Port().Count(SimPortOp::kWrite), writes_before);
  EXPECT_EQ(h.Port().Count(SimPortOp::kFlush), 0u);

  const std::string twenty(20, 'z');
  EXPECT_EQ(WriteLink(h.process, twenty), 20u);
  EXPECT_EQ(h.Port().Written(), twenty);
  EXPECT_EQ(h.Port().Count(SimPortOp::kFlush), 1u);

  line::HangUp(h.process);
  EXPECT_EQ(WriteLink(h.process, twenty), 0u);
  EXPECT_EQ(h.Port().Written(), twenty);
}

TEST(WriteLinkTest, PlainModeWritesWithoutFlush) {
  LinkHarness h(false);
  EXPECT_EQ(WriteLink(h.process, std::string(20, 'z')), 20u);
  EXPECT_EQ(h.Port().Count(SimPortOp::kFlush), 0u);
}

TEST(WriteLinkTest, FailedWriteLogsOnceAndReturnsWhatWent) {
  struct Case {
    bool nt;
    sim::SimWriteFault fault;
  };
  using Kind = sim::SimWriteFault::Kind;
  for (const Case& c : {Case{true, {Kind::kFail, 7}}, Case{false, {Kind::kFail, 7}},
                        Case{true, {Kind::kWaitFail, 7}}}) {
    LinkHarness h(c.nt);
    h.Port().ScriptWriteFault(c.fault);
    if (c.fault.kind == Kind::kWaitFail) {
      h.telephony.ModifyDevice(
          0, [](sim::SimLineDevice& d) { d.port.overlapped_write_pending = true; });
      h.Port().ScriptWriteFault(c.fault);
    }
    EXPECT_LT(WriteLink(h.process, std::string(20, 'z')), 20u);
    EXPECT_EQ(h.sim.diagnostics.Debug().back(), "Probl\xE8me dans l'\351criture des donn\351es !");
    EXPECT_EQ(h.Port().Count(SimPortOp::kFlush), c.nt ? 1u : 0u);
  }
}

}  // namespace
}  // namespace korval::link
