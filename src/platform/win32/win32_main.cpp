// korvalcom on Windows: one process, one exchange.

// The platform's interfaces come before <windows.h>: its MessageBox macro must not
// rename the window system's method.
#include "app/check_dialog.h"
#include "app/comm_app.h"
#include "app/command_line.h"
#include "app/journaled_run.h"
#include "platform/win32/win32_command_line.h"
#include "platform/win32/win32_journal_store.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_setup_probe.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The window framework's application name, the title of the program's own message
// boxes: the executable's file name without extension.
std::string ApplicationName() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string name = korval::platform::win32::ApplicationNameOf(
      std::string(path, length > MAX_PATH ? MAX_PATH : length));
  return name.empty() ? "korvalcom" : name;
}

// ExitProcess ends the other threads first, so a read thread stuck in a driver
// never sees the process's state torn down.
[[noreturn]] void EndProcessNow(int status) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const std::string arguments =
      korval::platform::win32::ArgumentsAfterProgramName(GetCommandLineA());
  const auto handle = reinterpret_cast<korval::platform::InstanceHandle>(instance);
  korval::platform::win32::Win32Platform os(handle);
  korval::platform::win32::Win32JournalStore journal;
  if (korval::app::IsCheckRequest(arguments)) {
    korval::platform::win32::Win32SetupProbe probe(handle);
    // A caller reading standard output gets the lines there and the window closes.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const bool redirected =
        out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN;
    return korval::app::RunCheckDialog(os.platform, probe, journal,
                                       korval::app::ParseCommandLine(arguments).job_file_path,
                                       redirected);
  }
  // Nobody sees a GUI program's standard error: the journal's trouble goes to the log.
  return korval::app::RunJournaledCommApp(os.platform, journal, ApplicationName(), handle,
                                          arguments, true, EndProcessNow);
}
