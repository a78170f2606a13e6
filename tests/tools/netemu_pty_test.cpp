// Runs the real korval-netemu as a child process and talks to it over its
// pseudo-terminal, as the program would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/ebcdic.h"

extern char** environ;

namespace korval::netemu {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Emulator {
 public:
  explicit Emulator(std::vector<std::string> options) {
    char dir_template[] = "/tmp/korval-netemu-test-XXXXXX";
    dir_ = mkdtemp(dir_template);
    std::vector<std::string> args = {KORVAL_NETEMU_EXE, "--report", dir_ + "/report.txt",
                                     "--received", dir_ + "/received.bin"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string err = dir_ + "/stderr.txt";
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    stdout_ = out[0];
  }

  ~Emulator() {
    CloseLine();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) close(stdout_);
    for (const char* name : {"/report.txt", "/received.bin", "/stderr.txt"}) {
      unlink((dir_ + name).c_str());
    }
    rmdir(dir_.c_str());
  }

  const std::string& dir() const { return dir_; }

  // The first line of the emulator's standard output.
  std::string SlavePath() {
    std::string line;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, MsLeft(end)) <= 0) return "";
      char buffer[256];
      const ssize_t n = read(stdout_, buffer, sizeof buffer);
      if (n <= 0) return "";
      line.append(buffer, static_cast<std::size_t>(n));
    }
    return line.substr(0, line.find('\n'));
  }

  bool OpenLine(const std::string& path) {
    line_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line_ < 0) return false;
    termios t{};
    tcgetattr(line_, &t);
    cfmakeraw(&t);
    return tcsetattr(line_, TCSANOW, &t) == 0;
  }

  void CloseLine() {
    if (line_ >= 0) close(line_);
    line_ = -1;
    received_.clear();
  }

  void Write(const std::string& bytes) {
    ASSERT_EQ(write(line_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads until text has come; keeps what followed it.
  bool Expect(const std::string& text, int timeout_ms = 5000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (const auto at = received_.find(text); at != std::string::npos) {
        received_.erase(0, at + text.size());
        return true;
      }
      if (!ReadFor(MsLeft(end))) return false;
    }
  }

  // Lets time pass while taking what arrives.
  void Quiet(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (MsLeft(end) > 0) ReadFor(MsLeft(end));
  }

  // The exit status, waiting at most timeout_ms; -1 if it does not end.
  int Wait(int timeout_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (MsLeft(end) == 0) return -1;
      poll(nullptr, 0, 20);
    }
  }

  void Signal(int sig) { kill(pid_, sig); }

 private:
  bool ReadFor(int timeout_ms) {
    pollfd p{line_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buffer[1024];
    const ssize_t n = read(line_, buffer, sizeof buffer);
    if (n <= 0) return false;
    received_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  std::string dir_;
  pid_t pid_ = -1;
  int stdout_ = -1;
  int line_ = -1;
  std::string received_;
};

const std::vector<std::string> kFast = {"--bank-number",     "175010123", "--dial-delay-ms", "50",
                                        "--banner-delay-ms", "50",        "--com-delay-ms",  "50",
                                        "--answer-delay-ms", "50",        "--okf-delay-ms",  "50"};

std::vector<std::string> With(std::vector<std::string> extra) {
  std::vector<std::string> all = kFast;
  all.insert(all.end(), extra.begin(), extra.end());
  return all;
}

TEST(NetemuPty, DialsConnectsAndReceivesAFile) {
  Emulator emu(With({"--once", "--timeout", "20"}));
  const std::string path = emu.SlavePath();
  ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
  ASSERT_TRUE(emu.OpenLine(path));

  emu.Write("ATZ\r");
  ASSERT_TRUE(emu.Expect("ATZ\r\r\nOK\r\n"));  // echo on by default
  emu.Write("ATE0\r");
  ASSERT_TRUE(emu.Expect("OK\r\n"));
  emu.Write("ATDT3613\r");
  ASSERT_TRUE(emu.Expect("\r\nCONNECT 9600\r\n"));
  ASSERT_TRUE(emu.Expect("TRANSPAC"));

  emu.Write("NAB12-175010123DXY\r");
  ASSERT_TRUE(emu.Expect("COM"));
  emu.Write(EncodeEbcdic(std::string(80, 'C')));
  emu.Write("\r");
  ASSERT_TRUE(emu.Expect(EncodeEbcdic("OK 00000000         ")));
  const std::string data = std::string(160, 'A') + std::string(160, 'B');
  for (int i = 0; i < 2; ++i) {
    emu.Write(EncodeEbcdic(data.substr(static_cast<std::size_t>(i) * 160, 160)));
    emu.Write("\r");
    emu.Quiet(150);
  }
  emu.Write(EncodeEbcdic("FF" + std::string(18, ' ')) + "\r");
  ASSERT_TRUE(emu.Expect(EncodeEbcdic("OKF" + std::string(17, ' '))));
  emu.CloseLine();  // the program's hang-up

  EXPECT_EQ(emu.Wait(10000), 0);
  const std::string report = ReadFile(emu.dir() + "/report.txt");
  EXPECT_NE(report.find("records received: 2"), std::string::npos) << report;
  EXPECT_NE(report.find("nui: AB12"), std::string::npos) << report;
  EXPECT_NE(report.find("complement: XY"), std::string::npos) << report;
  EXPECT_NE(report.find("hung up by: program"), std::string::npos) << report;
  EXPECT_NE(report.find("count: 0"), std::string::npos) << report;
  EXPECT_EQ(ReadFile(emu.dir() + "/received.bin"), data);
}

TEST(NetemuPty, NoticesTheCloseAndAcceptsANextOpen) {
  Emulator emu(With({"--timeout", "20"}));
  const std::string path = emu.SlavePath();
  ASSERT_TRUE(emu.OpenLine(path));
  emu.Write("ATE0\r");
  ASSERT_TRUE(emu.Expect("OK\r\n"));
  emu.Write("ATD3613\r");
  ASSERT_TRUE(emu.Expect("CONNECT 9600"));
  emu.CloseLine();

  // The hang-up is written to the report as soon as it is seen.
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (ReadFile(emu.dir() + "/report.txt").find("hung up by: program") == std::string::npos &&
         MsLeft(end) > 0) {
    poll(nullptr, 0, 20);
  }
  EXPECT_NE(ReadFile(emu.dir() + "/report.txt").find("hung up by: program"), std::string::npos);

  ASSERT_TRUE(emu.OpenLine(path));
  emu.Write("AT\r");
  EXPECT_TRUE(emu.Expect("AT\r\r\nOK\r\n"));  // a fresh modem: echo is on again
  emu.CloseLine();
  emu.Signal(SIGTERM);
  EXPECT_EQ(emu.Wait(5000), 0);
}

TEST(NetemuPty, FarEndHangUpEndsAOnceRun) {
  Emulator emu(With({"--once", "--timeout", "20", "--drop-at", "banner"}));
  ASSERT_TRUE(emu.OpenLine(emu.SlavePath()));
  emu.Write("ATD3613\r");
  ASSERT_TRUE(emu.Expect("CONNECT 9600"));
  ASSERT_TRUE(emu.Expect("NO CARRIER"));
  EXPECT_EQ(emu.Wait(5000), 0);  // lingers at most 2 s for the close
  EXPECT_NE(ReadFile(emu.dir() + "/report.txt").find("hung up by: far end"), std::string::npos);
}

// Under profile 7 the break cannot be seen on a pty: silence ends the records.
TEST(NetemuPty, Profile7RecordsEndBySilence) {
  Emulator emu(With({"--once", "--timeout", "20", "--silence-ms", "300"}));
  ASSERT_TRUE(emu.OpenLine(emu.SlavePath()));
  emu.Write("ATE0\r");
  emu.Write("ATD3613\r");
  ASSERT_TRUE(emu.Expect("TRANSPAC"));
  emu.Write("PROF7\r");
  emu.Quiet(100);
  emu.Write("175010123\r");
  ASSERT_TRUE(emu.Expect("COM"));
  emu.Write(EncodeEbcdic(std::string(80, 'C')));
  EXPECT_FALSE(emu.Expect(EncodeEbcdic("OK "), 250));  // not before the silence
  ASSERT_TRUE(emu.Expect(EncodeEbcdic("OK "), 10000));
  emu.Write(EncodeEbcdic(std::string(160, 'D')));
  emu.Quiet(500);
  emu.Write(EncodeEbcdic("FF" + std::string(18, ' ')));
  ASSERT_TRUE(emu.Expect(EncodeEbcdic("OKF"), 10000));
  emu.CloseLine();
  EXPECT_EQ(emu.Wait(10000), 0);
  const std::string report = ReadFile(emu.dir() + "/report.txt");
  EXPECT_NE(report.find("profile 7: yes"), std::string::npos) << report;
  EXPECT_NE(report.find("record 1: 160 bytes"), std::string::npos) << report;
  EXPECT_NE(report.find("end-of-record signal: silence, quiet after: "), std::string::npos)
      << report;
  EXPECT_NE(report.find("count: 0"), std::string::npos) << report;
}

TEST(NetemuPty, TimeoutEndsTheRun) {
  Emulator emu(With({"--timeout", "0.3"}));
  EXPECT_FALSE(emu.SlavePath().empty());
  EXPECT_EQ(emu.Wait(5000), 3);
}

}  // namespace
}  // namespace korval::netemu
