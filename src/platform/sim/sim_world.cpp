#include "platform/sim/sim_world.h"

#include <algorithm>

namespace korval::platform::sim {

void SimWorld::At(std::uint64_t at_ms, std::function<void()> action) {
  scheduled_.emplace(std::make_pair(std::max(at_ms, now_ms_), sequence_++), std::move(action));
}

void SimWorld::AdvanceIdle(std::uint64_t max_ms) {
  if (!RunDue()) {
    std::uint64_t target = now_ms_ + max_ms;
    if (!scheduled_.empty()) target = std::min(target, scheduled_.begin()->first.first);
    now_ms_ = target;
    RunDue();
  }
  for (auto& hook : settle_hooks_) hook();
}

bool SimWorld::RunDue() {
  bool ran = false;
  // Actions may schedule more; take them one at a time in time order.
  while (!scheduled_.empty() && scheduled_.begin()->first.first <= now_ms_) {
    auto action = std::move(scheduled_.begin()->second);
    scheduled_.erase(scheduled_.begin());
    action();
    ran = true;
  }
  return ran;
}

}  // namespace korval::platform::sim
