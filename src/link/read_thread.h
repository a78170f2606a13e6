#pragma once
#include <cstdint>

namespace korval {
struct Process;
}

namespace korval::link {

inline constexpr std::size_t kReadChunkBytes = 200;

// What the read thread needs of the line that starts it; the link sits below the line.
struct LineAccess {
  // Takes a port handle through the current call: 0 with PortHandle set, or -1.
  int (*get_port_handle)(Process& process);
  // Posted to the main thread once the port has failed for too long.
  void (*on_port_lost)(Process& process);
};

// The read thread's body: serves the port while LinkActive is set. Exit code 0 after
// a normal end, 1 when it never served the port.
std::uint32_t ReadThread(Process& process, LineAccess line);
// Lets the port take I/O again after an error; the error code is not used.
void ClearPortError(Process& process, std::uint32_t last_error);

}  // namespace korval::link
