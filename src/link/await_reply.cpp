#include "link/await_reply.h"

#include "link/receive_busy.h"
#include "link/time_limits.h"
#include "platform/main_thread.h"
#include "process/process.h"

namespace korval::link {
namespace {

bool BufferHolds(Process& process, const std::string& expected, const std::string& alternative) {
  ReceiveBusySection section(process);
  const std::string& buffer = process.receive.buffer;
  return buffer.find(expected) != std::string::npos ||
         (!alternative.empty() && buffer.find(alternative) != std::string::npos);
}

}  // namespace

ReplyWait AwaitReply(Process& process, const std::string& expected,
                     const std::string& alternative) {
  const std::uint32_t limit_ms = ReadLimitMs(process, kReplyWaitKey, kReplyWaitDefaultS);
  return AwaitReplyWithin(process, expected, alternative, limit_ms);
}

ReplyWait AwaitReplyWithin(Process& process, const std::string& expected,
                           const std::string& alternative, std::uint32_t limit_ms) {
  platform::ExpectMainThread("AwaitReplyWithin");
  const std::uint32_t start = process.os.clock.TickCount();
  // The first turn does not block: the reply may be in the buffer already, its
  // wake-up spent on an earlier wait.
  for (bool first = true;; first = false) {
    process.os.windows.PumpMessageWithin(
        first ? 0 : WaitLeftMs(start, limit_ms, process.os.clock.TickCount()));
    // The state comes first: a call that is down ends the wait whatever the buffer holds.
    // The deadline comes last: a reply that came in the last turn still counts.
    if (process.call.ended()) return ReplyWait::kCallEnded;
    if (BufferHolds(process, expected, alternative)) return ReplyWait::kReplied;
    if (process.os.clock.TickCount() - start > limit_ms) return ReplyWait::kTimedOut;
  }
}

}  // namespace korval::link
