#include "platform/posix/command_options.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/check_setup.h"
#include "app/comm_app.h"
#include "app/command_line.h"
#include "job/journal.h"
#include "job/journal_summary.h"
#include "platform/posix/posix_journal_store.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/posix_setup_probe.h"
#include "platform/text_encoding.h"

namespace korval::platform::posix {
namespace {

void PrintLine(std::FILE* stream, const std::string& cp1252) {
  std::fputs((Cp1252ToUtf8(cp1252) + "\n").c_str(), stream);
}

int PrintJournal(int argc, char** argv) {
  std::size_t count = job::kJournalSummaryDefault;
  if (argc > 2) {
    const std::string_view text = argv[2];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (argc > 3 || error != std::errc() || end != text.data() + text.size() || count == 0) {
      PrintLine(stderr,
                "Usage : korvalcom --journal [N] (N : le nombre de travaux, 10 par "
                "d\351faut)");
      return app::kExitNoExchange;
    }
  }
  PosixProfileStore profiles;
  PosixJournalStore store;
  const std::string path = job::JournalPath(profiles, store);
  if (path.empty()) {
    PrintLine(stderr,
              "Journal d\xE9sactiv\xE9 (Journal= vide dans la section [KORVAL] de "
              "win.ini).");
    return app::kExitNoExchange;
  }
  const std::vector<std::string> lines =
      job::SummariseJournal(Utf8ToCp1252(store.ReadAll(path)), count);
  if (lines.empty()) PrintLine(stderr, "Aucun travail dans le journal " + path + ".");
  for (const std::string& line : lines) PrintLine(stdout, line);
  return app::kExitSucceeded;
}

int CheckSetup(int argc, char** argv) {
  std::string arguments;
  for (int i = 2; i < argc; ++i) arguments += std::string(i > 2 ? " " : "") + argv[i];
  PosixPlatform os;
  PosixSetupProbe probe(os.profiles, os.diagnostics);
  PosixJournalStore journal;
  const int status =
      app::CheckSetup(os.platform, probe, journal, app::ParseCommandLine(arguments).job_file_path,
                      [](const std::string& line) { PrintLine(stdout, line); });
  std::fflush(stdout);
  return status;
}

}  // namespace

std::optional<int> RunCommandOption(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  const std::string_view option = argv[1];
  if (option == "--journal") return PrintJournal(argc, argv);
  if (option == "--check") return CheckSetup(argc, argv);
  return std::nullopt;
}

}  // namespace korval::platform::posix
