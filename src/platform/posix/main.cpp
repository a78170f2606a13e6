// korvalcom on Linux: one process, one exchange.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/comm_app.h"
#include "app/command_line.h"
#include "app/journaled_run.h"
#include "platform/posix/command_options.h"
#include "platform/posix/posix_journal_store.h"
#include "platform/posix/posix_platform.h"
#include "platform/text_encoding.h"

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

// A console has no window for the user to close: without a job the program says how
// it is called and ends, rather than wait for nothing.
void PrintUsage(const std::string& name) {
  const std::string text =
      "Usage : " + name +
      " /B:<fichier de travail> [/N:<nom affich\xE9>]\n"
      "  /B:  le fichier de travail (section [KORVAL]) : l'\351change \xE0 faire, puis son "
      "r\xE9sultat\n"
      "  /N:  le nom montr\xE9 dans le titre (termin\xE9 par ~ s'il contient des blancs)\n"
      "Les marqueurs s'\351crivent en majuscules. Sans /B: rien n'est fait (statut 2).\n"
      "       " +
      name +
      " --journal [N]   les N derniers travaux du journal (10)\n"
      "       " +
      name +
      " --check [/B:<fichier de travail>]   v\xE9rifie l'installation "
      "sans appeler\n";
  std::fputs(korval::platform::Cp1252ToUtf8(text).c_str(), stderr);
}

// A caller's closed pipe is a failed write, not a death in mid-call; a file-size limit
// is a failed write like a full disk.
void IgnoreWriteSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

// Past a read thread that did not end in time: _Exit skips the destructors of the
// state that thread may still be using (the journal is closed before this).
[[noreturn]] void EndProcessNow(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += argv[i];
  }
  const std::string name = ApplicationName(argc > 0 ? argv[0] : nullptr);
  IgnoreWriteSignals();
  if (std::optional<int> status = korval::platform::posix::RunCommandOption(argc, argv)) {
    return *status;
  }
  if (korval::app::ParseCommandLine(arguments).job_file_path.empty()) {
    PrintUsage(name);
    return korval::app::kExitNoExchange;
  }
  korval::platform::posix::ConsoleWindowSystem::InstallCloseSignals();
  korval::platform::posix::PosixPlatform os;
  korval::platform::posix::PosixJournalStore journal;
  return korval::app::RunJournaledCommApp(os.platform, journal, name, 0, arguments, false,
                                          EndProcessNow);
}
