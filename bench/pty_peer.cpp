#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "bench_clock.h"

namespace korval::bench {
namespace {

struct StampOrder {
  int count;
  int gap_min_us;
  int gap_max_us;
};

void WriteAll(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

// The modem's command side: "+++" returns to command mode, a line starting with AT
// gets OK, or CONNECT when it dials.
void Answer(int master, std::string& pending, bool& online) {
  if (const std::size_t escape = pending.find("+++"); escape != std::string::npos) {
    pending.erase(0, escape + 3);
    online = false;
    WriteAll(master, "\r\nOK\r\n", 6);
  }
  for (;;) {
    const std::size_t end = pending.find('\r');
    if (end == std::string::npos) break;
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    const std::size_t start = line.find_first_not_of("\n ");
    if (online || start == std::string::npos) continue;
    line.erase(0, start);
    if (line.size() < 2 || (line[0] != 'A' && line[0] != 'a')) continue;
    if (line.size() > 2 && (line[2] == 'D' || line[2] == 'd')) {
      online = true;
      WriteAll(master, "\r\nCONNECT 9600\r\n", 16);
    } else {
      WriteAll(master, "\r\nOK\r\n", 6);
    }
  }
  if (online) pending.clear();  // data from the program is not looked at
}

[[noreturn]] void RunPeer(int master, int control) {
  std::string pending;
  bool online = false;
  StampOrder order{0, 0, 0};
  std::int64_t due_ns = 0;
  std::mt19937 random(12345);
  for (;;) {
    pollfd fds[2] = {{master, POLLIN, 0}, {control, POLLIN, 0}};
    timespec wait{0, 20'000'000};
    if (order.count > 0) {
      const std::int64_t left = due_ns - MonoNs();
      wait = left > 0 ? timespec{left / 1'000'000'000, left % 1'000'000'000} : timespec{0, 0};
    }
    ::ppoll(fds, 2, &wait, nullptr);
    if (fds[1].revents != 0) {
      StampOrder next{};
      if (::read(control, &next, sizeof next) != sizeof next) ::_exit(0);
      order = next;
      due_ns = MonoNs();
    }
    if (fds[0].revents & POLLIN) {
      char bytes[512];
      const ssize_t n = ::read(master, bytes, sizeof bytes);
      if (n > 0) {
        pending.append(bytes, static_cast<std::size_t>(n));
        Answer(master, pending, online);
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      // No slave descriptor is open: poll would report it at once, every time.
      ::usleep(20'000);
    }
    if (order.count > 0 && MonoNs() >= due_ns) {
      char stamp[32];
      const int length =
          std::snprintf(stamp, sizeof stamp, "%016llx;", static_cast<unsigned long long>(MonoNs()));
      WriteAll(master, stamp, static_cast<std::size_t>(length));
      --order.count;
      std::uniform_int_distribution<int> gap(order.gap_min_us, order.gap_max_us);
      due_ns = MonoNs() + static_cast<std::int64_t>(gap(random)) * 1000;
    }
  }
}

}  // namespace

PtyPeer::~PtyPeer() { Stop(); }

bool PtyPeer::Start() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
  const char* name = ::ptsname(master);
  if (name == nullptr) return false;
  slave_path_ = name;
  // Opened once to make it raw; closing it arms the master's hang-up report, which
  // the peer must not take for data.
  const int slave = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
  if (slave < 0) return false;
  termios settings{};
  ::tcgetattr(slave, &settings);
  ::cfmakeraw(&settings);
  ::tcsetattr(slave, TCSANOW, &settings);
  ::close(slave);

  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return false;
  pid_ = ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    ::close(pipe_fds[1]);
    RunPeer(master, pipe_fds[0]);
  }
  ::close(pipe_fds[0]);
  ::close(master);
  control_fd_ = pipe_fds[1];
  return true;
}

bool PtyPeer::SendStamps(int count, int gap_min_us, int gap_max_us) {
  const StampOrder order{count, gap_min_us, gap_max_us};
  return control_fd_ >= 0 && ::write(control_fd_, &order, sizeof order) == sizeof order;
}

void PtyPeer::Stop() {
  if (control_fd_ >= 0) {
    ::close(control_fd_);
    control_fd_ = -1;
  }
  if (pid_ > 0) {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
}

}  // namespace korval::bench
