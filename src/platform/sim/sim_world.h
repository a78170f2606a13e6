#pragma once
// Virtual time for the simulated platform: a tick count that moves only when the main
// thread waits, and the scripted happenings of the simulated world.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace korval::platform::sim {

class SimWorld final : public Clock {
 public:
  // start_tick lets a test put the tick count's wrap-around inside a wait.
  explicit SimWorld(std::uint32_t start_tick = 1000)
      : start_tick_(start_tick), main_thread_(std::this_thread::get_id()) {}

  std::uint32_t TickCount() override { return start_tick_ + static_cast<std::uint32_t>(now_ms_); }
  // Milliseconds of virtual time since the world began.
  std::uint64_t Now() const { return now_ms_; }

  // Another thread waits until virtual time has moved on by ms (the main thread's
  // idle wait that reaches that time returns only once the sleeper woke); the main
  // thread moves it on itself, as an idle wait.
  void Sleep(std::uint32_t ms) override;
  // While the main thread is blocked outside the world (waiting for a thread to end),
  // nothing moves virtual time: sleepers then wait their time out in real time.
  class MainThreadBlocked {
   public:
    explicit MainThreadBlocked(SimWorld& world);
    ~MainThreadBlocked();
    MainThreadBlocked(const MainThreadBlocked&) = delete;
    MainThreadBlocked& operator=(const MainThreadBlocked&) = delete;

   private:
    SimWorld& world_;
    bool counted_;
  };

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
  void PublishNow();
  void SettleSleepers();

  std::uint32_t start_tick_;
  std::thread::id main_thread_;
  std::uint64_t now_ms_ = 0;
  std::uint64_t sequence_ = 0;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::function<void()>> scheduled_;
  std::vector<std::function<void()>> settle_hooks_;

  // What other threads' sleeps see of the world, under sleep_mutex_.
  std::mutex sleep_mutex_;
  std::condition_variable sleep_changed_;
  std::uint64_t published_now_ms_ = 0;
  std::multiset<std::uint64_t> sleeping_until_ms_;
  int main_blocked_ = 0;
};

}  // namespace korval::platform::sim
