#pragma once
// Profile files on POSIX: the job file, and a win.ini of our own.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/profile_store.h"

namespace korval::platform {

// Files are read whole and rewritten whole, as the Windows profile functions do. A
// write goes to a new file in the same folder that then replaces the old one, so a
// crash or a full disk leaves the old file or the new one, never half of one. The
// replacement keeps the old file's permission bits (and its owner, where allowed);
// a symbolic link is followed, the file it names is the one replaced.
//
// A missing, unreadable or non-regular file reads as empty. Trailing blanks in paths
// are ignored.
class PosixProfileStore final : public ProfileStore {
 public:
  std::string ReadPrivate(const std::string& file, const std::string& section,
                          const std::string& key, std::size_t capacity) override;
  // Also false when the names cannot be written (IsWritableProfileName). Removing a
  // key that is not there succeeds and creates no file.
  bool WritePrivate(const std::string& file, const std::string& section,
                    const std::string& key, const std::optional<std::string>& value) override;
  // One rewrite of the file for all the keys.
  bool WritePrivateEntries(const std::string& file, const std::string& section,
                           const std::vector<ProfileEntry>& entries) override;
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
};

}  // namespace korval::platform
