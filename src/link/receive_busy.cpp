#include "link/receive_busy.h"

#include "platform/main_thread.h"
#include "process/process.h"

namespace korval::link {

void TakeReceiveBusy(Process& process) {
  platform::ExpectMainThread("TakeReceiveBusy");
  while (process.receive.busy.test_and_set(std::memory_order_acquire)) {
    process.os.windows.PumpMessage();
  }
}

void TakeReceiveBusyOnReader(Process& process) {
  while (process.receive.busy.test_and_set(std::memory_order_acquire)) {
    process.receive.busy.wait(true, std::memory_order_relaxed);
  }
}

void ReleaseReceiveBusy(Process& process) {
  platform::ExpectMainThread("ReleaseReceiveBusy");
  process.receive.busy.clear(std::memory_order_release);
  process.receive.busy.notify_all();
}

void ReleaseReceiveBusyOnReader(Process& process) {
  process.receive.busy.clear(std::memory_order_release);
  // Only the read thread wakes the main thread: a wake-up from the main thread's own
  // sections would end its next idle wait at once, and its polling loops would spin.
  process.os.windows.Wake();
}

}  // namespace korval::link
