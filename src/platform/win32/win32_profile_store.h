#pragma once
// Profile files through the Windows profile functions: the job file and win.ini.

#include <cstddef>
#include <optional>
#include <string>

#include "platform/profile_store.h"

namespace korval::platform::win32 {

// The system's own GetPrivateProfileStringA, WritePrivateProfileStringA and
// GetProfileStringA, so that files are read and written exactly as other programs on
// the machine read and write them. As those functions do, a file name without any
// folder is looked for in the Windows folder. Trailing blanks in paths are ignored.
class Win32ProfileStore final : public ProfileStore {
 public:
  std::string ReadPrivate(const std::string& file, const std::string& section,
                          const std::string& key, std::size_t capacity) override;
  // False, and nothing written, when the names cannot be written back as the same
  // names (IsWritableProfileName). The value is cut at its first line break. Removing
  // a key from a file that does not exist succeeds and creates no file.
  bool WritePrivate(const std::string& file, const std::string& section,
                    const std::string& key, const std::optional<std::string>& value) override;
  std::string ReadSystem(const std::string& section, const std::string& key,
                         std::size_t capacity) override;
  bool HasSystemKey(const std::string& section, const std::string& key) override;
};

}  // namespace korval::platform::win32
