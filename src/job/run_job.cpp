#include "job/run_job.h"

#include <optional>
#include <vector>

#include "exchange/exchange.h"
#include "exchange/open_problem_text.h"
#include "job/job_keys.h"
#include "link/ebcdic.h"
#include "link/time_limits.h"
#include "platform/text_encoding.h"
#include "process/process.h"

namespace korval::job {
namespace {

struct JobInput {
  std::string dial_number;
  std::string subscriber;
  std::string card;
  std::string file_path;
};

void LogPlatform(Process& process) {
  process.job.is_windows_nt = false;
  const std::optional<std::uint32_t> platform_id = process.os.version.PlatformId();
  if (platform_id) process.job.is_windows_nt = *platform_id == platform::kPlatformWin32Nt;
  log::ProgressLog& log = process.log;
  log.LogProgress("Syst\xE8me = ");
  const std::optional<std::string> system = process.os.version.SystemName();
  log.LogProgress(system ? *system : process.job.is_windows_nt ? "Windows NT" : "Windows 95/98");
  log.LogProgress(": (" + std::to_string(platform_id.value_or(0)));
  log.LogProgress(")\n");
}

void ReadProfile7(Process& process, const std::string& subscriber) {
  process.job.use_profile7 = false;
  const std::string value = subscriber.empty()
                                ? std::string()
                                : process.os.profiles.ReadSystem(subscriber, kProfile7Key, 2);
  if (!value.empty()) process.job.use_profile7 = value[0] == 'O' || value[0] == 'o';
  if (process.job.use_profile7) {
    process.log.LogProgress("Utilisation du profil 7");
    process.log.LogProgress("\n");
  }
}

// The first character, a blank aside, that becomes a blank in EBCDIC, or npos.
std::size_t NotInEbcdic(const std::string& card) {
  for (std::size_t at = 0; at < card.size(); ++at) {
    const auto c = static_cast<std::uint8_t>(card[at]);
    if (c > 0x20 && link::ToEbcdicByte(c) == 0x40) return at;
  }
  return std::string::npos;
}

// The French reason an input is refused before any dialling, or nothing.
std::optional<std::string> RefusalOf(const JobInput& input) {
  if (input.dial_number.size() > kDialNumberMax) {
    return "Num\xE9ro TRANSPAC (NUMTRANSPAC) trop long dans win.ini (plus de 11 "
           "caract\xE8res) !\n";
  }
  if (input.subscriber.size() > kSubscriberMax) {
    return "Num\xE9ro d'abonn\xE9 trop long (plus de 31 caract\xE8res) !\n";
  }
  if (input.file_path.size() > kFilePathMax) {
    return "Chemin du fichier trop long (plus de 79 caract\xE8res) !\n";
  }
  // Sent as a blank or a '?', such a character would shift the card's columns, or
  // name another file or site.
  const char* kNoSuchCharacter = " : un caract\xE8re n'existe pas en Windows-1252 !\n";
  if (const std::size_t at = input.card.find(platform::kNotInCp1252); at != std::string::npos) {
    return "Carte param\xE8tre refus\351e (colonne " + std::to_string(at + 1) + ")" +
           kNoSuchCharacter;
  }
  // EBCDIC has no room for some Windows-1252 letters ("\xC9"): sent as a blank, they
  // would change the request.
  if (const std::size_t at = NotInEbcdic(input.card); at != std::string::npos) {
    return "Carte param\xE8tre refus\351e (colonne " + std::to_string(at + 1) +
           ") : un caract\xE8re n'existe pas en EBCDIC !\n";
  }
  if (input.subscriber.find(platform::kNotInCp1252) != std::string::npos) {
    return std::string("Num\xE9ro d'abonn\xE9 refus\xE9") + kNoSuchCharacter;
  }
  if (input.file_path.find(platform::kNotInCp1252) != std::string::npos) {
    return std::string("Chemin du fichier refus\xE9") + kNoSuchCharacter;
  }
  return std::nullopt;
}

int RunExchange(Process& process, JobAction action, JobInput& input, platform::WindowHandle window,
                platform::InstanceHandle instance) {
  log::ProgressLog& log = process.log;
  switch (action) {
    case JobAction::kStatement: log.LogProgress("Demande de relev\xE9 !\n"); break;
    case JobAction::kDadsFile: log.LogProgress("Envoi de la DADS R\xE9seau !\n"); break;
    case JobAction::kTransferFile: log.LogProgress("Envoi fichier Virement !\n"); break;
    default: log.LogProgress("Envoi fichier L.C.R !\n"); break;
  }
  if (std::optional<std::string> refusal = RefusalOf(input)) {
    log.LogProgress(*refusal);
    return 0;
  }
  if (action == JobAction::kStatement) {
    return exchange::ReceiveStatement(process, input.file_path, window, instance, input.dial_number,
                                      input.subscriber, input.card);
  }
  const int record_length = action == JobAction::kDadsFile ? 560 : 160;
  return exchange::SendFile(process, input.file_path, window, instance, input.dial_number,
                            input.subscriber, input.card, record_length);
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The job file's own fault when it is one (missing, a folder, not readable): said as
// such rather than as a key that is missing from it. Empty when the file can be read.
std::string JobFileProblem(Process& process, const std::string& job_file) {
  const std::string cause = exchange::OpenProblemText(process.os.files.ReadProblem(job_file));
  if (cause.empty()) return {};
  return "Aucun \351change : le fichier de travail " + Quoted(job_file) +
         " ne peut pas \xEAtre lu (" + cause + ")";
}

// The system's reason for the job file's failed write, as " (reason)"; empty when unknown.
std::string SystemReason(Process& process) {
  const std::string reason = process.os.profiles.LastProblemText();
  return reason.empty() ? std::string() : " (" + reason + ")";
}

// Retour could not be removed: the application could not learn this job's outcome, so
// none is attempted.
void ReportUnchangeableJobFile(Process& process, const std::string& job_file) {
  const std::string problem = JobFileProblem(process, job_file);
  if (!problem.empty()) {
    process.os.diagnostics.Warn(problem);
    return;
  }
  process.job.outcome_unwritten = true;
  process.os.diagnostics.Warn(
      "Aucun \351change : impossible d'\351crire dans le fichier "
      "de travail " +
      Quoted(job_file) + " (cl\xE9 Retour), le r\xE9sultat n'y serait pas \351crit" +
      SystemReason(process));
}

// Retour, Detail1 and Detail2 in one write: all of them, or the job file left whole.
void WriteOutcome(Process& process, const std::string& job_file, bool succeeded) {
  // The application reads "9999" as no code: an empty one would be a new meaning.
  auto code = [](const std::string& detail) { return detail.empty() ? kNoCode : detail; };
  const std::vector<platform::ProfileEntry> entries = {
      {kResultKey, std::string(succeeded ? "1" : "0")},
      {kDetail1Key, code(process.job.detail1)},
      {kDetail2Key, code(process.job.detail2)}};
  if (process.os.profiles.WritePrivateEntries(job_file, kSection, entries)) return;
  process.job.outcome_unwritten = true;
  process.os.diagnostics.Warn(
      "Impossible d'\351crire le r\xE9sultat dans le fichier de "
      "travail " +
      Quoted(job_file) + " (Retour=" + (succeeded ? "1" : "0") + ") : il est laiss\xE9 tel quel" +
      SystemReason(process));
}

}  // namespace

JobAction ActionFromType(const std::string& type_action) {
  if (type_action.empty()) return JobAction::kNone;
  switch (type_action[0]) {
    case 'R':
    case 'r': return JobAction::kStatement;
    case 'L':
    case 'l': return JobAction::kLcrFile;
    case 'V':
    case 'v': return JobAction::kTransferFile;
    case 'D':
    case 'd': return JobAction::kDadsFile;
    default: return JobAction::kNone;
  }
}

std::string NormaliseCard(std::string card) {
  card.resize(kCardLength, ' ');
  return card;
}

void RunJob(Process& process, platform::WindowHandle window, platform::InstanceHandle instance,
            const std::string& job_file_path, log::LogWindow* main_window) {
  platform::ProfileStore& profiles = process.os.profiles;
  JobInput input;
  input.dial_number = profiles.ReadSystem(kSection, kDialNumberKey, kOverlongProbeCapacity);
  process.log.SetLogWindow(main_window);
  if (input.dial_number.empty()) input.dial_number = kDefaultDialNumber;

  if (!profiles.WritePrivate(job_file_path, kSection, kResultKey, std::nullopt)) {
    ReportUnchangeableJobFile(process, job_file_path);
    return;
  }
  LogPlatform(process);
  link::CheckLimits(process);

  input.subscriber =
      profiles.ReadPrivate(job_file_path, kSection, kSubscriberKey, kOverlongProbeCapacity);
  ReadProfile7(process, input.subscriber);

  const JobAction action =
      ActionFromType(profiles.ReadPrivate(job_file_path, kSection, kActionKey, kActionCapacity));
  if (action == JobAction::kNone) {
    const std::string problem = JobFileProblem(process, job_file_path);
    process.os.diagnostics.Warn(!problem.empty()
                                    ? problem
                                    : "Aucun \351change : TypeAction absent ou inconnu dans " +
                                          Quoted(job_file_path));
    return;
  }

  input.card =
      NormaliseCard(profiles.ReadPrivate(job_file_path, kSection, kCardKey, kCardCapacity));
  input.file_path = profiles.ReadPrivate(job_file_path, kSection, kFileKey, kOverlongProbeCapacity);

  const int result = RunExchange(process, action, input, window, instance);
  process.job.outcome = result != 0;
  WriteOutcome(process, job_file_path, result != 0);
}

}  // namespace korval::job
