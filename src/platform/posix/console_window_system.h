#pragma once
// The console front-end: a batch run on Linux has no dialog window. The windows live
// in memory; completed log lines go to standard output and message boxes to standard
// error, both in UTF-8, and every box is answered at once. A long transfer's status
// line is drawn in place on standard error when, and only when, it is a terminal.

#include <cstdio>
#include <map>
#include <optional>

#include "platform/posix/log_output.h"
#include "platform/posix/wake_event.h"
#include "platform/queued_window_system.h"

namespace korval::platform::posix {

class ConsoleWindowSystem final : public QueuedWindowSystem {
 public:
  // An idle turn with nothing due waits this long at most: posts, wake-ups and the
  // close signals end it at once, so the bound is only a safety net.
  static constexpr std::uint32_t kIdleWaitMaxMs = 1000;
  ConsoleWindowSystem(Clock& clock, std::FILE* out, std::FILE* err,
                      std::uint32_t idle_wait_max_ms = kIdleWaitMaxMs)
      : QueuedWindowSystem(clock), out_(out, err), err_(err), idle_wait_max_ms_(idle_wait_max_ms) {}

  int MessageBox(WindowHandle owner, const std::string& text, const std::string& title,
                 std::uint32_t style) override;

  // SIGINT, SIGTERM and SIGHUP become the main window's close request, seen at once
  // by every idle wait. Installing starts afresh: no close is requested yet.
  static void InstallCloseSignals();

  void ShowTransferProgress(const TransferProgress& progress) override;
  void EndTransferProgress() override;
  // The status line is redrawn at most this often.
  static constexpr std::uint32_t kStatusPeriodMs = 250;

 protected:
  void WaitIdle(std::optional<std::uint32_t> due_in_ms) override;
  void NotifyIdleWait() override;
  void OnListChanged(WindowHandle window, const WindowRecord& record) override;
  void OnDialogEnded(WindowHandle window, const WindowRecord& record) override;

 private:
  // Once per window system: the close request goes to the main window's queue.
  bool PostCloseIfRequested();
  void PollWakeEvents(std::uint32_t wait_ms);
  void PrintLine(const std::string& line);
  bool StatusOnTerminal();
  // Before anything else is written, so that it starts at the line's beginning.
  void EraseStatusLine();

  LogOutput out_;
  std::FILE* err_;
  const std::uint32_t idle_wait_max_ms_;
  const WakeEvent wake_;                         // raised by Post and Wake
  std::map<WindowHandle, std::size_t> printed_;  // lines already printed, per window
  bool close_posted_ = false;
  std::optional<bool> err_is_terminal_;  // asked once, when first needed
  std::size_t status_width_ = 0;         // characters of the line shown; 0: none
  std::uint32_t status_drawn_at_ = 0;
};

}  // namespace korval::platform::posix
