// The window closed during a job (on Linux, SIGINT or SIGTERM): the stop is said as
// such, nothing is blamed on the bank or the network, and the process ends soon.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "harness/exchange_harness.h"

namespace korval::app {
namespace {

using testing::ExchangeHarness;

constexpr const char* kStopped = "\311change interrompu \xE0 la demande de l'utilisateur !";

struct StopCase {
  const char* name;
  std::function<void(ExchangeHarness&)> setup;
  std::uint64_t close_at_ms;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopTest, StopIsSaidFirstAndEndsTheJobWithinThreeSeconds) {
  const StopCase& c = GetParam();
  ExchangeHarness h;
  h.sim.files.Put(testing::kDataFile, testing::RecordsOf(3, 160));
  c.setup(h);
  h.sim.windows.CloseAt(c.close_at_ms);

  EXPECT_EQ(h.RunJob("L"), kExitFailed);

  EXPECT_LE(h.sim.world.Now(), c.close_at_ms + 3'000);
  EXPECT_EQ(h.JobKey("Retour"), "0");
  EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{});
  const std::vector<std::string> log = h.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), kStopped), 1);
  // What the ended waits do next shows nothing of their own.
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], kStopped);
  EXPECT_FALSE(h.process.call.read_thread);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, StopTest,
    ::testing::Values(
        StopCase{"WhileDialling", [](ExchangeHarness&) {}, 1'000},
        StopCase{"AwaitingTheBanner",
                 [](ExchangeHarness& h) { h.Bank().silent_at = netemu::Step::kBanner; }, 10'000},
        StopCase{"AwaitingTheCardsAnswer",
                 [](ExchangeHarness& h) { h.Bank().silent_at = netemu::Step::kCard; }, 20'000},
        // Under profile 7 most of a transfer is pauses that do not follow the call.
        StopCase{"InAProfile7Pause",
                 [](ExchangeHarness& h) {
                   h.WinIni("[" + std::string(testing::kSubscriber) + "]\r\nPROFIL7=O\r\n");
                 },
                 15'000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korval::app
