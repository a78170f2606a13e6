#pragma once
// One object per process: it owns the state of every subsystem, so that each test
// builds a fresh world.

#include <string>

#include "app/progress_log.h"
#include "exchange/exchange_state.h"
#include "job/job_state.h"
#include "line/line_state.h"
#include "link/link_state.h"
#include "platform/main_thread.h"
#include "platform/platform.h"

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
  app::ProgressLog log;
  job::JobState job;
  line::LineState line;
  line::CallData call;
  link::ReceiveState receive;
  exchange::ExchangeState exchange;
};

}  // namespace korval
