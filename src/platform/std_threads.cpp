#include "platform/std_threads.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace korval::platform {
namespace {

// The thread's end is published under a mutex so that a waiter can block on it with
// a bound instead of polling.
struct ExitState {
  std::mutex mutex;
  std::condition_variable ended_cv;
  bool ended = false;
  std::uint32_t code = 0;
};

class StdThread final : public Thread {
 public:
  explicit StdThread(std::function<std::uint32_t()> body) : state_(std::make_shared<ExitState>()) {
    thread_ = std::thread([state = state_, body = std::move(body)] {
      const std::uint32_t code = body();
      std::lock_guard lock(state->mutex);
      state->code = code;
      state->ended = true;
      state->ended_cv.notify_all();
    });
  }

  // Releasing the handle never cuts the thread off: an unfinished thread is left to
  // end by itself, with its state kept alive by the shared pointer.
  ~StdThread() override {
    if (!thread_.joinable()) return;
    if (WaitForExit(0)) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

  bool WaitForExit(std::uint32_t timeout_ms) override {
    std::unique_lock lock(state_->mutex);
    return state_->ended_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                     [this] { return state_->ended; });
  }

  bool IsRunning() override { return !WaitForExit(0); }

  std::uint32_t ExitCode() override {
    std::lock_guard lock(state_->mutex);
    return state_->code;
  }

 private:
  std::shared_ptr<ExitState> state_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Thread> StdThreads::Start(std::function<std::uint32_t()> body) {
  try {
    return std::make_unique<StdThread>(std::move(body));
  } catch (const std::system_error&) {
    return nullptr;
  }
}

}  // namespace korval::platform
