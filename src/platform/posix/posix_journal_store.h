#pragma once
// The journal on POSIX: $XDG_STATE_HOME/korval/journal.log by default. A job's pending
// block is "journal.log.en-cours.<pid>", held under an exclusive lock for the job's
// life: one that can be locked by another process belongs to a job that was killed.
// The journal itself is appended to under the lock of "journal.log.verrou".

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/journal_store.h"

namespace korval::platform::posix {

class PosixJournalStore final : public JournalStore {
 public:
  PosixJournalStore() = default;
  ~PosixJournalStore() override;
  PosixJournalStore(const PosixJournalStore&) = delete;
  PosixJournalStore& operator=(const PosixJournalStore&) = delete;

  std::string DefaultPath() override;
  std::string LocalTimeStamp() override;
  std::uint32_t ProcessId() override;
  bool Open(const std::string& journal_path) override;
  bool Append(std::string_view text) override;
  bool Commit(std::uint64_t max_bytes, std::string_view killed_end) override;
  std::string ReadAll(const std::string& journal_path) override;
  std::string LastProblemText() override;

  // How long a lock held by another job is waited for, at most.
  static constexpr int kLockWaitMaxMs = 3000;

 private:
  std::string journal_;  // in the file system's encoding
  std::string pending_path_;
  int pending_fd_ = -1;
  int last_error_ = 0;  // errno of the last failure

  bool Failed(int error);  // notes error; false
};

}  // namespace korval::platform::posix
