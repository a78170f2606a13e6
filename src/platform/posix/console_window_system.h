#pragma once
// The console front-end: a batch run on Linux has no dialog window. The windows live
// in memory; completed log lines go to standard output and message boxes to standard
// error, both in UTF-8, and every box is answered at once.

#include <cstdio>
#include <map>

#include "platform/queued_window_system.h"

namespace korval::platform::posix {

class ConsoleWindowSystem final : public QueuedWindowSystem {
 public:
  ConsoleWindowSystem(Clock& clock, std::FILE* out, std::FILE* err)
      : QueuedWindowSystem(clock), out_(out), err_(err) {}

  int MessageBox(WindowHandle owner, const std::string& text, const std::string& title,
                 std::uint32_t style) override;

  // SIGINT and SIGTERM become the main window's close request.
  static void InstallCloseSignals();

 protected:
  void WaitIdle(std::optional<std::uint32_t> due_in_ms) override;
  void OnListChanged(WindowHandle window, const WindowRecord& record) override;
  void OnDialogEnded(WindowHandle window, const WindowRecord& record) override;

 private:
  void PrintLine(const std::string& line);

  std::FILE* out_;
  std::FILE* err_;
  std::map<WindowHandle, std::size_t> printed_;  // lines already printed, per window
  bool close_posted_ = false;
};

}  // namespace korval::platform::posix
