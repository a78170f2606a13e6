#pragma once
#include <string_view>

#include "log/progress_log.h"
#include "platform/window_system.h"

namespace korval {
struct Process;
}

namespace korval::app {

// The main window: its one-shot timer runs the job, its list box shows the log.
class CommDialog final : public platform::DialogEvents, public log::LogWindow {
 public:
  explicit CommDialog(Process& process) : process_(process) {}
  int DoModal();

  bool OnCreate(platform::WindowHandle window) override;
  void OnInitDialog() override;
  void OnTimer(std::uint32_t id) override;
  void OnSysCommand(std::uint32_t id) override;
  void OnDialogKey(platform::DialogKey key) override;

  void AppendLog(std::string_view text) override;

 private:
  void RunJobFromTimer();
  void WriteStoppedOutcome();

  Process& process_;
  platform::WindowHandle window_ = platform::kNoWindow;
  bool job_running_ = false;
};

}  // namespace korval::app
