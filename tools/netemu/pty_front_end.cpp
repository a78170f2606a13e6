// Hang-up detection: no slave descriptor is kept open here. Linux reports
// POLLHUP on the master (and read gives EIO) while no slave descriptor is
// open, once one has been opened, and clears it when the slave is opened
// again. Open() therefore opens the slave once (to make it raw) and closes
// it: from then on "POLLHUP present" means "nobody on the line" and its
// disappearance means the program has opened the device. As POLLHUP would
// make poll() return at once, the master is left out of the poll set while
// detached and probed every kProbeMs instead.
#include "pty_front_end.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "engine/ebcdic.h"

namespace korval::netemu {
namespace {

constexpr int kProbeMs = 20;
constexpr int kMaxWaitMs = 1000;

int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(g_signal_pipe[1], &byte, 1);
}

bool InstallSignals(std::string& error) {
  if (g_signal_pipe[0] < 0 && pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

std::uint64_t NowMs(std::chrono::steady_clock::time_point start) {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out;
}

bool MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Whether a slave descriptor is open, from the master's point of view.
bool SlaveOpen(int master) {
  pollfd p{master, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return false;
  return (p.revents & POLLHUP) == 0;
}

}  // namespace

PtyLine::~PtyLine() { Close(); }

void PtyLine::Close() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

bool PtyLine::Open(std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    error = std::string("posix_openpt: ") + std::strerror(errno);
    return false;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error = std::string("grantpt/unlockpt: ") + std::strerror(errno);
    Close();
    return false;
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    error = std::string("ptsname: ") + std::strerror(errno);
    Close();
    return false;
  }
  slave_path_ = name;
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  MakeRaw(master_);
  // The line discipline is the slave's: raw, or echo and CR/LF mapping would
  // corrupt the traffic before the program sets its own mode. The settings
  // outlive this descriptor.
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    error = std::string("open ") + name + ": " + std::strerror(errno);
    Close();
    return false;
  }
  const bool raw = MakeRaw(slave);
  close(slave);
  if (!raw) {
    error = std::string("tcsetattr: ") + std::strerror(errno);
    Close();
    return false;
  }
  return true;
}

RunOutcome RunOnPty(PtyLine& line, FarEnd& far_end, const RunSettings& settings,
                    std::ostream& log) {
  std::string error;
  if (!InstallSignals(error)) {
    log << "korval-netemu: " << error << "\n";
    return RunOutcome::kSystemError;
  }
  const auto start = std::chrono::steady_clock::now();
  const int master = line.master();
  bool attached = false;
  bool reported_any = false;
  bool call_end_reported = false;
  bool far_end_dropped = false;
  bool lingering = false;  // a call has ended: the run may end soon
  std::uint64_t linger_until = 0;
  std::string pending;
  RunOutcome outcome = RunOutcome::kDone;

  auto report = [&] {
    reported_any = true;
    if (settings.on_report) settings.on_report(far_end.report());
  };
  // Whether this session did something worth a report: an idle open does not.
  auto eventful = [&] {
    const Report& r = far_end.report();
    return !r.dialled.empty() || r.carrier;
  };
  auto trace = [&](std::uint64_t t, const char* dir, std::string_view bytes) {
    if (settings.verbose) log << t << " ms " << dir << " " << Printable(bytes) << "\n";
  };
  auto flush = [&] {
    while (!pending.empty()) {
      const ssize_t n = write(master, pending.data(), pending.size());
      if (n > 0) {
        pending.erase(0, static_cast<std::size_t>(n));
      } else {
        break;  // EAGAIN: POLLOUT tells when to go on
      }
    }
  };
  auto take_actions = [&](std::uint64_t t) {
    for (Action& action : far_end.TakeActions()) {
      if (action.kind == Action::Kind::kSend) {
        trace(t, "->", action.bytes);
        if (attached) pending += action.bytes;
      } else {
        if (settings.verbose) log << t << " ms far end hangs up\n";
        far_end_dropped = true;
      }
    }
    flush();
  };
  auto hang_up = [&](std::uint64_t t) {
    if (settings.verbose) log << t << " ms line closed by the program\n";
    far_end.OnHangUp(t);
    attached = false;
    pending.clear();
    take_actions(t);
    if (eventful()) report();
  };

  for (;;) {
    std::uint64_t t = NowMs(start);
    if (settings.timeout_ms && t >= *settings.timeout_ms) {
      outcome = RunOutcome::kTimedOut;
      break;
    }
    if (far_end.call_ended() && !call_end_reported) {
      call_end_reported = true;
      report();
      lingering = true;
      linger_until = t + settings.linger_ms;
    }
    const bool ends_run = settings.once || (far_end_dropped && !far_end.options().modem);
    if (ends_run && lingering && (t >= linger_until || !attached)) break;
    if (settings.once && !attached && eventful()) break;

    std::uint64_t wait = kMaxWaitMs;
    auto bound = [&wait, t](std::uint64_t at) { wait = std::min(wait, at > t ? at - t : 0); };
    if (auto due = far_end.NextDeadline()) bound(*due);
    if (settings.timeout_ms) bound(*settings.timeout_ms);
    if (lingering) bound(linger_until);
    if (!attached) bound(t + kProbeMs);

    pollfd fds[2] = {{g_signal_pipe[0], POLLIN, 0}, {master, POLLIN, 0}};
    if (!pending.empty()) fds[1].events |= POLLOUT;
    const int count = attached ? 2 : 1;
    if (poll(fds, count, static_cast<int>(wait)) < 0) {
      if (errno == EINTR) continue;  // the signal pipe says why on the next turn
      log << "korval-netemu: poll: " << std::strerror(errno) << "\n";
      outcome = RunOutcome::kSystemError;
      break;
    }
    t = NowMs(start);
    if (fds[0].revents & POLLIN) {
      if (settings.verbose) log << t << " ms stopped by a signal\n";
      break;
    }

    if (!attached) {
      if (SlaveOpen(master)) {
        if (settings.verbose) log << t << " ms line opened by the program\n";
        attached = true;
        call_end_reported = false;
        far_end_dropped = false;
        lingering = false;
        far_end.OnConnected(t);
        take_actions(t);
      }
    } else if (fds[1].revents) {
      bool closed = false;
      if (fds[1].revents & POLLIN) {
        char buffer[4096];
        for (;;) {
          const ssize_t n = read(master, buffer, sizeof buffer);
          if (n > 0) {
            trace(t, "<-", std::string_view(buffer, static_cast<std::size_t>(n)));
            far_end.OnBytes(std::string_view(buffer, static_cast<std::size_t>(n)), t);
            take_actions(t);
            continue;
          }
          if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
          closed = true;  // EIO (or end of file): no slave descriptor left
          break;
        }
      } else if (fds[1].revents & (POLLHUP | POLLERR)) {
        closed = true;
      }
      if (!closed && (fds[1].revents & POLLOUT)) flush();
      if (closed) hang_up(t);
    }

    far_end.OnTick(t);
    take_actions(t);
  }

  if (attached) flush();
  if (eventful() || !reported_any) report();
  return outcome;
}

}  // namespace korval::netemu
