// korvalcom on Windows: one process, one exchange.

// The platform's interfaces come before <windows.h>: its MessageBox macro must not
// rename the window system's method.
#include "app/comm_app.h"
#include "platform/win32/win32_command_line.h"
#include "platform/win32/win32_platform.h"
#include "process/process.h"

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

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const std::string arguments =
      korval::platform::win32::ArgumentsAfterProgramName(GetCommandLineA());
  const auto handle = reinterpret_cast<korval::platform::InstanceHandle>(instance);
  korval::platform::win32::Win32Platform os(handle);
  korval::Process process(os.platform, ApplicationName());
  process.instance = handle;
  const int status = korval::app::RunCommApp(process, arguments);
  // A read thread stuck in a driver past the stop's bound still holds on to the
  // process's state: end here, before it is torn down. ExitProcess ends the other
  // threads first.
  if (process.call.read_thread_outlived) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(status));
  }
  return status;
}
