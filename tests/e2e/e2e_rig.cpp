#include "e2e_rig.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "wine_program.h"

extern char** environ;

namespace korval::e2e {
namespace {

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int MsLeft(double end) {
  const double left = end - Now();
  return left > 0 ? static_cast<int>(left * 1000) + 1 : 0;
}

// The emulator outlives any korvalcom run, so that it is the program's bound that
// trips first; the test still kills it at the end.
constexpr int kEmulatorTimeoutS = 200;
constexpr int kPtyLineTimeoutMs = 30000;
// --once ends the emulator within 2 s of the line closing; sanitizers slow it down.
constexpr int kEmulatorFinishMs = 30000;

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

TempDir::TempDir() {
  char name[] = "/tmp/korval-e2e-XXXXXX";
  if (::mkdtemp(name) != nullptr) path_ = name;
  EXPECT_FALSE(path_.empty()) << "mkdtemp: " << std::strerror(errno);
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  if (::testing::Test::HasFailure()) {
    std::cerr << "e2e: files kept in " << path_ << "\n";
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Child::~Child() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (stdout_fd_ >= 0) ::close(stdout_fd_);
}

bool Child::Start(const std::vector<std::string>& args, const std::vector<std::string>& env,
                  bool stdout_pipe, const std::string& stdout_path,
                  const std::string& stderr_path) {
  std::vector<std::string> arg_copy = args;
  std::vector<std::string> env_copy = env;
  std::vector<char*> argv;
  for (std::string& a : arg_copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env_copy) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2] = {-1, -1};
  // Close-on-exec: the program must not inherit the emulator's pipe.
  if (stdout_pipe && ::pipe2(out, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (stdout_pipe) {
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdout_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  started_ = Now();
  const int error = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (stdout_pipe) {
    ::close(out[1]);
    stdout_fd_ = out[0];
  }
  if (error != 0) {
    pid_ = -1;
    ADD_FAILURE() << "posix_spawn " << args[0] << ": " << std::strerror(error);
    return false;
  }
  return true;
}

std::string Child::ReadLine(int timeout_ms) {
  const double end = Now() + timeout_ms / 1000.0;
  while (pending_.find('\n') == std::string::npos) {
    pollfd p{stdout_fd_, POLLIN, 0};
    if (::poll(&p, 1, MsLeft(end)) <= 0) return "";
    char buffer[256];
    const ssize_t n = ::read(stdout_fd_, buffer, sizeof buffer);
    if (n <= 0) return "";
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
  const std::string line = pending_.substr(0, pending_.find('\n'));
  pending_.erase(0, line.size() + 1);
  return line;
}

bool Child::Signal(int sig) { return pid_ > 0 && ::kill(pid_, sig) == 0; }

bool Child::Ended() const {
  if (pid_ <= 0) return true;
  siginfo_t info{};
  // WNOWAIT: the child stays to be reaped by Wait.
  return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid_;
}

std::optional<int> Child::Wait(int timeout_ms) {
  if (pid_ <= 0) return std::nullopt;
  const double end = Now() + timeout_ms / 1000.0;
  for (;;) {
    int status = 0;
    const pid_t got = ::waitpid(pid_, &status, WNOHANG);
    if (got == pid_) {
      seconds_ = Now() - started_;
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (got < 0 && errno != EINTR) {
      pid_ = -1;
      return std::nullopt;
    }
    if (MsLeft(end) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      seconds_ = Now() - started_;
      pid_ = -1;
      return std::nullopt;
    }
    ::poll(nullptr, 0, 20);
  }
}

std::vector<std::string> FastPeer() {
  return {"--dial-delay-ms",   "100", "--banner-delay-ms", "50", "--com-delay-ms", "50",
          "--answer-delay-ms", "50",  "--okf-delay-ms",    "50"};
}

Emulator::Emulator(const TempDir& dir, const std::vector<std::string>& options) : dir_(dir) {
  std::vector<std::string> args = {
      KORVAL_NETEMU_EXE, "--once",           "--timeout",  std::to_string(kEmulatorTimeoutS),
      "--report",        dir / "report.txt", "--received", dir / "received.bin"};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  if (!child_.Start(args, env, true, "", dir / "netemu.err")) return;
  pty_ = child_.ReadLine(kPtyLineTimeoutMs);
  EXPECT_EQ(pty_.rfind("/dev/", 0), 0u) << "no device from korval-netemu: \"" << pty_ << "\"\n"
                                        << Stderr();
}

std::optional<int> Emulator::Finish() { return child_.Wait(kEmulatorFinishMs); }

std::string Emulator::Report() const { return ReadFile(dir_ / "report.txt"); }
std::string Emulator::Received() const { return ReadFile(dir_ / "received.bin"); }
std::string Emulator::Stderr() const { return ReadFile(dir_ / "netemu.err"); }

bool StartProgram(Child& child, const TempDir& dir, const std::string& win_ini,
                  const std::string& job, const std::string& stderr_path) {
  const std::string err = stderr_path.empty() ? dir / "korvalcom.err" : stderr_path;
  if (wine::Enabled()) {
    if (!wine::InstallWinIni(win_ini)) return false;
    wine::BeginRun();
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    return child.Start(wine::ProgramArgs(job), env, false, dir / "korvalcom.out", err);
  }
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "KORVAL_WININI=", 14) != 0) env.emplace_back(*e);
  }
  env.push_back("KORVAL_WININI=" + win_ini);
  return child.Start({KORVAL_PROGRAM_EXE, "/B:" + job, "/N:E2E"}, env, false, dir / "korvalcom.out",
                     err);
}

ProgramRun FinishProgram(Child& child, const TempDir& dir, int timeout_s,
                         const std::string& stderr_path) {
  ProgramRun run;
  run.status = child.Wait(timeout_s * 1000);
  run.seconds = child.seconds();
  run.out = ReadFile(dir / "korvalcom.out");
  if (wine::Enabled()) {
    // Wine's own messages stay in the file, for the post-mortem.
    run.out = wine::LogAsOnLinux(run.out);
    run.err = wine::BoxesOfRun();
  } else if (stderr_path.empty()) {
    run.err = ReadFile(dir / "korvalcom.err");
  }
  return run;
}

namespace {

bool NamedIn(const char* entry, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=') {
      return true;
    }
  }
  return false;
}

// The limit is inherited by the child; the parent keeps it only while spawning, and
// the child must get EFBIG rather than die of SIGXFSZ.
bool StartLimited(Child& child, const std::vector<std::string>& args,
                  const std::vector<std::string>& env, const TempDir& dir, long limit) {
  struct rlimit old_limit;
  if (limit > 0 && ::getrlimit(RLIMIT_FSIZE, &old_limit) != 0) return false;
  const auto old_handler = limit > 0 ? std::signal(SIGXFSZ, SIG_IGN) : SIG_DFL;
  if (limit > 0) {
    struct rlimit small = old_limit;
    small.rlim_cur = static_cast<rlim_t>(limit);
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return false;
  }
  const bool started = child.Start(args, env, false, dir / "korvalcom.out", dir / "korvalcom.err");
  if (limit > 0) {
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
  }
  return started;
}

}  // namespace

ProgramRun RunProgramWith(const TempDir& dir, const ProgramStart& start, int timeout_s,
                          bool* stop_sent) {
  std::vector<std::string> names = start.unset;
  for (const std::string& e : start.env) names.push_back(e.substr(0, e.find('=')));
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!NamedIn(*e, names)) env.emplace_back(*e);
  }
  env.insert(env.end(), start.env.begin(), start.env.end());
  std::vector<std::string> args = {KORVAL_PROGRAM_EXE};
  args.insert(args.end(), start.args.begin(), start.args.end());

