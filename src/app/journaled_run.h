#pragma once
#include <string>
#include <string_view>

#include "platform/journal_store.h"
#include "platform/platform.h"

namespace korval::app {

// One job as RunCommApp runs it, with the journal watching its progress lines, its
// message boxes and its warnings. A journal that cannot be written is said in the
// progress log when trouble_in_log (a front-end whose standard error nobody sees),
// else as a warning. Returns the exit status.
// A read thread stuck in a driver past the stop's bound still holds on to the
// process's state: then the journal is closed and end_process_now (which must not
// return) ends the process before that state is torn down.
using EndProcessNow = void (*)(int status);
int RunJournaledCommApp(platform::Platform& os, platform::JournalStore& journal_store,
                        const std::string& app_name, platform::InstanceHandle instance,
                        std::string_view arguments, bool trouble_in_log,
                        EndProcessNow end_process_now = nullptr);

}  // namespace korval::app
