#pragma once
// ReceiveBusy, the receive buffer's exclusion flag: an atomic test-and-set, held
// only for short sections that never wait for anything.

namespace korval {
struct Process;
}

namespace korval::link {

// Main thread: waits by turning the message queue, so the window stays alive.
void TakeReceiveBusy(Process& process);
// Read thread: blocks until the main thread releases the flag (no spinning).
void TakeReceiveBusyOnReader(Process& process);
// Main thread.
void ReleaseReceiveBusy(Process& process);
// Read thread: also wakes the main thread, which may wait for what was just stored.
void ReleaseReceiveBusyOnReader(Process& process);

// A section of the main thread under ReceiveBusy.
class ReceiveBusySection {
 public:
  explicit ReceiveBusySection(Process& process) : process_(process) { TakeReceiveBusy(process); }
  ~ReceiveBusySection() { ReleaseReceiveBusy(process_); }
  ReceiveBusySection(const ReceiveBusySection&) = delete;
  ReceiveBusySection& operator=(const ReceiveBusySection&) = delete;

 private:
  Process& process_;
};

}  // namespace korval::link
