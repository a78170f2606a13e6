#include "app/progress_log.h"

namespace korval::app {

void ProgressLog::LogProgress(std::string_view text) {
  if (text.empty()) return;
  if (tap_ != nullptr) tap_->Logged(text);
  if (sink_ != nullptr) {
    sink_->AppendLog(text);
  } else {
    diagnostics_.DebugOutput(std::string(text));
  }
}

}  // namespace korval::app
