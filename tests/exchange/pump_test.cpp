#include "exchange/pump.h"

#include <gtest/gtest.h>

#include "harness/job_harness.h"

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

}  // namespace
}  // namespace korval::exchange
