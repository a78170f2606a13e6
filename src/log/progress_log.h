#pragma once
#include <string>
#include <string_view>

#include "platform/diagnostics.h"

namespace korval::log {

// The window that shows the progress log.
class LogWindow {
 public:
  virtual ~LogWindow() = default;
  virtual void AppendLog(std::string_view text) = 0;
};

// Sees every progress text too, whichever sink shows it (the journal).
class LogTap {
 public:
  virtual ~LogTap() = default;
  virtual void Logged(std::string_view text) = 0;
};

// The one reporting channel of every subsystem. Main thread only.
class ProgressLog {
 public:
  explicit ProgressLog(platform::Diagnostics& diagnostics) : diagnostics_(diagnostics) {}

  void SetLogWindow(LogWindow* window) { sink_ = window; }
  void SetTap(LogTap* tap) { tap_ = tap; }
  void LogProgress(std::string_view text);

 private:
  platform::Diagnostics& diagnostics_;
  LogWindow* sink_ = nullptr;
  LogTap* tap_ = nullptr;
};

}  // namespace korval::log
