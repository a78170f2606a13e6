#pragma once
// Virtual time for the simulated platform: a tick count that moves only when the main
// thread waits, and the scripted happenings of the simulated world.

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "platform/clock.h"

namespace korval::platform::sim {

class SimWorld final : public Clock {
 public:
  // start_tick lets a test put the tick count's wrap-around inside a wait.
  explicit SimWorld(std::uint32_t start_tick = 1000) : start_tick_(start_tick) {}

  std::uint32_t TickCount() override {
    return start_tick_ + static_cast<std::uint32_t>(now_ms_);
  }
  // Milliseconds of virtual time since the world began.
  std::uint64_t Now() const { return now_ms_; }

  // Main thread only: run action when virtual time reaches at_ms.
  void At(std::uint64_t at_ms, std::function<void()> action);
  void After(std::uint64_t delay_ms, std::function<void()> action) {
    At(now_ms_ + delay_ms, std::move(action));
  }

  // Called when the main thread has nothing to do: runs what is due, or else moves
  // time on by at most max_ms (less when something is scheduled sooner) and runs what
  // became due. Then every settle hook runs, so that the read thread has taken what
  // arrived before the main thread goes on.
  void AdvanceIdle(std::uint64_t max_ms);
  void AddSettleHook(std::function<void()> hook) { settle_hooks_.push_back(std::move(hook)); }

 private:
  bool RunDue();

  std::uint32_t start_tick_;
  std::uint64_t now_ms_ = 0;
  std::uint64_t sequence_ = 0;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::function<void()>> scheduled_;
  std::vector<std::function<void()>> settle_hooks_;
};

}  // namespace korval::platform::sim
