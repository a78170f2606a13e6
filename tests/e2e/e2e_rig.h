#pragma once
// The real korvalcom against the real korval-netemu on a pseudo-terminal: child
// processes, their temporary folder and the files either side leaves behind.

#include <sys/types.h>

#include <csignal>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace korval::e2e {

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// Each part found in text, each after the one before it (a test failure otherwise).
void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts);

// A fresh folder under /tmp (short, so the paths stay within the job file's limits);
// removed at the end unless the test failed, for the post-mortem.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One child process; killed and reaped when still running at destruction, so no
// test can leave one behind.
class Child {
 public:
  Child() = default;
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // stdout_pipe: standard output goes to a pipe read by ReadLine; otherwise to
  // stdout_path. Standard error goes to stderr_path; standard input is /dev/null.
  bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env,
             bool stdout_pipe, const std::string& stdout_path, const std::string& stderr_path);

  // The first line of standard output, waiting at most timeout_ms; empty on failure.
  std::string ReadLine(int timeout_ms);

  // The exit status (128 + signal when killed by one), or nothing when the child has
  // not ended within timeout_ms: it is then killed.
  std::optional<int> Wait(int timeout_ms);

  bool running() const { return pid_ > 0; }
  // Sends sig to the running child; false when there is none.
  bool Signal(int sig);
  // Whether the child has ended (it is still reaped by Wait).
  bool Ended() const;
  double seconds() const { return seconds_; }  // from Start to the end seen by Wait

 private:
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  std::string pending_;
  double started_ = 0;
  double seconds_ = 0;
};

// The network emulator's options that make its peers answer fast.
std::vector<std::string> FastPeer();

// korval-netemu with --once, a report and a received file in the folder.
class Emulator {
 public:
  Emulator(const TempDir& dir, const std::vector<std::string>& options);
  // The pseudo-terminal's path, from the first line of standard output.
  const std::string& pty() const { return pty_; }
  // Its exit status once the call has ended; nothing if it overruns (then killed).
  std::optional<int> Finish();
  std::string Report() const;
  std::string Received() const;
  std::string Stderr() const;

 private:
  const TempDir& dir_;
  Child child_;
  std::string pty_;
};

struct ProgramRun {
  std::optional<int> status;  // nothing: killed after overrunning its time
  double seconds = 0;
  std::string out;  // the progress log
  std::string err;  // message boxes and warnings
};

// korvalcom /B:<job> with KORVAL_WININI naming win_ini, bounded by timeout_s. Standard
// error goes to stderr_path when one is given (err is then left empty).
ProgramRun RunProgram(const TempDir& dir, const std::string& win_ini, const std::string& job,
                      int timeout_s, const std::string& stderr_path = {});
// The same in two halves, for runs that overlap: each writes its output in its own
// folder.
bool StartProgram(Child& child, const TempDir& dir, const std::string& win_ini,
                  const std::string& job, const std::string& stderr_path = {});
ProgramRun FinishProgram(Child& child, const TempDir& dir, int timeout_s,
                         const std::string& stderr_path = {});

// How korvalcom is started by RunProgramWith.
struct ProgramStart {
  std::vector<std::string> args;   // after the program's name
  std::vector<std::string> env;    // NAME=value, replacing the same names of ours
  std::vector<std::string> unset;  // names of ours left out
  std::string stop_after;          // when not empty: SIGTERM once this shows on stdout
  long file_size_limit = 0;        // when not 0: RLIMIT_FSIZE of the program, in bytes
  int stop_signal = SIGTERM;       // what stop_after sends
};

// korvalcom as a user or an application may start it, bounded by timeout_s. With
// stop_after, the output is watched (bounded too) and the stop sent once it shows;
// stop_sent then says whether it was.
ProgramRun RunProgramWith(const TempDir& dir, const ProgramStart& start, int timeout_s,
                          bool* stop_sent = nullptr);

// A raw pseudo-terminal for a child's output; the test reads what the child wrote
// from the master side.
class Terminal {
 public:
  Terminal();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  // The slave device; empty when no pseudo-terminal could be made.
  const std::string& path() const { return path_; }
  // Everything written so far, waiting a moment for the last bytes.
  std::string ReadAll();

 private:
  int master_ = -1;
  int keeper_ = -1;  // keeps the slave side alive after the child has closed it
  std::string path_;
};

// The value after "key: " on the report's first line that starts so; nothing if none.
std::optional<std::string> ReportValue(const std::string& report, const std::string& key);

struct ReportedRecord {
  std::size_t length = 0;
  std::string eor;  // end-of-record signal: "carriage return", "silence", ...
};
std::vector<ReportedRecord> ReportedRecords(const std::string& report);
// The lines under "[violations]" after its count.
std::vector<std::string> ReportedViolations(const std::string& report);
// The violations less the short quiets a loaded machine makes the emulator measure.
std::vector<std::string> ProtocolFaults(const std::string& report);

// The job file's lines, each with its line end; a last line without one is kept too.
std::vector<std::string> Lines(const std::string& text);
// The lines of a job file without the [KORVAL] keys the program writes.
std::vector<std::string> WithoutResults(const std::string& text);
// Every value of a [KORVAL] key, in order (a key written twice shows as two).
std::vector<std::string> KorvalValues(const std::string& text, const std::string& key);

}  // namespace korval::e2e
