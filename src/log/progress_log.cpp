#include "log/progress_log.h"

namespace korval::log {

void ProgressLog::LogProgress(std::string_view text) {
  if (text.empty()) return;
  if (sink_ != nullptr) {
    sink_->AppendLog(text);
  } else {
    diagnostics_.DebugOutput(std::string(text));
  }
  // After the sink: what the tap logs in turn comes after this text.
  if (tap_ != nullptr) tap_->Logged(text);
}

}  // namespace korval::log
