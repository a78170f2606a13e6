#pragma once
#include <string_view>

namespace korval {
struct Process;
}

namespace korval::app {

// The process's exit status. The job's outcome also stays in the job file, where the
// calling application reads it.
inline constexpr int kExitSucceeded = 0;         // Retour "1" written
inline constexpr int kExitFailed = 1;            // Retour "0" written
inline constexpr int kExitNoExchange = 2;        // no exchange attempted
inline constexpr int kExitNoTelephony = 3;       // the telephony could not be started
inline constexpr int kExitOutcomeUnwritten = 4;  // the job file would not take the outcome

// Start-up: parses the command line, starts the telephony line, runs the main window
// (which runs the job), shuts the line down.
int RunCommApp(Process& process, std::string_view arguments);

}  // namespace korval::app
