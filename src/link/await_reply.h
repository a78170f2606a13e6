#pragma once
#include <cstdint>
#include <string>

namespace korval {
struct Process;
}

namespace korval::link {

// Waits on the main thread until ReceiveBuffer holds expected (or alternative, when
// not empty): 1. 0 when the call has ended or the reply did not come in time; the
// call has then been marked disconnected, hung up, and the port closed.
int AwaitReply(Process& process, const std::string& expected, const std::string& alternative);

enum class ReplyWait { kReplied, kCallEnded, kTimedOut };
// The same wait bounded by limit_ms, saying how it ended.
ReplyWait AwaitReplyWithin(Process& process, const std::string& expected,
                           const std::string& alternative, std::uint32_t limit_ms);

}  // namespace korval::link
