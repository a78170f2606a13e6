#pragma once
// A stand-in modem on a pseudo-terminal: it answers every AT command with OK and a
// dial with CONNECT 9600, then stays silent unless asked to send stamps. It runs in
// a child process so that its CPU time stays out of the measured process's figures.

#include <sys/types.h>

#include <string>

namespace korval::bench {

class PtyPeer {
 public:
  PtyPeer() = default;
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  // Must run before the measured process starts any thread (it forks).
  bool Start();
  const std::string& slave_path() const { return slave_path_; }

  // Once connected: count messages "<16 hex digits of CLOCK_MONOTONIC ns>;", each
  // stamped just before its write, gap_min_us..gap_max_us apart (uniform), so that
  // arrivals do not fall in step with any polling period of the reader.
  bool SendStamps(int count, int gap_min_us, int gap_max_us);

  // Ends the child and waits for it.
  void Stop();

 private:
  std::string slave_path_;
  pid_t pid_ = -1;
  int control_fd_ = -1;
};

}  // namespace korval::bench
