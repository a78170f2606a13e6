#pragma once
// Local files on POSIX.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace korval::platform {

// Paths are held in Windows-1252 and reach the file system in UTF-8; trailing blanks
// in them are ignored. Only regular files are opened: a device or a FIFO named by a
// job file is refused rather than read, written or made private.
class PosixFileSystem final : public FileSystem {
 public:
  // Holds a shared advisory lock while open, the nearest POSIX has to "others may
  // read but not write"; the file still opens when it cannot be had.
  std::unique_ptr<File> OpenForReading(const std::string& path) override;
  // Mode 0600, also when the file was already there: a statement holds bank data.
  std::unique_ptr<File> CreateAlways(const std::string& path) override;
  // mkstemp on path followed by ".XXXXXX": mode 0600.
  std::unique_ptr<File> CreateBeside(const std::string& path, std::string* created) override;
  bool Delete(const std::string& path) override;
  // A rename: replaces an existing target, and fails across file systems.
  bool Move(const std::string& from, const std::string& to) override;
  std::optional<std::uint64_t> SizeOf(const std::string& path) override;
  OpenProblem ReadProblem(const std::string& path) override;
  void KeepPermissions(const std::string& from, const std::string& to) override;
  std::string LastProblemText() override;

 private:
  bool Failed();  // notes errno; false
  std::shared_ptr<std::atomic<int>> last_error_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace korval::platform
