#pragma once
// Job files read and written by our own profile code (profile_text.h) on every
// platform: the system's profile functions differ from one Windows to the next (none
// of them reads UTF-8), and a job file must read the same wherever it is taken.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile_store.h"

namespace korval::platform {

// Files are read whole and rewritten whole, as the Windows profile functions do. A
// write goes to a new file in the same folder that then replaces the old one, so a
// crash or a full disk leaves the old file or the new one, never half of one. When
// the folder refuses that (no right to create or rename there) but the file itself
// may be written, it is rewritten in place: the old outcome must not stay.
//
// A missing or unreadable file reads as empty. Trailing blanks in paths are ignored.
// The back-ends say where a path leads and how a file is read and replaced.
class ProfileFileStore : public ProfileStore {
 public:
  enum class ReadOutcome { kRead, kMissing, kFailed };
  enum class ReplaceOutcome { kReplaced, kFolderRefused, kFailed };

  std::string ReadPrivate(const std::string& file, const std::string& section,
                          const std::string& key, std::size_t capacity) override;
  // Also false when the names cannot be written (IsWritableProfileName). Removing a
  // key that is not there succeeds and creates no file.
  bool WritePrivate(const std::string& file, const std::string& section, const std::string& key,
                    const std::optional<std::string>& value) override;
  // One rewrite of the file for all the keys.
  bool WritePrivateEntries(const std::string& file, const std::string& section,
                           const std::vector<ProfileEntry>& entries) override;

 protected:
  // The file a trimmed, non-empty path names: where a bare name is looked for, or
  // what a link leads to.
  virtual std::string FileOf(const std::string& path) = 0;
  // The whole of the file; a missing file told apart from one that cannot be read.
  virtual ReadOutcome ReadWhole(const std::string& file, std::string* bytes) = 0;
  // Writes bytes to a new file beside it and puts that in its place; existed says
  // whether there was a file to replace.
  virtual ReplaceOutcome Replace(const std::string& file, std::string_view bytes, bool existed) = 0;
  // Overwrites the existing file with bytes and cuts it to their length.
  virtual bool RewriteInPlace(const std::string& file, std::string_view bytes) = 0;

  // Spaces and tabs at the end of a path name no file of their own.
  static std::string WithoutTrailingBlanks(std::string_view path);
};

}  // namespace korval::platform
