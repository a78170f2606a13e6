#pragma once
#include <cstdint>

namespace korval {
struct Process;
}

namespace korval::link {

inline constexpr std::size_t kReadChunkBytes = 200;

// The read thread's body: serves the port while LinkActive is set. Exit code 0 after
// a normal end, 1 when it never served the port.
std::uint32_t ReadThread(Process& process);
// Lets the port take I/O again after an error; the error code is not used.
void ClearPortError(Process& process, std::uint32_t last_error);

}  // namespace korval::link
