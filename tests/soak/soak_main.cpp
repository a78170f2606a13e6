// Many random exchanges in virtual time, each checked against what must hold whatever
// the far end, the line or the disk did. A seed replays its exchange exactly.
//
//   korval_soak [--seeds N] [--from S] [--verbose]

#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <string_view>

#include "soak/exchange_scenario.h"

namespace {

class SeededDraw final : public korval::soak::Draw {
 public:
  explicit SeededDraw(std::uint64_t seed) : generator_(seed) {}
  std::uint64_t Below(std::uint64_t n) override {
    return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(generator_);
  }

 private:
  std::mt19937_64 generator_;
};

bool ParseCount(const char* text, std::uint64_t* value) {
  char* end = nullptr;
  *value = std::strtoull(text, &end, 10);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t seeds = 100;
  std::uint64_t from = 1;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--verbose") {
      verbose = true;
    } else if ((arg == "--seeds" || arg == "--from") && i + 1 < argc &&
               ParseCount(argv[i + 1], arg == "--seeds" ? &seeds : &from)) {
      ++i;
    } else {
      std::cerr << "usage: " << argv[0] << " [--seeds N] [--from S] [--verbose]\n";
      return 2;
    }
  }

  std::uint64_t failed = 0;
  std::uint64_t succeeded = 0;
  std::uint64_t faults[korval::soak::kFaultKinds] = {};
  std::uint64_t longest_ms = 0;
  for (std::uint64_t seed = from; seed < from + seeds; ++seed) {
    SeededDraw draw(seed);
    const korval::soak::Scenario scenario = korval::soak::DrawScenario(draw);
    for (korval::soak::Fault fault : scenario.faults) ++faults[static_cast<std::size_t>(fault)];
    const korval::soak::Outcome outcome = korval::soak::RunScenario(scenario);
    if (outcome.succeeded) ++succeeded;
    if (outcome.virtual_ms > longest_ms) longest_ms = outcome.virtual_ms;
    if (verbose) {
      std::cout << "seed " << seed << ": " << (outcome.succeeded ? "Retour=1" : "Retour=0")
                << " in " << outcome.virtual_ms << " ms; " << scenario.Describe() << "\n";
    }
    if (outcome.violations.empty()) continue;
    ++failed;
    std::cout << "seed " << seed << " FAILED: " << scenario.Describe() << "\n";
    for (const std::string& what : outcome.violations) std::cout << "  " << what << "\n";
    std::cout << "  replay: " << argv[0] << " --seeds 1 --from " << seed << " --verbose\n";
  }

  std::cout << seeds << " seeds from " << from << ": " << succeeded << " succeeded, " << failed
            << " violated an invariant; longest run " << longest_ms / 1000
            << " s of virtual time\nfaults drawn:";
  for (std::size_t i = 0; i < korval::soak::kFaultKinds; ++i) {
    std::cout << " " << korval::soak::FaultName(static_cast<korval::soak::Fault>(i)) << "="
              << faults[i];
  }
  std::cout << "\n";
  return failed == 0 ? 0 : 1;
}
