#pragma once
// Profile files: the job file (a private profile) and the system profile (win.ini).

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace korval::platform {

struct ProfileEntry {
  std::string key;
  std::optional<std::string> value;  // nothing: the key is removed
};

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;

  // The value of key in section of the file, cut to capacity - 1 characters; empty
  // when the file, the section or the key is missing.
  virtual std::string ReadPrivate(const std::string& file, const std::string& section,
                                  const std::string& key, std::size_t capacity) = 0;

  // Replaces or adds the key; without a value, removes it. False when the file could
  // not be written, in which case it is left as it was.
  virtual bool WritePrivate(const std::string& file, const std::string& section,
                            const std::string& key, const std::optional<std::string>& value) = 0;

  // Several keys of one section as one change: all of them written, or (false) the
  // file left as it was. This default writes them in turn and stops at the first
  // refusal, so it may leave the first ones written; back-ends that rewrite the file
  // whole do better.
  // Why the last read or write of a profile file failed, in French; empty when the
  // back-end cannot tell.
  virtual std::string LastProblemText() { return {}; }
  virtual bool WritePrivateEntries(const std::string& file, const std::string& section,
                                   const std::vector<ProfileEntry>& entries) {
    for (const ProfileEntry& entry : entries) {
      if (!WritePrivate(file, section, entry.key, entry.value)) return false;
    }
    return true;
  }

  // The same read on the system profile (win.ini).
  virtual std::string ReadSystem(const std::string& section, const std::string& key,
                                 std::size_t capacity) = 0;

  // Whether win.ini has the key at all, for settings where an empty value says
  // something that a missing key does not. By default, whether it has a value.
  virtual bool HasSystemKey(const std::string& section, const std::string& key) {
    return !ReadSystem(section, key, 2).empty();
  }
};

}  // namespace korval::platform
