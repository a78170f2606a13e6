#include "job/journal.h"

#include <memory>

#include "job/job_keys.h"
#include "job/run_job.h"
#include "platform/text_encoding.h"

namespace korval::job {
namespace {

// One line of the journal for a text that may hold line breaks.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return text;
}

// "12:05:48" out of "2026-12-09 12:05:48 +0100".
std::string TimeOfDay(const std::string& stamp) {
  return stamp.size() >= 19 ? stamp.substr(11, 8) : stamp;
}

const char* ActionName(JobAction action) {
  switch (action) {
    case JobAction::kStatement: return "relev\xE9";
    case JobAction::kLcrFile: return "fichier L.C.R";
    case JobAction::kTransferFile: return "fichier Virement";
    case JobAction::kDadsFile: return "DADS R\xE9seau";
    default: return "aucune (TypeAction absent ou inconnu)";
  }
}

int RecordLengthOf(JobAction action) {
  if (action == JobAction::kDadsFile) return 560;
  if (action == JobAction::kLcrFile || action == JobAction::kTransferFile) return 160;
  return 0;
}

// The statement's lines are counted, never copied. The bank ends them with CR; a
// file rewritten by another program may have LF or CR LF.
std::uint64_t LineCount(platform::File& file) {
  std::uint64_t lines = 0;
  char chunk[4096];
  std::size_t got = 0;
  char previous = '\0';
  while (file.Read(chunk, sizeof chunk, &got) && got > 0) {
    for (std::size_t i = 0; i < got; ++i) {
      lines += chunk[i] == '\r' || (chunk[i] == '\n' && previous != '\r');
      previous = chunk[i];
    }
  }
  return lines;
}

}  // namespace

std::string JournalPath(platform::ProfileStore& profiles, platform::JournalStore& store) {
  if (!profiles.HasSystemKey(kSection, kJournalKey)) return store.DefaultPath();
  return profiles.ReadSystem(kSection, kJournalKey, kOverlongProbeCapacity);
}

void Journal::Begin(const std::string& command, const std::string& job_file) {
  const std::string path = JournalPath(profiles_, store_);
  if (path.empty()) return;
  if (!store_.Open(path)) {
    const std::string reason = store_.LastProblemText();
    Trouble("journal non \351crit : impossible de cr\351er " + path +
            (reason.empty() ? "" : " (" + reason + ")") + " ; l'\351change se fait sans journal");
    return;
  }
  writing_ = true;
  job_file_ = job_file;
  type_action_ = job_file.empty() ? std::string() : ReadJob(kActionKey);
  WriteLine(std::string(kBlockStart) + Now() + std::string(kStartWord) + " (processus " +
            std::to_string(store_.ProcessId()) + ")");
  WriteLine("Commande : " + command);
  if (job_file.empty()) return;
  WriteLine("Fichier de travail : " + job_file.substr(0, job_file.find_last_not_of(" \t") + 1));
  const JobAction action = ActionFromType(type_action_);
  WriteLine(std::string(kActionField) + type_action_.substr(0, 1) + " (" + ActionName(action) +
            ")");
  WriteLine(std::string(kSubscriberField) + ReadJob(kSubscriberKey));
  const std::string card_setting = profiles_.ReadSystem(kSection, kJournalCardKey, 2);
  if (!card_setting.empty() && (card_setting[0] == 'O' || card_setting[0] == 'o')) {
    WriteLine("Carte : " + ReadJob(kCardKey));
  } else {
    WriteLine("Carte : (non journalis\351e ; JournalCarte=O dans win.ini pour la garder)");
  }
  WriteLine(std::string(kFileField) + ReadJob(kFileKey));
}

void Journal::Logged(std::string_view text) {
  if (!trouble_.empty() && trouble_log_ != nullptr && !text.empty() && text.back() == '\n') {
    // Said once the line under way has ended. The journal no longer writes, so this
    // text is not journaled when it comes back through the tap.
    const std::string said = std::move(trouble_);
    trouble_.clear();
    trouble_log_->LogProgress(said + "\n");
  }
  if (!writing_) return;
  while (!text.empty()) {
    if (partial_line_.empty() && partial_started_.empty()) partial_started_ = Now();
    const std::size_t feed = text.find('\n');
    partial_line_.append(text.substr(0, feed));
    if (feed == std::string_view::npos) return;
    text.remove_prefix(feed + 1);
    FlushPartialLine();
  }
}