  ProgramRun run;
  Child child;
  if (stop_sent != nullptr) *stop_sent = false;
  if (!StartLimited(child, args, env, dir, start.file_size_limit)) return run;
  const double end = Now() + timeout_s;
  if (!start.stop_after.empty()) {
    // The output file grows line by line; polled, never assumed.
    while (MsLeft(end) > 0 && !child.Ended()) {
      if (ReadFile(dir / "korvalcom.out").find(start.stop_after) != std::string::npos) {
        if (stop_sent != nullptr) *stop_sent = child.Signal(start.stop_signal);
        break;
      }
      ::poll(nullptr, 0, 20);
    }
  }
  run.status = child.Wait(MsLeft(end));
  run.seconds = child.seconds();
  run.out = ReadFile(dir / "korvalcom.out");
  run.err = ReadFile(dir / "korvalcom.err");
  return run;
}

ProgramRun RunProgram(const TempDir& dir, const std::string& win_ini, const std::string& job,
                      int timeout_s, const std::string& stderr_path) {
  Child child;
  if (!StartProgram(child, dir, win_ini, job, stderr_path)) return ProgramRun{};
  return FinishProgram(child, dir, timeout_s, stderr_path);
}

Terminal::Terminal() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char name[128];
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0) {
    return;
  }
  keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  struct termios settings;
  if (keeper_ < 0 || ::tcgetattr(keeper_, &settings) != 0) return;
  ::cfmakeraw(&settings);
  if (::tcsetattr(keeper_, TCSANOW, &settings) != 0) return;
  path_ = name;
}

