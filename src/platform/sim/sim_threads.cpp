#include "platform/sim/sim_threads.h"

#include <utility>

namespace korval::platform::sim {
namespace {

class SimThread final : public Thread {
 public:
  SimThread(SimWorld& world, std::unique_ptr<Thread> thread)
      : world_(world), thread_(std::move(thread)) {}

  bool WaitForExit(std::uint32_t timeout_ms) override {
    if (timeout_ms == 0) return thread_->WaitForExit(0);
    SimWorld::MainThreadBlocked blocked(world_);
    return thread_->WaitForExit(timeout_ms);
  }
  bool IsRunning() override { return thread_->IsRunning(); }
  std::uint32_t ExitCode() override { return thread_->ExitCode(); }

 private:
  SimWorld& world_;
  std::unique_ptr<Thread> thread_;
};

}  // namespace

std::unique_ptr<Thread> SimThreads::Start(std::function<std::uint32_t()> body) {
  std::unique_ptr<Thread> thread = threads_.Start(std::move(body));
  if (!thread) return nullptr;
  return std::make_unique<SimThread>(world_, std::move(thread));
}

}  // namespace korval::platform::sim
