#pragma once
#include <cstdint>
#include <string>

namespace korval {
struct Process;
}

namespace korval::link {

enum class ReplyWait { kReplied, kCallEnded, kTimedOut };

// Waits on the main thread until ReceiveBuffer holds expected (or alternative, when
// not empty), the call ends or limit_ms have passed, and says which. The call is left
// as it is: ending it is for the caller, above the line.
ReplyWait AwaitReplyWithin(Process& process, const std::string& expected,
                           const std::string& alternative, std::uint32_t limit_ms);
// The same bounded by the configured reply wait.
ReplyWait AwaitReply(Process& process, const std::string& expected, const std::string& alternative);

}  // namespace korval::link
