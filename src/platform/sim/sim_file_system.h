#pragma once
// Files kept in memory, with faults a test can inject.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace korval::platform::sim {

class SimFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> OpenForReading(const std::string& path) override;
  std::unique_ptr<File> CreateAlways(const std::string& path) override;
  // Names path + ".~1", ".~2", ...; the faults set on path (creation, writes) hold for
  // these files too, as a folder that refuses a file refuses its neighbours.
  std::unique_ptr<File> CreateBeside(const std::string& path, std::string* created) override;
  bool Delete(const std::string& path) override;
  bool Move(const std::string& from, const std::string& to) override;
  std::optional<std::uint64_t> SizeOf(const std::string& path) override;
  // A folder, a file whose opening fails (access refused) or no file at all.
  OpenProblem ReadProblem(const std::string& path) override;
  // The text given to SayProblemsAs, empty until then.
  std::string LastProblemText() override {
    auto lock = Lock();
    return problem_text_;
  }

  // Any thread (the capture file is written by the read thread).
  void Put(const std::string& path, std::string bytes);
  std::optional<std::string> Get(const std::string& path) const;
  bool Exists(const std::string& path) const { return Get(path).has_value(); }

  // Faults.
  void AddFolder(const std::string& path);
  // A device node or a FIFO at that path: neither a folder nor a regular file.
  void AddDevice(const std::string& path) { Lock(), devices_.insert(Key(path)); }
  void FailOpen(const std::string& path) { Lock(), fail_open_.insert(Key(path)); }
  void FailCreate(const std::string& path) { Lock(), fail_create_.insert(Key(path)); }
  void FailWrites(const std::string& path) { Lock(), fail_write_.insert(Key(path)); }
  void FailDelete(const std::string& path) { Lock(), fail_delete_.insert(Key(path)); }
  void FailMove(const std::string& from) { Lock(), fail_move_.insert(Key(from)); }
  // The system's reason the failures are said with.
  void SayProblemsAs(std::string text) { Lock(), problem_text_ = std::move(text); }
  // Every path held, in order.
  std::vector<std::string> Paths() const;
  // The disk fills up: a file created from now on takes at most this many bytes; the
  // write that would pass it writes what fits and fails.
  void FillDiskAt(const std::string& path, std::uint64_t bytes) {
    Lock(), disk_full_at_[Key(path)] = bytes;
  }
  // Reading past this offset of the file fails, from the given pass on (a pass
  // begins at each rewind).
  struct ReadFault {
    std::uint64_t offset;
    int pass;
  };
  void FailReadAt(const std::string& path, std::uint64_t offset, int from_pass = 0) {
    Lock(), fail_read_at_[Key(path)] = ReadFault{offset, from_pass};
  }
  bool WritesFail(const std::string& path) const;
  bool IsFolder(const std::string& path) const;

  // A path ending in blanks names the same file as without them.
  static std::string Key(const std::string& path);

 private:
  struct Node {
    std::mutex mutex;
    std::string bytes;
  };
  friend class SimFile;
  std::unique_lock<std::mutex> Lock() const { return std::unique_lock(mutex_); }

  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Node>> files_;
  std::set<std::string> folders_, devices_, fail_open_, fail_create_, fail_write_, fail_delete_,
      fail_move_;
  int beside_count_ = 0;
  std::map<std::string, ReadFault> fail_read_at_;
  std::map<std::string, std::uint64_t> disk_full_at_;
  std::string problem_text_;
};

}  // namespace korval::platform::sim
