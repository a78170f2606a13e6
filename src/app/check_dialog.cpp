#include "app/check_dialog.h"

#include "app/check_setup.h"
#include "app/comm_app.h"
#include "app/resources.h"

namespace korval::app {
namespace {

class CheckDialog final : public platform::DialogEvents {
 public:
  CheckDialog(platform::Platform& os, platform::SetupProbe& probe, platform::JournalStore& journal,
              const std::string& job_file, bool close_when_done)
      : os_(os),
        probe_(probe),
        journal_(journal),
        job_file_(job_file),
        close_when_done_(close_when_done) {}

  int status() const { return status_; }

  bool OnCreate(platform::WindowHandle window) override {
    window_ = window;
    return os_.windows.SetTimer(window_, kJobTimerId, kJobTimerPeriodMs);
  }
  void OnInitDialog() override {
    os_.windows.SetCaption(window_, os_.windows.Caption(window_) + " [V\xE9rification]");
    os_.windows.SetWindowIcons(window_);
    os_.windows.ListReset(window_);
  }
  void OnTimer(std::uint32_t id) override {
    if (id != kJobTimerId) return;
    os_.windows.KillTimer(window_, kJobTimerId);
    status_ = CheckSetup(os_, probe_, journal_, job_file_,
                         [this](const std::string& line) { os_.windows.ListAdd(window_, line); });
    done_ = true;
    // An empty last line makes the one before it complete for the echo.
    os_.windows.ListAdd(window_, std::string());
    if (close_when_done_) os_.windows.EndDialog(window_, platform::kIdOk);
  }
  void OnSysCommand(std::uint32_t id) override {
    if (id == platform::kScClose) os_.windows.EndDialog(window_, platform::kIdCancel);
  }
  void OnDialogKey(platform::DialogKey) override {
    if (done_) os_.windows.EndDialog(window_, platform::kIdOk);
  }

 private:
  platform::Platform& os_;
  platform::SetupProbe& probe_;
  platform::JournalStore& journal_;
  const std::string job_file_;
  const bool close_when_done_;
  platform::WindowHandle window_ = platform::kNoWindow;
  bool done_ = false;
  int status_ = kExitNoExchange;
};

}  // namespace

int RunCheckDialog(platform::Platform& os, platform::SetupProbe& probe,
                   platform::JournalStore& journal, const std::string& job_file,
                   bool close_when_done) {
  CheckDialog dialog(os, probe, journal, job_file, close_when_done);
  os.windows.RunModal(kMainDialog, dialog);
  return dialog.status();
}

}  // namespace korval::app
