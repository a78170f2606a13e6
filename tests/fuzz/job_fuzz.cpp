// A whole job on the simulated platform, everything the soak draws from a seed drawn
// from the fuzzer's input instead: the kind of job, the file or the statement, the
// site's settings, the far end's faults and the line's events.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fuzzer/FuzzedDataProvider.h>

#include "soak/exchange_scenario.h"

namespace {

class FuzzedDraw final : public korval::soak::Draw {
 public:
  explicit FuzzedDraw(FuzzedDataProvider& input) : input_(input) {}
  std::uint64_t Below(std::uint64_t n) override {
    return input_.ConsumeIntegralInRange<std::uint64_t>(0, n - 1);
  }

 private:
  FuzzedDataProvider& input_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  FuzzedDraw draw(input);
  const korval::soak::Scenario scenario = korval::soak::DrawScenario(draw);
  const korval::soak::Outcome outcome = korval::soak::RunScenario(scenario);
  if (outcome.violations.empty()) return 0;
  std::fprintf(stderr, "job: %s\n", scenario.Describe().c_str());
  for (const std::string& what : outcome.violations) std::fprintf(stderr, "  %s\n", what.c_str());
  std::abort();
}
