#pragma once
// Threads made with the standard library, for the back-ends that need nothing else.

#include "platform/threads.h"

namespace korval::platform {

class StdThreads final : public Threads {
 public:
  std::unique_ptr<Thread> Start(std::function<std::uint32_t()> body) override;
};

}  // namespace korval::platform
