#pragma once
#include <cstdint>
#include <string>

namespace korval {
struct Process;
}

namespace korval::line {

// A plain box with no owner, captioned "Erreur", OK only.
void ShowErrorBox(Process& process, const std::string& text);
// The error code's name, when it has one; nothing otherwise.
void ReportLineError(Process& process, std::uint32_t code);
// The system's own text for an error code (the thread's last error, taken right
// after the failed call), captioned "GetLastError".
void ReportSystemError(Process& process, std::uint32_t error_code);

}  // namespace korval::line
