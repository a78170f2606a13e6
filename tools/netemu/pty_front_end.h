// Runs the far-end engine on a pseudo-terminal in real time (POSIX only).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "engine/far_end.h"

namespace korval::netemu {

class PtyLine {
 public:
  PtyLine() = default;
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Creates the pair, sets both sides raw and arms the hang-up detection.
  bool Open(std::string& error);
  void Close();
  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

 private:
  int master_ = -1;
  std::string slave_path_;
};

struct RunSettings {
  bool once = false;
  std::optional<std::uint64_t> timeout_ms;
  bool verbose = false;
  std::uint64_t linger_ms = 2000;  // after a hang-up, for the program to close
  // Called whenever a session ends and at the end of the run.
  std::function<void(const Report&)> on_report;
};

enum class RunOutcome { kDone, kTimedOut, kSystemError };

RunOutcome RunOnPty(PtyLine& line, FarEnd& far_end, const RunSettings& settings, std::ostream& log);

}  // namespace korval::netemu