Terminal::~Terminal() {
  if (keeper_ >= 0) ::close(keeper_);
  if (master_ >= 0) ::close(master_);
}

std::string Terminal::ReadAll() {
  std::string got;
  for (;;) {
    pollfd entry = {master_, POLLIN, 0};
    if (::poll(&entry, 1, 200) != 1 || !(entry.revents & POLLIN)) return got;
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) return got;
    got.append(buffer, static_cast<std::size_t>(n));
  }
}

std::optional<std::string> ReportValue(const std::string& report, const std::string& key) {
  for (const std::string& line : Lines(report)) {
    if (line.rfind(key + ": ", 0) == 0) {
      std::string value = line.substr(key.size() + 2);
      while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
      return value;
    }
  }
  return std::nullopt;
}

std::vector<ReportedRecord> ReportedRecords(const std::string& report) {
  // "record 2: 160 bytes, at 4210 ms, end-of-record signal: carriage return, quiet ..."
  std::vector<ReportedRecord> records;
  for (const std::string& line : Lines(report)) {
    if (line.rfind("record ", 0) != 0 || line.rfind("records", 0) == 0) continue;
    ReportedRecord record;
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    record.length = std::strtoul(line.c_str() + colon + 2, nullptr, 10);
    const std::string marker = "end-of-record signal: ";
    const std::size_t eor = line.find(marker);
    if (eor != std::string::npos) {
      const std::size_t from = eor + marker.size();
      record.eor = line.substr(from, line.find(',', from) - from);
    }
    records.push_back(record);
  }
  return records;
}

std::vector<std::string> ReportedViolations(const std::string& report) {
  std::vector<std::string> violations;
  bool in_section = false;
  for (const std::string& line : Lines(report)) {
    if (line.rfind("[violations]", 0) == 0) {
      in_section = true;
    } else if (in_section && line.rfind("count: ", 0) != 0) {
      violations.push_back(line);
    }
  }
  return violations;
}

std::vector<std::string> ProtocolFaults(const std::string& report) {
  // The emulator times the quiet after a record when it reads the pty, so a busy
  // machine (sanitizers, ctest -j) can shorten the program's 100 ms by some
  // milliseconds; a record sent with no pause at all still counts.
  constexpr unsigned long kMeasurableQuietMs = 50;
  std::vector<std::string> faults;
  for (const std::string& line : ReportedViolations(report)) {
    const std::size_t only = line.find(": only ");
    if (only != std::string::npos && line.find(" ms of quiet after record ") != std::string::npos &&
        std::strtoul(line.c_str() + only + 7, nullptr, 10) >= kMeasurableQuietMs) {
      continue;
    }
    faults.push_back(line);
  }
  return faults;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find('\n', from);
    const std::size_t next = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(from, next - from));
    from = next;
  }
  return lines;
}

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// Calls f(line, in_korval) for each line, after the byte-order mark.
template <typename F>
void ForEachLine(const std::string& text, F f) {
  bool in_korval = false;
  for (std::string line : Lines(text)) {
    const std::string bare = WithoutLineEnd(line);
    std::string key = bare;
    if (key.rfind("\xEF\xBB\xBF", 0) == 0) key.erase(0, 3);
    if (!key.empty() && key[0] == '[') in_korval = Upper(key) == "[KORVAL]";
    f(line, key, in_korval);
  }
}

bool IsResultLine(const std::string& key_line) {
  const std::string upper = Upper(key_line);
  for (const char* key : {"RETOUR=", "DETAIL1=", "DETAIL2="}) {
    if (upper.rfind(key, 0) == 0) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> WithoutResults(const std::string& text) {
  std::vector<std::string> kept;
  ForEachLine(text, [&](const std::string& line, const std::string& key, bool in_korval) {
    if (!(in_korval && IsResultLine(key))) kept.push_back(line);
  });
  return kept;
}

std::vector<std::string> KorvalValues(const std::string& text, const std::string& key) {
  std::vector<std::string> values;
  const std::string prefix = Upper(key) + "=";
  ForEachLine(text, [&](const std::string&, const std::string& line, bool in_korval) {
    if (in_korval && Upper(line).rfind(prefix, 0) == 0) {
      values.push_back(line.substr(prefix.size()));
    }
  });
  return values;
}

void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    EXPECT_NE(found, std::string::npos) << "\"" << part << "\" not in order in:\n" << text;
    if (found != std::string::npos) at = found + part.size();
  }
}

}  // namespace korval::e2e
