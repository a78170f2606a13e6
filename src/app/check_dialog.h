#pragma once
// The check of the set-up in the main window, for the Windows program: its lines go to
// the list box (and, through it, to a redirected standard output).

#include <string>

#include "platform/journal_store.h"
#include "platform/platform.h"
#include "platform/setup_probe.h"

namespace korval::app {

// Runs the check in the main window; the window then stays until the user closes it,
// unless close_when_done (a caller that reads standard output). Returns the check's
// exit status.
int RunCheckDialog(platform::Platform& os, platform::SetupProbe& probe,
                   platform::JournalStore& journal, const std::string& job_file,
                   bool close_when_done);

}  // namespace korval::app
