#include "exchange/pump.h"

#include "line/call_control.h"
#include "link/receive_busy.h"
#include "process/process.h"

namespace korval::exchange {

void PumpMessage(Process& process) { process.os.windows.PumpMessage(); }

void DispatchWaiting(Process& process) { process.os.windows.PumpMessageWithin(0); }

namespace {

// Turns the queue for ms milliseconds, the idle block bounded by what is left so that
// the pause ends on time; false as soon as stop() holds.
template <typename Stop>
bool TurnQueueFor(Process& process, std::uint32_t ms, Stop stop) {
  const std::uint32_t start = process.os.clock.TickCount();
  for (std::uint32_t elapsed = 0; elapsed < ms;
       elapsed = process.os.clock.TickCount() - start) {
    process.os.windows.PumpMessageWithin(ms - elapsed);
    if (stop()) return false;
  }
  return true;
}

}  // namespace

void Pause(Process& process, std::uint32_t ms) {
  // A stop the user asked for ends even the pauses that do not follow the call.
  TurnQueueFor(process, ms, [&process] { return process.job.stopped_by_user; });
}

bool PauseWhileCallUp(Process& process, std::uint32_t ms) {
  return TurnQueueFor(process, ms, [&process] { return line::CallEnded(process); });
}

void EmptyReceiveBuffer(Process& process) {
  link::ReceiveBusySection section(process);
  process.receive.buffer.clear();
}

}  // namespace korval::exchange
