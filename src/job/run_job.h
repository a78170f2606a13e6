#pragma once
#include <string>

#include "log/progress_log.h"
#include "platform/types.h"

namespace korval {
struct Process;
}

namespace korval::job {

enum class JobAction { kNone, kStatement, kLcrFile, kTransferFile, kDadsFile };

JobAction ActionFromType(const std::string& type_action);
// Exactly 80 characters: cut, or padded with blanks.
std::string NormaliseCard(std::string card);

// Reads the job file, runs its exchange and writes the outcome back.
void RunJob(Process& process, platform::WindowHandle window, platform::InstanceHandle instance,
            const std::string& job_file_path, log::LogWindow* main_window);

}  // namespace korval::job
