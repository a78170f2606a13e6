#pragma once
// Real threads for the simulated platform. The main thread's wait for a thread's end
// is a wait outside the world: it tells the world, so that a thread sleeping on
// virtual time is not left waiting for time that cannot move.

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/sim/sim_world.h"
#include "platform/std_threads.h"

namespace korval::platform::sim {

class SimThreads final : public Threads {
 public:
  explicit SimThreads(SimWorld& world) : world_(world) {}
  std::unique_ptr<Thread> Start(std::function<std::uint32_t()> body) override;

 private:
  SimWorld& world_;
  StdThreads threads_;
};

}  // namespace korval::platform::sim
