// Idle cost: the CPU the program's process uses while its main thread waits, on a
// connected call whose far end stays silent: in Pause, then in AwaitReply for a
// reply that never comes. A sampler thread reads the process's CPU time (getrusage)
// and each thread's (schedstat) at the two ends of a window that lies wholly inside
// each wait, so neither the wait's start nor AwaitReply's hang-up at its time-out is
// counted.
//
//   korval_bench_idle [--seconds S]      (default 10)
// Prints one "key=value ..." line per wait. thread_wakeups_per_s lists every thread
// but the sampler in the order they were made (Linux gives rising ids): the main
// thread, the modem call thread, then the read thread.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "bench_clock.h"
#include "exchange/pump.h"
#include "link/await_reply.h"
#include "link_rig.h"
#include "pty_peer.h"

namespace {

using korval::bench::MonoNs;

using ThreadMap = std::map<long, korval::bench::ThreadTimes>;

struct Sample {
  std::int64_t wall, process;
  ThreadMap threads;  // the sampler's own left out
};

Sample Take() {
  return {MonoNs(), korval::bench::ProcessCpuNs(),
          korval::bench::EachThreadTimes(static_cast<long>(::gettid()))};
}

// A thread that ended inside the window counts as idle from then on.
korval::bench::ThreadTimes Spent(const Sample& first, const Sample& last, long tid) {
  const auto before = first.threads.find(tid);
  const auto after = last.threads.find(tid);
  if (before == first.threads.end() || after == last.threads.end()) return {};
  return {after->second.cpu_ns - before->second.cpu_ns, after->second.runs - before->second.runs};
}

constexpr int kLeadInMs = 1000;  // the window opens this long after the wait began

// Runs wait on the main thread while a sampler thread measures a window of seconds.
template <typename Wait>
void Measure(const char* name, int seconds, Wait wait) {
  Sample first{}, last{};
  std::thread sampler([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(kLeadInMs));
    first = Take();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    last = Take();
  });
  const std::int64_t began = MonoNs();
  wait();
  const double waited_s = static_cast<double>(MonoNs() - began) / 1e9;
  sampler.join();
  const double wall = static_cast<double>(last.wall - first.wall);
  auto pct = [wall](std::int64_t ns) { return 100.0 * static_cast<double>(ns) / wall; };
  // A wait that ended before the window closed makes the window meaningless.
  const bool valid = waited_s * 1000 >= kLeadInMs + seconds * 1000.0;
  // Wake-ups per second: what an idle wait costs is mostly how often it is woken.
  auto rate = [wall](std::int64_t runs) { return static_cast<double>(runs) / (wall / 1e9); };
  const long main_tid = ::getpid();
  const korval::bench::ThreadTimes main = Spent(first, last, main_tid);
  korval::bench::ThreadTimes others;
  std::string each;
  for (const auto& [tid, times] : first.threads) {
    const korval::bench::ThreadTimes spent = Spent(first, last, tid);
    if (tid != main_tid) others += spent;
    char entry[64];
    std::snprintf(entry, sizeof entry, "%s%.1f", each.empty() ? "" : ",", rate(spent.runs));
    each += entry;
  }
  // The sampler thread is left out of the others: it runs twice in the window.
  std::printf(
      "wait=%s waited_s=%.3f valid=%d window_s=%.3f cpu_pct=%.3f main_thread_pct=%.3f "
      "other_threads_pct=%.3f main_wakeups_per_s=%.1f other_wakeups_per_s=%.1f "
      "thread_wakeups_per_s=%s\n",
      name, waited_s, valid ? 1 : 0, wall / 1e9, pct(last.process - first.process),
      pct(main.cpu_ns), pct(others.cpu_ns), rate(main.runs), rate(others.runs), each.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atoi(argv[++i]);
  }
  if (seconds <= 0) seconds = 10;

  korval::bench::PtyPeer peer;
  if (!peer.Start()) {
    std::perror("pseudo-terminal");
    return 1;
  }
  // AwaitReply's limit must outlast the window and its lead-in.
  const auto reply_wait_s = static_cast<std::uint32_t>(seconds + kLeadInMs / 1000 + 2);
  int status = 0;
  {
    korval::bench::LinkRig rig(peer.slave_path(), reply_wait_s);
    if (!rig.Connect()) return 1;
    korval::Process& process = rig.process();
    const auto pause_ms = static_cast<std::uint32_t>((seconds + 2) * 1000 + kLeadInMs);
    Measure("Pause", seconds, [&] { korval::exchange::Pause(process, pause_ms); });
    Measure("AwaitReply", seconds, [&] {
      if (korval::link::AwaitReply(process, "NEVER SENT", "") != 0) status = 1;
    });
    rig.Close();
  }
  peer.Stop();
  return status;
}
