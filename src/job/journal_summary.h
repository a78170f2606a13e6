#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korval::job {

// The last count jobs of a journal's text (Windows-1252), oldest first, one line each:
// start time | action | subscriber | file | outcome | cause. A block without its end
// belongs to a job still running or killed.
std::vector<std::string> SummariseJournal(std::string_view journal, std::size_t count);

inline constexpr std::size_t kJournalSummaryDefault = 10;

}  // namespace korval::job
