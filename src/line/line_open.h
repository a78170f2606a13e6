#pragma once
#include <cstdint>

#include "platform/types.h"

namespace korval {
struct Process;
}

namespace korval::line {

// Opens the line and sets up its port: 0, a telephony error code, or -1. On failure
// the telephony has been shut down.
int OpenLine(Process& process, platform::WindowHandle window);

// The first address that can answer calls, and its records: 0, an error, or -1.
std::int32_t ChooseAddress(Process& process);
// The port's COMMPROP, read twice so the second read holds the provider's block.
int ReadPortProperties(Process& process);
// Queue sizes, and 8 data bits, no parity, one stop bit when the port has other ones.
int ConfigurePort(Process& process);

}  // namespace korval::line
