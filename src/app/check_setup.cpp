#include "app/check_setup.h"

#include <charconv>
#include <memory>

#include "app/comm_app.h"
#include "exchange/open_problem_text.h"
#include "job/job_keys.h"
#include "job/journal.h"
#include "job/run_job.h"
#include "link/time_limits.h"
#include "platform/text_encoding.h"

namespace korval::app {
namespace {

// How early a real job would stop on a problem: the earliest stop gives the status.
int Rank(int status) {
  switch (status) {
    case kExitNoTelephony: return 4;
    case kExitNoExchange: return 3;
    case kExitOutcomeUnwritten: return 2;
    case kExitFailed: return 1;
    default: return 0;
  }
}

class Report {
 public:
  explicit Report(const std::function<void(const std::string&)>& print) : print_(print) {}
  void Ok(const std::string& text) { print_("OK        " + text); }
  // Worth knowing, but no job would stop on it.
  void Note(const std::string& text) { print_("ATTENTION " + text); }
  void Problem(int exit_status, const std::string& text) {
    print_("PROBL\xC8ME  " + text);
    if (Rank(exit_status) > Rank(status_)) status_ = exit_status;
  }
  int status() const { return status_; }

 private:
  const std::function<void(const std::string&)>& print_;
  int status_ = kExitSucceeded;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void CheckDelay(platform::ProfileStore& profiles, const char* key, std::uint32_t default_s,
                Report& report) {
  const std::string value = profiles.ReadSystem(job::kSection, key, 16);
  std::uint32_t seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (value.empty()) {
    report.Ok(std::string(key) + " : " + std::to_string(default_s) + " s (par d\351faut)");
  } else if (error != std::errc() || end != value.data() + value.size() || seconds == 0) {
    report.Note(std::string(key) + "=" + value + " n'est pas un nombre de secondes : " +
                std::to_string(default_s) + " s seront pris ; corrigez-le dans [KORVAL]");
  } else {
    report.Ok(std::string(key) + " : " + value + " s");
  }
}

// win.ini, its values and the journal's place; false when there is no win.ini.
bool CheckSystemProfile(platform::Platform& os, platform::SetupProbe& probe, Report& report) {
  std::string missing;
  const std::string found = probe.SystemProfileFound(&missing);
  if (found.empty()) {
    report.Problem(kExitNoTelephony, missing +
                                         " Cr\351ez-le (exemple : doc/examples/win.ini) "
                                         "ou nommez-le par KORVAL_WININI.");
    return false;
  }
  report.Ok("win.ini : " + found);
  const std::string dial =
      os.profiles.ReadSystem(job::kSection, job::kDialNumberKey, job::kOverlongProbeCapacity);
  if (dial.empty()) {
    report.Ok(std::string("NUMTRANSPAC absent : le num\xE9ro par d\351faut ") +
              job::kDefaultDialNumber + " sera appel\xE9");
  } else if (dial.size() > job::kDialNumberMax) {
    report.Problem(kExitFailed, "NUMTRANSPAC=" + dial +
                                    " a plus de 11 caract\xE8res : "
                                    "corrigez-le dans la section [KORVAL] de win.ini");
  } else {
    report.Ok("NUMTRANSPAC : " + dial);
  }
  CheckDelay(os.profiles, link::kReplyWaitKey, link::kReplyWaitDefaultS, report);
  CheckDelay(os.profiles, link::kAcknowledgementWaitKey, link::kAcknowledgementWaitDefaultS,
             report);
  CheckDelay(os.profiles, link::kReceptionQuietKey, link::kReceptionQuietDefaultS, report);
  return true;
}

void CheckJournal(platform::Platform& os, platform::SetupProbe& probe,
                  platform::JournalStore& journal, Report& report) {
  const std::string path = job::JournalPath(os.profiles, journal);
  const platform::FolderProbe folder =
      path.empty() ? platform::FolderProbe{} : probe.ProbeFolder(FolderOf(path));
  if (path.empty()) {
    report.Note(
        "journal d\xE9sactiv\xE9 (Journal= vide dans win.ini) : aucun \351change "
        "ne sera gard\xE9");
  } else if (folder.exists && !folder.writable) {
    // A journal never stops a job: worth knowing, no more.
    report.Note("journal " + path +
                " : \351criture refus\351e dans son dossier ; les "
                "travaux se feront sans journal");
  } else {
    report.Ok("journal : " + path);
  }
}

void CheckModems(platform::SetupProbe& probe, Report& report) {
  const std::vector<platform::ModemProbe> modems = probe.ProbeModems();
  std::size_t usable = 0;
  std::size_t answering = 0;
  for (const platform::ModemProbe& modem : modems) {
    if (!modem.data_modem || !modem.problem.empty()) continue;
    ++usable;
    if (modem.answered || !modem.asked) ++answering;
  }
  if (modems.empty()) {
    report.Problem(kExitNoTelephony,
                   "Aucun modem : ajoutez \xE0 win.ini une section [MODEM0] "
                   "avec sa cl\xE9 Port (le port s\xE9rie du modem)");
  }
  for (const platform::ModemProbe& modem : modems) {
    if (!modem.data_modem) {
      report.Note(modem.name + " : pas un modem de donn\351es, il ne sera pas utilis\xE9");
    } else if (!modem.problem.empty()) {
      const std::string text = modem.name + " : " + modem.problem;
      usable == 0 ? report.Problem(kExitNoTelephony, text) : report.Note(text);
    } else if (!modem.asked) {
      report.Ok(modem.name +
                " : modem de donné"
                "es de la téléphonie");
    } else if (!modem.answered) {
      const std::string text = modem.name +
                               " : ne r\xE9pond pas OK \xE0 AT en 1 s ; v\xE9rifiez "
                               "qu'il est allum\xE9, branch\xE9 et \xE0 la vitesse de win.ini";
      answering == 0 ? report.Problem(kExitFailed, text) : report.Note(text);
    } else {
      report.Ok(modem.name + " : libre, r\xE9pond OK \xE0 AT" +
                (modem.identity.empty() ? std::string() : " ; ATI : " + modem.identity));
    }
  }
}

bool IsFillerByte(char c) { return c == '\r' || c == '\n' || c == 0x1A || c == ' ' || c == '\0'; }

// The file to send, read whole as the job reads it before dialling.
void CheckFileToSend(platform::FileSystem& files, const std::string& path, int record_length,
                     Report& report) {
  std::unique_ptr<platform::File> file = files.OpenForReading(path);
  if (!file) {
    const std::string cause = exchange::OpenFailureText(files, path);
    report.Problem(kExitFailed, "fichier \xE0 envoyer " + path + " : " +
                                    (cause.empty() ? "illisible" : cause) +
                                    " ; corrigez FichierAssocie ou d\xE9posez le fichier");
    return;
  }
  const std::optional<std::uint64_t> size = file->Size();
  if (!size || *size == 0) {
    report.Problem(kExitFailed, "fichier \xE0 envoyer " + path + " : vide");
    return;
  }
  const auto length = static_cast<std::uint64_t>(record_length);
  // The last bytes read, enough to hold what follows the last whole record.
  std::string recent;
  std::uint64_t read = 0;
  std::size_t got = 0;
  char chunk[4096];
  while (file->Read(chunk, sizeof chunk, &got) && got > 0) {
    read += got;
    recent.append(chunk, got);
    if (recent.size() > 2 * length) recent.erase(0, recent.size() - length);
  }
  if (read != *size) {
    const std::string reason = files.LastProblemText();
    report.Problem(kExitFailed, "fichier \xE0 envoyer " + path + " : erreur de lecture" +
                                    (reason.empty() ? "" : " (" + reason + ")"));
    return;
  }
  const std::string tail = recent.substr(recent.size() - static_cast<std::size_t>(*size % length));
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (IsFillerByte(tail[i])) continue;
    report.Problem(kExitFailed, "fichier \xE0 envoyer " + path + " : l'octet " +
                                    std::to_string(*size - tail.size() + i + 1) +
                                    " est apr\xE8s le dernier enregistrement entier de " +
                                    std::to_string(record_length) +
                                    " octets ; le travail s'arr\xEAterait");
    return;
  }
  report.Ok("fichier \xE0 envoyer " + path + " : " + std::to_string(*size) + " octets, " +
            std::to_string(*size / length) + " enregistrements de " +
            std::to_string(record_length) + " octets");
}

void CheckStatementTarget(platform::SetupProbe& probe, const std::string& path, Report& report) {
  const std::string folder = FolderOf(path);
  const platform::FolderProbe found = probe.ProbeFolder(folder);
  if (!found.exists) {
    report.Problem(kExitFailed, "dossier du relev\xE9 " + folder +
                                    " : introuvable ; cr\351ez-le "
                                    "ou corrigez FichierAssocie");
  } else if (!found.writable) {
    report.Problem(kExitFailed, "dossier du relev\xE9 " + folder +
                                    " : \351criture refus\351e ; "
                                    "donnez-y les droits d'\351criture");
  } else if (found.free_bytes && *found.free_bytes < kTypicalStatementBytes) {
    report.Note("dossier du relev\xE9 " + folder + " : " +
                std::to_string(*found.free_bytes / 1024) +
                " Ko libres seulement ; un relev\xE9 peut en demander plus");
  } else {
    report.Ok("dossier du relev\xE9 " + folder + " : accessible en \351criture" +
              (found.free_bytes
                   ? ", " + std::to_string(*found.free_bytes / (1024ull * 1024)) + " Mo libres"
                   : std::string()));
  }
}

std::string Read(platform::ProfileStore& profiles, const std::string& job_file, const char* key) {
  return profiles.ReadPrivate(job_file, job::kSection, key, job::kOverlongProbeCapacity);
}

void CheckJobFile(platform::Platform& os, platform::SetupProbe& probe, const std::string& job_file,
                  Report& report) {
  const std::string cause = exchange::OpenProblemText(os.files.ReadProblem(job_file));
  if (!cause.empty()) {
    report.Problem(kExitNoExchange, "fichier de travail " + job_file + " : " + cause);
    return;
  }
  report.Ok("fichier de travail : " + job_file);
  const std::string type = Read(os.profiles, job_file, job::kActionKey);
  const job::JobAction action = job::ActionFromType(type);
  if (action == job::JobAction::kNone) {
    report.Problem(kExitNoExchange, "TypeAction=" + type +
                                        " : absent ou inconnu ; R (relev\xE9), "
                                        "L (L.C.R), V (Virement) ou D (DADS) attendu");
    return;
  }
  report.Ok("TypeAction : " + type.substr(0, 1));
  const std::string subscriber = Read(os.profiles, job_file, job::kSubscriberKey);
  if (subscriber.empty() || subscriber.size() > job::kSubscriberMax) {
    report.Problem(kExitFailed,
                   "NumeroAbonne=" + subscriber +
                       " : absent ou de plus de 31 "
                       "caract\xE8res ; le num\xE9ro du site de la banque est attendu");
  } else {
    const std::string profile7 = os.profiles.ReadSystem(subscriber, job::kProfile7Key, 2);
    report.Ok("NumeroAbonne : " + subscriber + " (profil 7 : " +
              (!profile7.empty() && (profile7[0] == 'O' || profile7[0] == 'o') ? "oui" : "non") +
              ")");
  }
  // The card's content may hold an account's secrets: only its length is shown.
  const std::string card = Read(os.profiles, job_file, job::kCardKey);
  if (card.find(platform::kNotInCp1252) != std::string::npos) {
    report.Problem(kExitFailed, "CarteParametre : un caract\xE8re n'existe pas en Windows-1252");
  } else if (card.size() > job::kCardLength) {
    report.Note("CarteParametre : " + std::to_string(card.size()) +
                " caract\xE8res, seuls les 80 premiers seront envoy\xE9s");
  } else {
    report.Ok("CarteParametre : " + std::to_string(card.size()) + " caract\xE8res");
  }
  const std::string file = Read(os.profiles, job_file, job::kFileKey);
  if (file.empty() || file.size() > job::kFilePathMax) {
    report.Problem(kExitFailed, "FichierAssocie=" + file +
                                    " : absent ou de plus de 79 "
                                    "caract\xE8res");
    return;
  }
  if (action == job::JobAction::kStatement) {
    CheckStatementTarget(probe, file, report);
  } else {
    CheckFileToSend(os.files, file, action == job::JobAction::kDadsFile ? 560 : 160, report);
  }
}

}  // namespace

int CheckSetup(platform::Platform& os, platform::SetupProbe& probe, platform::JournalStore& journal,
               const std::string& job_file, const std::function<void(const std::string&)>& print) {
  Report report(print);
  if (CheckSystemProfile(os, probe, report)) CheckModems(probe, report);
  CheckJournal(os, probe, journal, report);
  if (!job_file.empty()) CheckJobFile(os, probe, job_file, report);
  report.status() == kExitSucceeded ? report.Ok("pr\xEAt : un travail peut \xEAtre lanc\xE9")
                                    : print("Statut " + std::to_string(report.status()) +
                                            " : celui qu'un vrai travail aurait donn\xE9");
  return report.status();
}

}  // namespace korval::app
