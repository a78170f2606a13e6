#pragma once
#include "platform/types.h"

namespace korval {
struct Process;
}

namespace korval::line {

// 0 on success, a negative telephony error code on failure.
int StartTelephony(Process& process, platform::WindowHandle window,
                   platform::InstanceHandle instance);
// Releases everything; safe in any state, any number of times.
void ShutdownTelephony(Process& process);
bool IsTelephonyReady(const Process& process);

}  // namespace korval::line
