#include "job/journal_summary.h"

#include "job/journal.h"

namespace korval::job {
namespace {

struct JobSummary {
  std::string started;
  std::string action;
  std::string subscriber;
  std::string file;
  std::string outcome = "en cours, ou arr\xEAt\xE9 sans fin \351crite";
  std::string cause;
};

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// "fichier L.C.R" out of "L (fichier L.C.R)".
std::string ActionWord(std::string_view value) {
  const std::size_t open = value.find('(');
  const std::size_t close = value.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::string(value);
  }
  return std::string(value.substr(open + 1, close - open - 1));
}

void TakeLine(std::string_view line, std::vector<JobSummary>& jobs) {
  if (StartsWith(line, kBlockStart)) {
    if (line.find(kStartWord) != std::string_view::npos) {
      JobSummary job;
      job.started =
          std::string(line.substr(kBlockStart.size(), line.find(kStartWord) - kBlockStart.size()));
      jobs.push_back(job);
    } else if (!jobs.empty() && StartsWith(line, kKilledEnd.substr(0, 14))) {
      jobs.back().outcome = "interrompu (processus arr\xEAt\xE9)";
    }
    return;
  }
  if (jobs.empty()) return;
  JobSummary& job = jobs.back();
  const auto value = [&](std::string_view field) { return std::string(line.substr(field.size())); };
  if (StartsWith(line, kActionField)) job.action = ActionWord(line.substr(kActionField.size()));
  if (StartsWith(line, kSubscriberField)) job.subscriber = value(kSubscriberField);
  if (StartsWith(line, kFileField)) job.file = value(kFileField);
  if (StartsWith(line, kOutcomeField)) job.outcome = value(kOutcomeField);
  if (StartsWith(line, kCauseField)) job.cause = value(kCauseField);
}

}  // namespace

std::vector<std::string> SummariseJournal(std::string_view journal, std::size_t count) {
  std::vector<JobSummary> jobs;
  while (!journal.empty()) {
    const std::size_t feed = journal.find('\n');
    std::string_view line = journal.substr(0, feed);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    TakeLine(line, jobs);
    journal.remove_prefix(feed == std::string_view::npos ? journal.size() : feed + 1);
  }
  std::vector<std::string> lines;
  const std::size_t first = jobs.size() > count ? jobs.size() - count : 0;
  for (std::size_t i = first; i < jobs.size(); ++i) {
    const JobSummary& job = jobs[i];
    std::string line = job.started + " | " + (job.action.empty() ? "-" : job.action) + " | " +
                       (job.subscriber.empty() ? "-" : job.subscriber) + " | " +
                       (job.file.empty() ? "-" : job.file) + " | " + job.outcome;
    if (!job.cause.empty()) line += " | " + job.cause;
    lines.push_back(line);
  }
  return lines;
}

}  // namespace korval::job
