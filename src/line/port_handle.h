#pragma once
// Handles to the modem's port, obtained through the line or the call.

namespace korval {
struct Process;
}

namespace korval::line {

// A new handle through the current call: 0 and PortHandle/PortOpen set, or -1.
// Any thread (the read thread takes its own).
int GetPortHandle(Process& process);
// The same through the open line; main thread, line set-up only.
int GetLinePortHandle(Process& process);
// Closes PortHandle if PortOpen is set, and clears PortOpen. Either thread.
void ClosePort(Process& process);
// Ends the read under way on PortHandle and on the handles newer ones replaced: the
// read thread may still be reading one of those. Main thread.
void CancelPortReads(Process& process);
// Closes the handles that newer ones replaced. Main thread, only while no read thread
// can be using them.
void CloseRetiredPorts(Process& process);

}  // namespace korval::line
