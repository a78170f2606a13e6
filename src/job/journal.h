#pragma once
// The journal of exchanges: a block per job, written as it goes, so that the morning
// after one can tell what each job did and how it ended.

#include <cstdint>
#include <string>
#include <string_view>

#include "log/progress_log.h"
#include "platform/diagnostics.h"
#include "platform/file_system.h"
#include "platform/journal_store.h"
#include "platform/profile_store.h"

namespace korval::job {

inline constexpr const char* kJournalKey = "Journal";
inline constexpr const char* kJournalCardKey = "JournalCarte";
// Past this size the journal's old part moves aside: two parts of this size at most.
inline constexpr std::uint64_t kJournalMaxBytes = 1024ull * 1024;

// The lines that open and close a block, and the keys of its lines, that the summary
// reads back (in Windows-1252, as every text here; the file holds them in UTF-8).
inline constexpr std::string_view kBlockStart = "=== ";
inline constexpr std::string_view kStartWord = " d\351but du travail";
inline constexpr std::string_view kEndWord = " fin du travail";
inline constexpr std::string_view kKilledEnd =
    "=== interrompu : le processus s'est arr\xEAt\xE9 avant la fin du travail\n";
inline constexpr std::string_view kActionField = "Action : ";
inline constexpr std::string_view kSubscriberField = "Abonn\xE9 : ";
inline constexpr std::string_view kFileField = "Fichier : ";
inline constexpr std::string_view kOutcomeField = "R\xE9sultat : ";
inline constexpr std::string_view kCauseField = "Cause : ";

// The journal's file as win.ini sets it: its path, or empty when it is turned off.
std::string JournalPath(platform::ProfileStore& profiles, platform::JournalStore& store);

// Watches one job. Every text it is given is Windows-1252; the file is UTF-8. Main
// thread only. A journal that cannot be written is said once and then left alone:
// it never fails the exchange.
class Journal final : public log::LogTap {
 public:
  Journal(platform::ProfileStore& profiles, platform::FileSystem& files,
          platform::Diagnostics& diagnostics, platform::JournalStore& store)
      : profiles_(profiles), files_(files), diagnostics_(diagnostics), store_(store) {}

  // Where a journal that cannot be written is said: a front-end without a standard
  // error of its own (Windows) says it in the progress log, after the line under way.
  void SayTroubleIn(log::ProgressLog* log) { trouble_log_ = log; }

  // command: the program's name and its arguments, as started.
  void Begin(const std::string& command, const std::string& job_file);
  void Logged(std::string_view text) override;
  void Box(const std::string& title, const std::string& text);
  void Warning(const std::string& text);
  // After the job: reads its outcome back from the job file and closes the block.
  void End(int exit_status);

 private:
  void WriteLine(const std::string& cp1252_line);
  void WriteTimed(char mark, const std::string& cp1252_text);
  void FlushPartialLine();
  std::string FileLine(const std::string& path, int record_length);
  std::string Now() { return store_.LocalTimeStamp(); }
  std::string ReadJob(const char* key) {
    return profiles_.ReadPrivate(job_file_, "KORVAL", key, 1024);
  }
  void GiveUp();
  void Trouble(const std::string& text);

  platform::ProfileStore& profiles_;
  platform::FileSystem& files_;
  platform::Diagnostics& diagnostics_;
  platform::JournalStore& store_;
  bool writing_ = false;
  std::string job_file_;
  std::string type_action_;
  std::string partial_line_;     // logged text not yet ended by a line feed
  std::string partial_started_;  // when that line began
  std::string last_box_;
  std::string last_warning_;
  std::string last_line_;
  log::ProgressLog* trouble_log_ = nullptr;
  std::string trouble_;  // not yet said in the progress log
};

}  // namespace korval::job
