#include "app/comm_app.h"

#include "app/comm_dialog.h"
#include "app/command_line.h"
#include "line/telephony_setup.h"
#include "process/process.h"

namespace korval::app {

int RunCommApp(Process& process, std::string_view arguments) {
  const CommandLine command_line = ParseCommandLine(arguments);
  process.job_file_path = command_line.job_file_path;
  process.display_name = command_line.display_name;

  if (line::StartTelephony(process, platform::kNoWindow, process.instance) != 0) {
    process.os.windows.MessageBox(platform::kNoWindow, "Initialisation de TAPI impossible !",
                                  process.app_name, platform::kMbOk | platform::kMbIconExclamation);
    return kExitNoTelephony;
  }
  {
    CommDialog dialog(process);
    dialog.DoModal();
  }
  line::ShutdownTelephony(process);

  if (process.job.outcome_unwritten) return kExitOutcomeUnwritten;
  if (!process.job.outcome) return kExitNoExchange;
  return *process.job.outcome ? kExitSucceeded : kExitFailed;
}

}  // namespace korval::app
