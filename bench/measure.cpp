// Runs one command and measures it from outside: wall time, user and system CPU
// time and peak resident memory (wait4), plus the time at which chosen lines first
// appear on its standard output or error (stamped as they come through pipes; the
// program flushes each progress line).
//
//   korval_bench_measure [--mark NAME=TEXT]... [--log FILE] -- COMMAND [ARG]...
// Prints one line: wall_ms=... user_ms=... sys_ms=... cpu_pct=... maxrss_kb=...
// exit=... and mark_NAME_ms=... for every mark seen (-1 when never seen).

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench_clock.h"

namespace {

struct Mark {
  std::string name, text;
  double at_ms = -1;
};

struct Stream {
  int fd;
  const char* tag;
  std::string pending;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<Mark> marks;
  std::FILE* log = nullptr;
  int first = 1;
  for (; first < argc; ++first) {
    const std::string arg = argv[first];
    if (arg == "--") {
      ++first;
      break;
    }
    if (arg == "--mark" && first + 1 < argc) {
      const std::string mark_text = argv[++first];
      const std::size_t eq = mark_text.find('=');
      if (eq == std::string::npos) return 2;
      marks.push_back({mark_text.substr(0, eq), mark_text.substr(eq + 1)});
    } else if (arg == "--log" && first + 1 < argc) {
      log = std::fopen(argv[++first], "w");
    } else {
      std::fprintf(
          stderr, "usage: korval_bench_measure [--mark NAME=TEXT]... [--log FILE] -- COMMAND...\n");
      return 2;
    }
  }
  if (first >= argc) return 2;

  int out_pipe[2], err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) return 1;
  const std::int64_t start = korval::bench::MonoNs();
  const pid_t pid = ::fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) ::close(fd);
    ::execvp(argv[first], argv + first);
    std::perror("exec");
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  std::vector<Stream> streams = {{out_pipe[0], "out", {}}, {err_pipe[0], "err", {}}};
  auto take_line = [&](const char* tag, const std::string& line, double at_ms) {
    if (log) std::fprintf(log, "%10.1f %s %s\n", at_ms, tag, line.c_str());
    for (Mark& mark : marks) {
      if (mark.at_ms < 0 && line.find(mark.text) != std::string::npos) mark.at_ms = at_ms;
    }
  };
  std::size_t open = streams.size();
  while (open > 0) {
    std::vector<pollfd> fds;
    for (const Stream& s : streams) fds.push_back({s.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    const double at_ms = static_cast<double>(korval::bench::MonoNs() - start) / 1e6;
    for (std::size_t i = 0; i < streams.size(); ++i) {
      Stream& s = streams[i];
      if (s.fd < 0 || fds[i].revents == 0) continue;
      char bytes[4096];
      const ssize_t n = ::read(s.fd, bytes, sizeof bytes);
      if (n <= 0) {
        if (!s.pending.empty()) take_line(s.tag, s.pending, at_ms);
        ::close(s.fd);
        s.fd = -1;
        --open;
        continue;
      }
      s.pending.append(bytes, static_cast<std::size_t>(n));
      for (std::size_t end; (end = s.pending.find('\n')) != std::string::npos;) {
        take_line(s.tag, s.pending.substr(0, end), at_ms);
        s.pending.erase(0, end + 1);
      }
    }
    // A closed stream must drop out of the poll set.
    std::erase_if(streams, [](const Stream& s) { return s.fd < 0; });
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double wall_ms = static_cast<double>(korval::bench::MonoNs() - start) / 1e6;
  const double user_ms = static_cast<double>(korval::bench::TimevalNs(usage.ru_utime)) / 1e6;
  const double sys_ms = static_cast<double>(korval::bench::TimevalNs(usage.ru_stime)) / 1e6;
  if (log) std::fclose(log);
  std::printf("wall_ms=%.1f user_ms=%.1f sys_ms=%.1f cpu_pct=%.3f maxrss_kb=%ld exit=%d", wall_ms,
              user_ms, sys_ms, 100.0 * (user_ms + sys_ms) / wall_ms, usage.ru_maxrss,
              WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  for (const Mark& mark : marks) std::printf(" mark_%s_ms=%.1f", mark.name.c_str(), mark.at_ms);
  std::printf("\n");
  return 0;
}
