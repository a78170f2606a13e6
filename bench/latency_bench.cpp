// Arrival latency: from a byte written on the pseudo-terminal's master side to its
// arrival in ReceiveBuffer. A peer process writes messages that carry their own
// CLOCK_MONOTONIC stamp, taken just before the write; the main thread takes the
// buffer's content under ReceiveBusy and stamps each arrival. Two ways to look:
//  - pump (default): as the program's own waits do (AwaitReply, the statement
//    loop): one turn of the queue, then a look at the buffer. The read thread wakes
//    the queue after each chunk, so this is the port-to-buffer path plus the main
//    thread's wake-up: an upper bound on the arrival in the buffer, with nothing
//    else competing for the two cores;
//  - spin: a tight loop of looks, the closest view of the arrival itself, but the
//    loop takes a whole core, which on a small machine delays the read thread.
//
//   korval_bench_latency [--count N] [--gap-min-us U] [--gap-max-us U] [--mode pump|spin]
//   (defaults 2000, 1000, 4000, pump)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "link/receive_busy.h"
#include "link_rig.h"
#include "pty_peer.h"

namespace {

double Percentile(const std::vector<std::int64_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto at =
      static_cast<std::size_t>(p / 100.0 * static_cast<double>(sorted.size() - 1) + 0.5);
  return static_cast<double>(sorted[std::min(at, sorted.size() - 1)]) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 2000, gap_min_us = 1000, gap_max_us = 4000;
  bool spin = false;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--mode") == 0) spin = std::strcmp(argv[++i], "spin") == 0;
    else if (std::strcmp(argv[i], "--count") == 0) count = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--gap-min-us") == 0) gap_min_us = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--gap-max-us") == 0) gap_max_us = std::atoi(argv[++i]);
  }
  korval::bench::PtyPeer peer;
  if (!peer.Start()) {
    std::perror("pseudo-terminal");
    return 1;
  }
  std::vector<std::int64_t> latencies;
  latencies.reserve(static_cast<std::size_t>(count));
  std::size_t malformed = 0;
  {
    korval::bench::LinkRig rig(peer.slave_path(), 120);
    if (!rig.Connect()) return 1;
    korval::Process& process = rig.process();
    {
      korval::link::ReceiveBusySection section(process);
      process.receive.buffer.clear();
    }
    if (!peer.SendStamps(count, gap_min_us, gap_max_us)) return 1;
    const std::int64_t deadline =
        korval::bench::MonoNs() +
        (static_cast<std::int64_t>(count) * gap_max_us + 10'000'000) * 1000;
    std::string text, pending;
    while (static_cast<int>(latencies.size() + malformed) < count &&
           korval::bench::MonoNs() < deadline) {
      {
        korval::link::ReceiveBusySection section(process);
        text.swap(process.receive.buffer);
      }
      if (text.empty()) {
        if (!spin) process.os.windows.PumpMessage();
        continue;
      }
      const std::int64_t arrived = korval::bench::MonoNs();
      pending += text;
      text.clear();
      for (std::size_t end; (end = pending.find(';')) != std::string::npos;) {
        const std::string stamp = pending.substr(0, end);
        pending.erase(0, end + 1);
        char* rest = nullptr;
        const long long sent = std::strtoll(stamp.c_str(), &rest, 16);
        if (stamp.size() != 16 || *rest != '\0') {
          ++malformed;
          continue;
        }
        latencies.push_back(arrived - sent);
      }
    }
    rig.Close();
  }
  peer.Stop();
  std::sort(latencies.begin(), latencies.end());
  std::printf(
      "mode=%s arrivals=%zu malformed=%zu min_ms=%.3f median_ms=%.3f p90_ms=%.3f p99_ms=%.3f "
      "p999_ms=%.3f max_ms=%.3f\n",
      spin ? "spin" : "pump", latencies.size(), malformed, Percentile(latencies, 0),
      Percentile(latencies, 50), Percentile(latencies, 90), Percentile(latencies, 99),
      Percentile(latencies, 99.9), Percentile(latencies, 100));
  return static_cast<int>(latencies.size()) == count ? 0 : 1;
}
