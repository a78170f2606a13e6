#pragma once
// The journal of exchanges: one file that every job of the machine appends to.

#include <cstdint>
#include <string>
#include <string_view>

namespace korval::platform {

// A job's lines go to a pending file of its own as they happen, so that a job killed
// half-way leaves its start; the finished block then moves into the journal in one
// append under the journal's lock, so that blocks of jobs run together never mix.
// Texts are UTF-8; paths are Windows-1252, as every path the system holds.
class JournalStore {
 public:
  virtual ~JournalStore() = default;

  // Where the journal is when win.ini names none.
  virtual std::string DefaultPath() = 0;
  // Now, in local time with its offset from UTC, to the second:
  // "2026-12-09 12:05:48 +0100".
  virtual std::string LocalTimeStamp() = 0;
  // This process's identifier, to tell blocks apart.
  virtual std::uint32_t ProcessId() = 0;

  // Creates this job's pending file beside the journal (and the journal's folder when
  // it has none). False when it cannot be written.
  virtual bool Open(const std::string& journal_path) = 0;
  // Adds text to the pending file; in the file when this returns, so a kill loses none.
  virtual bool Append(std::string_view text) = 0;
  // Moves the pending block to the end of the journal, with the blocks that killed
  // jobs left pending, each closed by killed_end; a journal that would pass max_bytes
  // moves to ".1" first. The lock is waited for a bounded time only.
  virtual bool Commit(std::uint64_t max_bytes, std::string_view killed_end) = 0;

  // The system's reason, in French, for the last Open, Append or Commit that failed;
  // empty where the platform cannot tell.
  virtual std::string LastProblemText() { return {}; }

  // The journal's text, its older part first, followed by the blocks still pending
  // (jobs running, or killed before the end).
  virtual std::string ReadAll(const std::string& journal_path) = 0;
};

}  // namespace korval::platform
