#pragma once
// The conventions every exchange step follows: waits turn the main thread's queue.

#include <cstdint>
#include <string>

namespace korval {
struct Process;
}

namespace korval::exchange {

// One turn of the queue that may block briefly when nothing waits (polling loops).
void PumpMessage(Process& process);
// One turn that never blocks: lets waiting messages through between two steps.
void DispatchWaiting(Process& process);
// Turns the queue for ms milliseconds of the tick count.
void Pause(Process& process, std::uint32_t ms);
// The same, giving up as soon as the call has ended: false then.
bool PauseWhileCallUp(Process& process, std::uint32_t ms);
// The PAD's or the bank's answer: 1 when it came within the configured reply wait (or
// limit_ms). A wait that ended otherwise ends the call: marked disconnected, hung up
// and the port closed; 0 then.
int AwaitAnswer(Process& process, const std::string& expected, const std::string& alternative);
int AwaitAnswerWithin(Process& process, const std::string& expected, const std::string& alternative,
                      std::uint32_t limit_ms);
// Empties ReceiveBuffer under ReceiveBusy.
void EmptyReceiveBuffer(Process& process);

}  // namespace korval::exchange
