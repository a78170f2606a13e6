#include <gtest/gtest.h>

#include "harness/line_harness.h"
#include "link/receive_busy.h"
#include "link/write_link.h"
#include "platform/sim/sim_telephony.h"

namespace korval::link {
namespace {

namespace sim = platform::sim;
using sim::SimPortOp;

TEST(WriteLinkTest, WritesOnlyWhileTheLinkIsUp) {
  testing::ConnectedLineHarness h;
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
  testing::ConnectedLineHarness h(false);
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
    testing::ConnectedLineHarness h(c.nt);
    h.Port().ScriptWriteFault(c.fault);
    if (c.fault.kind == Kind::kWaitFail) {
      h.telephony.ModifyDevice(0, [](sim::SimLineDevice& d) {
        d.port.overlapped_write_pending = true;
      });
      h.Port().ScriptWriteFault(c.fault);
    }
    EXPECT_LT(WriteLink(h.process, std::string(20, 'z')), 20u);
    EXPECT_EQ(h.sim.diagnostics.Debug().back(), "Probl\xE8me dans l'\xE9" "criture des donn\xE9" "es !");
    EXPECT_EQ(h.Port().Count(SimPortOp::kFlush), c.nt ? 1u : 0u);
  }
}

}  // namespace
}  // namespace korval::link
