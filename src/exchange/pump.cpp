#include "exchange/pump.h"

#include "line/call_control.h"
#include "line/port_handle.h"
#include "link/await_reply.h"
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
  for (std::uint32_t elapsed = 0; elapsed < ms; elapsed = process.os.clock.TickCount() - start) {
    process.os.windows.PumpMessageWithin(ms - elapsed);
    if (stop()) return false;
  }
  return true;
}

int HangUpUnlessReplied(Process& process, link::ReplyWait wait) {
  if (wait == link::ReplyWait::kReplied) return 1;
  process.call.call_state = platform::kCallStateDisconnected;
  line::HangUp(process);
  line::ClosePort(process);
  return 0;
}

}  // namespace

void Pause(Process& process, std::uint32_t ms) {
  // A stop the user asked for ends even the pauses that do not follow the call.
  TurnQueueFor(process, ms, [&process] { return process.job.stopped_by_user; });
}

bool PauseWhileCallUp(Process& process, std::uint32_t ms) {
  return TurnQueueFor(process, ms, [&process] { return line::CallEnded(process); });
}

int AwaitAnswer(Process& process, const std::string& expected, const std::string& alternative) {
  return HangUpUnlessReplied(process, link::AwaitReply(process, expected, alternative));
}

int AwaitAnswerWithin(Process& process, const std::string& expected, const std::string& alternative,
                      std::uint32_t limit_ms) {
  return HangUpUnlessReplied(process,
                             link::AwaitReplyWithin(process, expected, alternative, limit_ms));
}

void EmptyReceiveBuffer(Process& process) {
  link::ReceiveBusySection section(process);
  process.receive.buffer.clear();
}

}  // namespace korval::exchange
