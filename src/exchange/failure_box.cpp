#include "exchange/failure_box.h"

#include "process/process.h"

namespace korval::exchange {

void ShowFailureBox(Process& process, const std::string& text, const std::string& title,
                    std::uint32_t style) {
  if (process.job.stopped_by_user) return;
  process.os.windows.MessageBox(platform::kNoWindow, text, title, style);
}

}  // namespace korval::exchange
