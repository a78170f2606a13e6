#include "exchange/pump.h"

#include <gtest/gtest.h>

#include "harness/line_harness.h"

namespace korval::exchange {
namespace {

// The queue's idle block may be long when nothing waits; a pause must still end on
// its deadline, since the far end times the quiet that pauses make.
struct PauseCase {
  std::uint64_t idle_step_ms;
  std::uint32_t pause_ms;
};

class PauseDeadlineTest : public ::testing::TestWithParam<PauseCase> {};

TEST_P(PauseDeadlineTest, EndsOnItsDeadlineWhateverTheIdleBlock) {
  testing::JobHarness h;
  h.sim.windows.SetIdleStep(GetParam().idle_step_ms);
  const std::uint64_t start = h.sim.world.Now();
  Pause(h.process, GetParam().pause_ms);
  EXPECT_EQ(h.sim.world.Now() - start, GetParam().pause_ms);

  const std::uint64_t second = h.sim.world.Now();
  EXPECT_TRUE(PauseWhileCallUp(h.process, GetParam().pause_ms));
  EXPECT_EQ(h.sim.world.Now() - second, GetParam().pause_ms);
}

INSTANTIATE_TEST_SUITE_P(IdleBlocks, PauseDeadlineTest,
                         ::testing::Values(PauseCase{1, 100}, PauseCase{50, 100},
                                           PauseCase{50, 130}, PauseCase{500, 2000},
                                           PauseCase{500, 1}));

TEST(DispatchWaiting, NeverWaitsForTheIdleBlock) {
  testing::JobHarness h;
  h.sim.windows.SetIdleStep(50);
  const std::uint64_t start = h.sim.world.Now();
  for (int turn = 0; turn < 10; ++turn) DispatchWaiting(h.process);
  // The simulated platform's least step is one millisecond.
  EXPECT_LE(h.sim.world.Now() - start, 10u);
}

TEST(AwaitAnswerTest, EitherTextEndsTheWait) {
  for (const char* answer : {"xxNOK 1234", "  OK 0000"}) {
    testing::ConnectedLineHarness h;
    h.Port().DeliverAt(h.sim.world.Now() + 500, answer);
    EXPECT_EQ(AwaitAnswer(h.process, "NOK", "OK "), 1) << answer;
    EXPECT_EQ(h.process.call.call_state, platform::kCallStateConnected);
  }
}

TEST(AwaitAnswerTest, EndedCallGivesZeroWhateverTheBufferHolds) {
  testing::ConnectedLineHarness h;
  h.Port().Deliver("TRANSPAC");
  h.process.call.call_state = platform::kCallStateIdle;
  EXPECT_EQ(AwaitAnswer(h.process, "TRANSPAC", ""), 0);
  EXPECT_EQ(h.process.call.call_state, platform::kCallStateIdle);  // marked, then dropped
  EXPECT_GE(h.CallsOf("lineDrop"), 1u);
  EXPECT_FALSE(h.process.line.port.open());
  EXPECT_FALSE(h.process.call.link_active);
}

TEST(AwaitAnswerTest, SilenceEndsAtTheBound) {
  struct Case {
    const char* win_ini;
    std::uint64_t bound_ms;
  };
  for (const Case& c : {Case{"", 120'000}, Case{"[KORVAL]\r\nDelaiReponse=5\r\n", 5'000},
                        Case{"[KORVAL]\r\nDelaiReponse=abc\r\n", 120'000}}) {
    testing::ConnectedLineHarness h;
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

TEST(AwaitAnswerTest, AReplyInTheLastTurnCounts) {
  // DelaiReponse=5: the turn that passes 5000 ms is the last one.
  struct Case {
    std::uint64_t arrives_ms;
    const char* reply;
    int result;
  };
  for (const Case& c : {Case{5'000, "COM", 1}, Case{5'001, "COM", 1}, Case{5'001, "NOK", 1},
                        Case{5'002, "COM", 0}}) {
    testing::ConnectedLineHarness h;
    h.WinIni("[KORVAL]\r\nDelaiReponse=5\r\n");
    h.Port().DeliverAt(h.sim.world.Now() + c.arrives_ms, c.reply);
    EXPECT_EQ(AwaitAnswer(h.process, "COM", "NOK"), c.result) << c.arrives_ms << " " << c.reply;
  }
}

}  // namespace
}  // namespace korval::exchange
