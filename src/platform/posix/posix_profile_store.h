#pragma once
// Profile files on POSIX: the job file, and a win.ini of our own.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile_file_store.h"

namespace korval::platform {

// The job file through the shared profile-file code. The replacement keeps the old
// file's permission bits (and its owner, where allowed); a symbolic link is followed,
// the file it names is the one replaced. A non-regular file reads as empty.
class PosixProfileStore final : public ProfileFileStore {
 public:
  std::string ReadSystem(const std::string& section, const std::string& key,
                         std::size_t capacity) override;
  bool HasSystemKey(const std::string& section, const std::string& key) override;

  // The system profile in use, looked up afresh on every call: the file named by
  // KORVAL_WININI when it is set and not empty; otherwise the first regular file of
  // $XDG_CONFIG_HOME/korval/win.ini (only an absolute XDG_CONFIG_HOME counts; without
  // one, $HOME/.config/korval/win.ini) and /etc/korval/win.ini. Empty when there is
  // none.
  static std::string SystemProfilePath();
  // Where it is looked for, in that order: the file of KORVAL_WININI alone when set.
  static std::vector<std::string> SystemProfileCandidates();
  // Why there is no system profile, listing where it was looked for; empty when there
  // is one.
  static std::string MissingSystemProfile();

  std::string LastProblemText() override;

 protected:
  std::string FileOf(const std::string& path) override;
  ReadOutcome ReadWhole(const std::string& file, std::string* bytes) override;
  ReplaceOutcome Replace(const std::string& file, std::string_view bytes, bool existed) override;
  bool RewriteInPlace(const std::string& file, std::string_view bytes) override;

 private:
  // errno of the last failed read, replacement or rewrite; 0 after a success.
  int last_error_ = 0;
};

}  // namespace korval::platform
