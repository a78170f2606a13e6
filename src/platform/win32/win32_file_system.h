#pragma once
// Local files through the Windows file functions.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace korval::platform::win32 {

// Trailing blanks in paths are ignored. Only disk files are kept open: a device or a
// pipe named by a job file is refused rather than read or written.
class Win32FileSystem final : public FileSystem {
 public:
  // Shared for reading only: nobody may write the file while it is being sent.
  std::unique_ptr<File> OpenForReading(const std::string& path) override;
  // Shared with nobody while open; the file takes the folder's default security.
  std::unique_ptr<File> CreateAlways(const std::string& path) override;
  // A new file named after path with a suffix of its own, shared with nobody.
  std::unique_ptr<File> CreateBeside(const std::string& path, std::string* created) override;
  bool Delete(const std::string& path) override;
  // A rename within the volume that replaces an existing target, as on the other
  // back-ends; a move to another volume fails.
  bool Move(const std::string& from, const std::string& to) override;
  std::optional<std::uint64_t> SizeOf(const std::string& path) override;
  OpenProblem ReadProblem(const std::string& path) override;
  std::string LastProblemText() override;

 private:
  bool Failed();  // notes GetLastError(); false
  // Written by whichever thread fails (a capture file is written by the read thread).
  std::shared_ptr<std::atomic<std::uint32_t>> last_error_ =
      std::make_shared<std::atomic<std::uint32_t>>(0);
};

}  // namespace korval::platform::win32
