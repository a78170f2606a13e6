#include "app/journaled_run.h"

#include "app/comm_app.h"
#include "app/command_line.h"
#include "job/journal.h"
#include "process/process.h"

namespace korval::app {
namespace {

// The window system as the job sees it: its message boxes also go to the journal.
class JournaledWindows final : public platform::WindowSystem {
 public:
  JournaledWindows(platform::WindowSystem& inner, job::Journal& journal)
      : inner_(inner), journal_(journal) {}

  int MessageBox(platform::WindowHandle owner, const std::string& text, const std::string& title,
                 std::uint32_t style) override {
    journal_.Box(title, text);
    return inner_.MessageBox(owner, text, title, style);
  }

  int RunModal(const platform::DialogResource& dialog, platform::DialogEvents& events) override {
    return inner_.RunModal(dialog, events);
  }
  void EndDialog(platform::WindowHandle window, int result) override {
    inner_.EndDialog(window, result);
  }
  std::string Caption(platform::WindowHandle window) override { return inner_.Caption(window); }
  void SetCaption(platform::WindowHandle window, const std::string& caption) override {
    inner_.SetCaption(window, caption);
  }
  void AppendSystemMenuSeparator(platform::WindowHandle window) override {
    inner_.AppendSystemMenuSeparator(window);
  }
  void AppendSystemMenuItem(platform::WindowHandle window, std::uint32_t id,
                            const std::string& text) override {
    inner_.AppendSystemMenuItem(window, id, text);
  }
  void SetWindowIcons(platform::WindowHandle window) override { inner_.SetWindowIcons(window); }
  void ListReset(platform::WindowHandle window) override { inner_.ListReset(window); }
  std::size_t ListCount(platform::WindowHandle window) override { return inner_.ListCount(window); }
  std::string ListText(platform::WindowHandle window, std::size_t index) override {
    return inner_.ListText(window, index);
  }
  void ListDelete(platform::WindowHandle window, std::size_t index) override {
    inner_.ListDelete(window, index);
  }
  void ListAdd(platform::WindowHandle window, const std::string& text) override {
    inner_.ListAdd(window, text);
  }
  bool SetTimer(platform::WindowHandle window, std::uint32_t id, std::uint32_t period_ms) override {
    return inner_.SetTimer(window, id, period_ms);
  }
  void KillTimer(platform::WindowHandle window, std::uint32_t id) override {
    inner_.KillTimer(window, id);
  }
  void PumpMessage() override { inner_.PumpMessage(); }
  void PumpMessageWithin(std::uint32_t wait_bound_ms) override {
    inner_.PumpMessageWithin(wait_bound_ms);
  }
  void Post(std::function<void()> task) override { inner_.Post(std::move(task)); }
  void Wake() override { inner_.Wake(); }
  void ShowTransferProgress(const platform::TransferProgress& progress) override {
    inner_.ShowTransferProgress(progress);
  }
  void EndTransferProgress() override { inner_.EndTransferProgress(); }

 private:
  platform::WindowSystem& inner_;
  job::Journal& journal_;
};

class JournaledDiagnostics final : public platform::Diagnostics {
 public:
  JournaledDiagnostics(platform::Diagnostics& inner, job::Journal& journal)
      : inner_(inner), journal_(journal) {}
  void DebugOutput(const std::string& text) override { inner_.DebugOutput(text); }
  void Warn(const std::string& text) override {
    journal_.Warning(text);
    inner_.Warn(text);
  }

 private:
  platform::Diagnostics& inner_;
  job::Journal& journal_;
};

}  // namespace

int RunJournaledCommApp(platform::Platform& os, platform::JournalStore& journal_store,
                        const std::string& app_name, platform::InstanceHandle instance,
                        std::string_view arguments, bool trouble_in_log,
                        EndProcessNow end_process_now) {
  // The journal's own troubles go to the plain channel, never back into itself.
  job::Journal journal(os.profiles, os.files, os.diagnostics, journal_store);
  JournaledWindows windows(os.windows, journal);
  JournaledDiagnostics diagnostics(os.diagnostics, journal);
  platform::Platform watched{os.clock,    windows,    os.profiles,  os.files, os.threads,
                             diagnostics, os.version, os.telephony, os.serial};
  int status = kExitNoExchange;
  {
    Process process(watched, app_name);
    process.instance = instance;
    process.log.SetTap(&journal);
    if (trouble_in_log) journal.SayTroubleIn(&process.log);
    journal.Begin(app_name + " " + std::string(arguments),
                  ParseCommandLine(arguments).job_file_path);
    status = RunCommApp(process, arguments);
    journal.SayTroubleIn(nullptr);
    if (process.call.read_thread_outlived && end_process_now != nullptr) {
      journal.End(status);
      end_process_now(status);
    }
  }
  journal.End(status);
  return status;
}

}  // namespace korval::app
