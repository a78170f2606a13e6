#pragma once
// Standard output for the progress log. A caller's pipe may be full (a reader that
// stopped reading) or closed ("korvalcom ... | head -n 2"): neither may stop or stall
// an exchange. Lines wait in a bounded backlog while the pipe is full; once it is
// gone they go on to standard error, and that is said once.

#include <cstdio>
#include <string>
#include <string_view>

namespace korval::platform::posix {

class LogOutput {
 public:
  LogOutput(std::FILE* out, std::FILE* err);
  ~LogOutput();
  LogOutput(const LogOutput&) = delete;
  LogOutput& operator=(const LogOutput&) = delete;

  // Text in UTF-8, with its line end.
  void Write(std::string_view text);

  // Lines held back beyond this are dropped rather than kept for a reader that
  // may never read again.
  static constexpr std::size_t kBacklogMax = std::size_t{64} * 1024;
  // At the end, what is still held back is given this long to go.
  static constexpr int kFinalFlushMs = 1000;

 private:
  // Writes what goes without waiting longer than wait_ms.
  void Flush(int wait_ms);
  void Gone();

  std::FILE* out_;
  std::FILE* err_;
  int fd_;  // -1: not a descriptor (a test's memory stream), written through stdio
  std::string backlog_;
  bool gone_ = false;
  bool dropped_said_ = false;
};

}  // namespace korval::platform::posix
