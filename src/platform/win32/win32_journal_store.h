#pragma once
// The journal on Windows: %LOCALAPPDATA%\Korval\journal.log by default. A job's
// pending block is "journal.log.en-cours.<process>", open for the job's life with
// others allowed only to read: one that can be opened for deletion belongs to a job
// that was killed. The journal is appended to under a lock of "journal.log.verrou".

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/journal_store.h"

namespace korval::platform::win32 {

class Win32JournalStore final : public JournalStore {
 public:
  Win32JournalStore() = default;
  ~Win32JournalStore() override;
  Win32JournalStore(const Win32JournalStore&) = delete;
  Win32JournalStore& operator=(const Win32JournalStore&) = delete;

  std::string DefaultPath() override;
  std::string LocalTimeStamp() override;
  std::uint32_t ProcessId() override;
  bool Open(const std::string& journal_path) override;
  bool Append(std::string_view text) override;
  bool Commit(std::uint64_t max_bytes, std::string_view killed_end) override;
  std::string ReadAll(const std::string& journal_path) override;
  std::string LastProblemText() override;

  static constexpr DWORD kLockWaitMaxMs = 3000;

 private:
  std::string journal_;
  std::string pending_path_;
  HANDLE pending_ = INVALID_HANDLE_VALUE;
  DWORD last_error_ = ERROR_SUCCESS;  // of the last failure

  bool Failed(DWORD error);  // notes error; false
};

}  // namespace korval::platform::win32
