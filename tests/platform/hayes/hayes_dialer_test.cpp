#include "platform/hayes/hayes_dialer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_world.h"

namespace korval::platform::hayes {
namespace {

// A port without modem lines whose modem answers nothing: every wait runs out, on
// virtual time that wraps around during the hang-up.
class SilentPort final : public HayesPort {
 public:
  explicit SilentPort(sim::SimWorld& world) : world_(world) {}
  Result Write(std::string_view text) override {
    written.emplace_back(text);
    return Result::kDone;
  }
  Result Read(std::string&, std::uint32_t deadline) override {
    const auto left = static_cast<std::int32_t>(deadline - world_.TickCount());
    if (left > 0) world_.AdvanceIdle(static_cast<std::uint64_t>(left));
    return Result::kTimeout;
  }
  bool SetDtr(bool) override { return false; }
  std::optional<bool> Carrier() override { return std::nullopt; }
  std::uint32_t DrainQuietMs(std::uint32_t) override { return 0; }
  void Pause(std::uint32_t ms) override { world_.AdvanceIdle(ms); }

  std::vector<std::string> written;

 private:
  sim::SimWorld& world_;
};

TEST(HayesDialerTest, HangingUpEndsWithinItsBound) {
  const struct {
    const char* name;
    std::vector<std::string> written;
  } cases[] = {
      // A modem that ignores the escape gets ATH all the same, and the short wait.
      {"EscapeIgnored", {"+++", "ATH\r"}},
  };
  for (const auto& c : cases) {
    sim::SimWorld world(0xFFFFF000u);
    SilentPort port(world);
    const DialTimings timings;
    HayesDialer(port, world, timings).HangUp();
    EXPECT_EQ(port.written, c.written) << c.name;
    EXPECT_LE(world.Now(), HayesDialer::HangUpBoundMs(timings) + HayesDialer::kLastCommandMs)
        << c.name;
  }
}

}  // namespace
}  // namespace korval::platform::hayes
