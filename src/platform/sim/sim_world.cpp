#include "platform/sim/sim_world.h"

#include <algorithm>
#include <chrono>

namespace korval::platform::sim {

namespace {

// A sleeper whose main thread neither idles nor blocks (a test busy on its own) is
// not held longer than this.
constexpr std::chrono::milliseconds kSleepLimit{1000};

}  // namespace

void SimWorld::At(std::uint64_t at_ms, std::function<void()> action) {
  scheduled_.emplace(std::make_pair(std::max(at_ms, now_ms_), sequence_++), std::move(action));
}

void SimWorld::AdvanceIdle(std::uint64_t max_ms) {
  if (!RunDue()) {
    std::uint64_t target = now_ms_ + max_ms;
    if (!scheduled_.empty()) target = std::min(target, scheduled_.begin()->first.first);
    now_ms_ = target;
    PublishNow();
    SettleSleepers();
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

void SimWorld::PublishNow() {
  {
    std::lock_guard lock(sleep_mutex_);
    published_now_ms_ = now_ms_;
  }
  sleep_changed_.notify_all();
}

// A sleeper whose time has come is awake before the main thread goes on, as a reader
// is for a delivery.
void SimWorld::SettleSleepers() {
  std::unique_lock lock(sleep_mutex_);
  sleep_changed_.wait_for(lock, kSleepLimit, [&] {
    return sleeping_until_ms_.empty() || *sleeping_until_ms_.begin() > published_now_ms_;
  });
}

void SimWorld::Sleep(std::uint32_t ms) {
  if (std::this_thread::get_id() == main_thread_) {
    const std::uint64_t until = now_ms_ + ms;
    while (now_ms_ < until) AdvanceIdle(until - now_ms_);
    return;
  }
  std::unique_lock lock(sleep_mutex_);
  const std::uint64_t until = published_now_ms_ + ms;
  const auto sleeping = sleeping_until_ms_.insert(until);
  const auto started = std::chrono::steady_clock::now();
  const auto limit = started + kSleepLimit;
  sleep_changed_.wait_until(lock, limit,
                            [&] { return published_now_ms_ >= until || main_blocked_ > 0; });
  if (published_now_ms_ < until) {
    const auto real_end = std::min(limit, started + std::chrono::milliseconds(ms));
    sleep_changed_.wait_until(lock, real_end, [&] { return published_now_ms_ >= until; });
  }
  sleeping_until_ms_.erase(sleeping);
  lock.unlock();
  sleep_changed_.notify_all();
}

SimWorld::MainThreadBlocked::MainThreadBlocked(SimWorld& world)
    : world_(world), counted_(std::this_thread::get_id() == world.main_thread_) {
  if (!counted_) return;
  {
    std::lock_guard lock(world_.sleep_mutex_);
    ++world_.main_blocked_;
  }
  world_.sleep_changed_.notify_all();
}

SimWorld::MainThreadBlocked::~MainThreadBlocked() {
  if (!counted_) return;
  std::lock_guard lock(world_.sleep_mutex_);
  --world_.main_blocked_;
}

}  // namespace korval::platform::sim
