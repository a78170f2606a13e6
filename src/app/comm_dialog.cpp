#include "app/comm_dialog.h"

#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "app/resources.h"
#include "job/job_keys.h"
#include "job/run_job.h"
#include "line/telephony_setup.h"
#include "process/process.h"

namespace korval::app {
namespace {

constexpr const char* kStoppedByUserText =
    "\311change interrompu \xE0 la demande de l'utilisateur !\n";

}  // namespace

int CommDialog::DoModal() { return process_.os.windows.RunModal(kMainDialog, *this); }

bool CommDialog::OnCreate(platform::WindowHandle window) {
  window_ = window;
  return process_.os.windows.SetTimer(window_, kJobTimerId, kJobTimerPeriodMs);
}

void CommDialog::OnInitDialog() {
  platform::WindowSystem& windows = process_.os.windows;
  if (!process_.display_name.empty()) {
    windows.SetCaption(window_, windows.Caption(window_) + " [" + process_.display_name + "]");
  }
  const std::string about_item = kAboutItemText;
  if (!about_item.empty()) {
    windows.AppendSystemMenuSeparator(window_);
    windows.AppendSystemMenuItem(window_, kAboutCommandId, about_item);
  }
  windows.SetWindowIcons(window_);
  windows.ListReset(window_);
}

void CommDialog::OnTimer(std::uint32_t id) {
  if (id == kJobTimerId) RunJobFromTimer();
}

void CommDialog::RunJobFromTimer() {
  platform::WindowSystem& windows = process_.os.windows;
  windows.KillTimer(window_, kJobTimerId);
  if (!line::IsTelephonyReady(process_)) {
    windows.EndDialog(window_, 1);
    return;
  }
  if (process_.job_file_path.empty()) return;  // stays open until closed by hand
  job_running_ = true;
  const std::string job_file = process_.job_file_path;
  job::RunJob(process_, window_, process_.instance, job_file, this);
  job_running_ = false;
  line::ShutdownTelephony(process_);
  windows.EndDialog(window_, 1);
}

void CommDialog::OnSysCommand(std::uint32_t id) {
  if ((id & 0xFFF0u) == kAboutCommandId) {
    AboutDialog(process_.os.windows).DoModal();
  } else if (id == platform::kScClose) {
    if (job_running_ && !process_.job.stopped_by_user) {
      // Said first: whatever the ended waits report next is the stop's consequence.
      process_.job.stopped_by_user = true;
      process_.log.LogProgress(kStoppedByUserText);
      WriteStoppedOutcome();
    }
    line::ShutdownTelephony(process_);
    // The line is gone: every wait of a running exchange must end now rather than
    // at its own time limit.
    if (job_running_) process_.call.call_state = platform::kCallStateDisconnected;
    process_.os.windows.EndDialog(window_, 1);
  }
}

// Written at once, before the hang-up, and again by the job as it ends: when the
// session ends, Windows may end the process before the job gets that far.
void CommDialog::WriteStoppedOutcome() {
  const std::vector<platform::ProfileEntry> entries = {{job::kResultKey, std::string("0")},
                                                       {job::kDetail1Key, process_.job.detail1},
                                                       {job::kDetail2Key, process_.job.detail2}};
  process_.os.profiles.WritePrivateEntries(process_.job_file_path, job::kSection, entries);
}

void CommDialog::OnDialogKey(platform::DialogKey key) {
  if (job_running_) return;
  process_.os.windows.EndDialog(
      window_, key == platform::DialogKey::kEnter ? platform::kIdOk : platform::kIdCancel);
}

void CommDialog::AppendLog(std::string_view text) {
  platform::WindowSystem& windows = process_.os.windows;
  while (!text.empty()) {
    const std::size_t feed = text.find('\n');
    const std::size_t count = windows.ListCount(window_);
    std::string line = count > 0 ? windows.ListText(window_, count - 1) : std::string();
    if (feed == std::string_view::npos) {
      line.append(text);
      text = {};
    } else {
      // A line feed standing first closes the line with nothing added; what follows
      // it goes on in the next pass instead of being lost.
      line.append(text.substr(0, feed));
      text.remove_prefix(feed + 1);
    }
    if (count > 0) windows.ListDelete(window_, count - 1);
    windows.ListAdd(window_, line);
    if (feed != std::string_view::npos) windows.ListAdd(window_, std::string());
  }
}

}  // namespace korval::app
