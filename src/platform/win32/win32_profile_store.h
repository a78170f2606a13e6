#pragma once
// Profile files on Windows: the job file through the shared profile-file code, win.ini
// through the system's own profile function.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/profile_file_store.h"

namespace korval::platform::win32 {

// The system's private-profile functions read no UTF-8 and differ between Windows
// versions, so the job file is read and written by our own code, which follows their
// rules. As those functions do, a file name without any folder is looked for in the
// Windows folder. The replacement keeps the old file's attributes.
// win.ini is the system's: GetProfileStringA reads it wherever Windows keeps it.
class Win32ProfileStore final : public ProfileFileStore {
 public:
  std::string ReadSystem(const std::string& section, const std::string& key,
                         std::size_t capacity) override;
  bool HasSystemKey(const std::string& section, const std::string& key) override;

  // Where a bare file name lies: in the Windows folder.
  static std::string FileOfName(const std::string& path);

  std::string LastProblemText() override;

 protected:
  std::string FileOf(const std::string& path) override { return FileOfName(path); }
  ReadOutcome ReadWhole(const std::string& file, std::string* bytes) override;
  ReplaceOutcome Replace(const std::string& file, std::string_view bytes, bool existed) override;
  bool RewriteInPlace(const std::string& file, std::string_view bytes) override;

 private:
  // The error of the last failed read, replacement or rewrite; 0 after a success.
  std::uint32_t last_error_ = 0;
};

}  // namespace korval::platform::win32