void Journal::FlushPartialLine() {
  if (partial_started_.empty()) return;
  if (!partial_line_.empty()) last_line_ = partial_line_;
  WriteLine(TimeOfDay(partial_started_) + " | " + partial_line_);
  partial_line_.clear();
  partial_started_.clear();
}

void Journal::Box(const std::string& title, const std::string& text) {
  last_box_ = OneLine(title.empty() ? text : title + " : " + text);
  WriteTimed('!', "bo\xEEte " + last_box_);
}

void Journal::Warning(const std::string& text) {
  last_warning_ = OneLine(text);
  WriteTimed('!', last_warning_);
}

void Journal::WriteTimed(char mark, const std::string& text) {
  if (!writing_) return;
  FlushPartialLine();
  WriteLine(TimeOfDay(Now()) + " " + mark + " " + text);
}

std::string Journal::FileLine(const std::string& path, int record_length) {
  std::unique_ptr<platform::File> file = files_.OpenForReading(path);
  const std::optional<std::uint64_t> size = file ? file->Size() : std::nullopt;
  if (!size) return "Taille : aucun fichier lisible";
  std::string line = "Taille : " + std::to_string(*size) + " octets, ";
  if (record_length == 0) return line + std::to_string(LineCount(*file)) + " lignes";
  const std::uint64_t length = static_cast<std::uint64_t>(record_length);
  line += std::to_string(*size / length) + " enregistrements de " + std::to_string(record_length) +
          " octets";
  if (*size % length != 0) line += " et " + std::to_string(*size % length) + " octets de reste";
  return line;
}

void Journal::End(int exit_status) {
  trouble_log_ = nullptr;  // the window is gone
  if (!trouble_.empty()) diagnostics_.Warn(trouble_);
  trouble_.clear();
  if (!writing_) return;
  FlushPartialLine();
  if (!job_file_.empty()) {
    const JobAction action = ActionFromType(type_action_);
    if (action != JobAction::kNone) {
      WriteLine(FileLine(ReadJob(kFileKey), RecordLengthOf(action)));
    }
    const std::string retour = ReadJob(kResultKey);
    const std::string codes = retour.empty()
                                  ? std::string("Retour absent (aucun \351change)")
                                  : "Retour=" + retour + " Detail1=" + ReadJob(kDetail1Key) +
                                        " Detail2=" + ReadJob(kDetail2Key);
    WriteLine(std::string(kOutcomeField) + codes + ", statut " + std::to_string(exit_status));
  } else {
    WriteLine(std::string(kOutcomeField) + "statut " + std::to_string(exit_status));
  }
  if (exit_status != 0) {
    const std::string& cause = !last_box_.empty()       ? last_box_
                               : !last_warning_.empty() ? last_warning_
                                                        : last_line_;
    WriteLine(std::string(kCauseField) + (cause.empty() ? std::string("(aucun message)") : cause));
  }
  WriteLine(std::string(kBlockStart) + Now() + std::string(kEndWord) + " (processus " +
            std::to_string(store_.ProcessId()) + ")");
  if (writing_ && !store_.Commit(kJournalMaxBytes, platform::Cp1252ToUtf8(kKilledEnd))) {
    GiveUp();
  }
  writing_ = false;
}

void Journal::WriteLine(const std::string& cp1252_line) {
  if (!writing_) return;
  // A line break in a value (a path given on the command line) would start a line
  // of its own, which the summary could take for a block's start or end.
  if (!store_.Append(platform::Cp1252ToUtf8(OneLine(cp1252_line)) + "\n")) GiveUp();
}

void Journal::GiveUp() {
  if (!writing_) return;
  writing_ = false;
  const std::string reason = store_.LastProblemText();
  Trouble("journal non \351crit (" + (reason.empty() ? "disque plein ou droits ?" : reason) +
          ") : l'\351change continue sans journal");
}

void Journal::Trouble(const std::string& text) {
  if (trouble_log_ == nullptr) {
    diagnostics_.Warn(text);
  } else {
    trouble_ = "Attention : " + text;
  }
}

}  // namespace korval::job
