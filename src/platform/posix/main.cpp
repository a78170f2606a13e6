// korvalcom on Linux: one process, one exchange.

#include <string>

#include "app/comm_app.h"
#include "platform/posix/posix_platform.h"
#include "process/process.h"

namespace {

// The window framework's application name: the executable's name without extension.
std::string ApplicationName(const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "korvalcom";
  if (const std::size_t slash = name.find_last_of('/'); slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return name.empty() ? "korvalcom" : name;
}

}  // namespace

int main(int argc, char** argv) {
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += argv[i];
  }
  korval::platform::posix::ConsoleWindowSystem::InstallCloseSignals();
  korval::platform::posix::PosixPlatform os;
  korval::Process process(os.platform, ApplicationName(argc > 0 ? argv[0] : nullptr));
  return korval::app::RunCommApp(process, arguments);
}
