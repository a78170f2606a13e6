#pragma once
// Local files: the file sent to the bank, the statement and its backup copy.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace korval::platform {

class File {
 public:
  virtual ~File() = default;
  // The length in bytes, or nothing when it cannot be had.
  virtual std::optional<std::uint64_t> Size() = 0;
  // Reads up to count bytes; false on a read error. *got is 0 at the end of the file.
  virtual bool Read(void* bytes, std::size_t count, std::size_t* got) = 0;
  // Writes count bytes; false on an error, with *written the bytes that went.
  virtual bool Write(const void* bytes, std::size_t count, std::size_t* written) = 0;
  // Back to the first byte, for a second pass over a file opened for reading.
  virtual bool Rewind() = 0;
};

// Why a file cannot be opened for reading.
enum class OpenProblem { kNone, kMissing, kFolder, kAccessDenied, kNotAFile, kUnknown };

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // An existing file, for reading, others may read it but not write it; null on failure.
  virtual std::unique_ptr<File> OpenForReading(const std::string& path) = 0;
  // Creates the file anew, empty, for writing; readable by its owner only where the
  // platform has owners. Null on failure.
  virtual std::unique_ptr<File> CreateAlways(const std::string& path) = 0;
  // Creates a new, empty file of a name no other file has, in the folder of path, for
  // writing, readable by its owner only where the platform has owners; *created gets
  // its name (path followed by a few characters). Null on failure.
  virtual std::unique_ptr<File> CreateBeside(const std::string& path, std::string* created) = 0;
  virtual bool Delete(const std::string& path) = 0;
  // An existing `to` is replaced on some platforms and refused on others: callers
  // that rely on either remove it first.
  virtual bool Move(const std::string& from, const std::string& to) = 0;
  // The size of a regular file, or nothing when there is none at that path.
  virtual std::optional<std::uint64_t> SizeOf(const std::string& path) = 0;
  // Why OpenForReading(path) fails, asked after it has failed so that the user is told
  // the cause; kNone when it would not fail. A back-end that cannot tell says kUnknown.
  virtual OpenProblem ReadProblem(const std::string&) { return OpenProblem::kUnknown; }
  // Gives the file `to` the permission bits of the file `from`, and its group where the
  // process may set it; nothing where the platform has no owners. Best effort: the
  // file stays as it is where this is refused.
  virtual void KeepPermissions(const std::string& /*from*/, const std::string& /*to*/) {}
  // The system's reason, in French, for the last call that failed, here or on a file
  // opened here (any thread); empty where the platform cannot tell.
  virtual std::string LastProblemText() { return {}; }
};

}  // namespace korval::platform
