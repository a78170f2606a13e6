#pragma once
#include <cstdint>
#include <string>

namespace korval {
struct Process;
}

namespace korval::exchange {

// A failure of the exchange told in a box, unless the user has stopped the exchange:
// the failure is then the stop's doing, not the bank's nor the network's.
void ShowFailureBox(Process& process, const std::string& text, const std::string& title,
                    std::uint32_t style);

}  // namespace korval::exchange
