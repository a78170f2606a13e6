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
int RunJournaledCommApp(platform::Platform& os, platform::JournalStore& journal_store,
                        const std::string& app_name, platform::InstanceHandle instance,
                        std::string_view arguments, bool trouble_in_log);

}  // namespace korval::app
