#include "line/error_boxes.h"

#include "line/line_error_names.h"
#include "process/process.h"

namespace korval::line {

void ShowErrorBox(Process& process, const std::string& text) {
  // After a stop the user asked for, the line's failures are the stop's own doing.
  if (process.job.stopped_by_user) return;
  process.os.windows.MessageBox(platform::kNoWindow, text, "Erreur", platform::kMbOk);
}

void ReportLineError(Process& process, std::uint32_t code) {
  if (const char* name = LineErrorName(code)) ShowErrorBox(process, name);
}

void ReportSystemError(Process& process, std::uint32_t error_code) {
  process.os.windows.MessageBox(platform::kNoWindow, process.os.serial.SystemMessage(error_code),
                                "GetLastError", platform::kMbOk | platform::kMbIconInformation);
}

}  // namespace korval::line
