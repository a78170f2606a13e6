#pragma once
#include <functional>
#include <string>

#include "platform/journal_store.h"
#include "platform/platform.h"
#include "platform/setup_probe.h"

namespace korval::app {

// Looks at everything a job needs and dials nothing: win.ini and its values, each
// modem, and with a job file its keys and the file to send or the statement's folder.
// One line per check through print (Windows-1252, without line feed), "OK" or the
// problem and what to do. Returns 0 when all is ready, otherwise the exit status a
// real job would end with.
int CheckSetup(platform::Platform& os, platform::SetupProbe& probe, platform::JournalStore& journal,
               const std::string& job_file, const std::function<void(const std::string&)>& print);

// A statement of this size fits in the statement's folder with room to spare.
inline constexpr std::uint64_t kTypicalStatementBytes = 10ull * 1024 * 1024;

}  // namespace korval::app
