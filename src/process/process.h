#pragma once
// One object per process: it owns the state of every subsystem, so that each test
// builds a fresh world.

#include <string>

#include "log/progress_log.h"
#include "platform/main_thread.h"
#include "platform/platform.h"
#include "process/exchange_state.h"
#include "process/job_state.h"
#include "process/line_state.h"
#include "process/link_state.h"

namespace korval {

struct Process {
  Process(platform::Platform& platform_services, std::string application_name)
      : os(platform_services),
        app_name(std::move(application_name)),
        log(platform_services.diagnostics) {
    platform::RecordMainThread();
  }

  // Stops a read thread that is still running: it uses this object's state.
  ~Process();

  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  platform::Platform& os;
  std::string app_name;  // the title of the application's own message boxes
  // The program's module, handed to the telephony start and the job (0 on Linux).
  platform::InstanceHandle instance = 0;

  std::string job_file_path;  // from "/B:"
  std::string display_name;   // from "/N:"
  log::ProgressLog log;
  job::JobState job;
  line::LineState line;
  line::CallData call;
  link::ReceiveState receive;
  exchange::ExchangeState exchange;
};

}  // namespace korval
