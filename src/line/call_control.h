#pragma once
#include <cstdint>
#include <string>

#include "platform/types.h"

namespace korval {
struct Process;
}

namespace korval::line {

// Requests the data call; 1 when requested (it proceeds through line events), 0 when
// the request failed after the user was told. Converts letters of number in place.
int PlaceCall(Process& process, std::string& number, platform::WindowHandle window);
// Letters become the keypad digits that carry them.
void KeypadDigits(std::string& text);

// Every line event, on the main thread, from inside message dispatching.
void LineCallback(Process& process, std::uint32_t device, std::uint32_t message,
                  std::uintptr_t instance, std::uintptr_t param1, std::uintptr_t param2,
                  std::uintptr_t param3);

// Stops the read thread, closes the capture file, drops the call and waits a little
// for it to become idle.
void HangUp(Process& process);
void StopReadThread(Process& process);

// On the main thread, after the read thread gave up a port that kept failing: the
// call ends as when the far end hangs up.
void OnPortLost(Process& process);

// True once the line reported the call idle or disconnected.
bool CallEnded(const Process& process);

}  // namespace korval::line
