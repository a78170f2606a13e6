#pragma once
// The conventions every exchange step follows: waits turn the main thread's queue.

#include <cstdint>

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
// Empties ReceiveBuffer under ReceiveBusy.
void EmptyReceiveBuffer(Process& process);

}  // namespace korval::exchange
