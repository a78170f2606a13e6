#pragma once
// Time and CPU readings shared by the benchmarks. CLOCK_MONOTONIC is the clock the
// program's tick count and std::chrono::steady_clock use, and it is the same clock
// in every process, so a stamp taken by a peer process can be compared directly.

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include <dirent.h>

namespace korval::bench {

inline std::int64_t MonoNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

inline std::int64_t TimevalNs(const timeval& tv) {
  return static_cast<std::int64_t>(tv.tv_sec) * 1'000'000'000 +
         static_cast<std::int64_t>(tv.tv_usec) * 1000;
}

// User plus system time of the whole process, every thread included.
inline std::int64_t ProcessCpuNs() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return TimevalNs(usage.ru_utime) + TimevalNs(usage.ru_stime);
}

// One thread's time on a CPU, in nanoseconds (schedstat is finer than the clock
// ticks of /proc/.../stat); -1 when the thread is gone.
inline std::int64_t ThreadCpuNs(long tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
  long long on_cpu = -1;
  if (!(in >> on_cpu)) return -1;
  return on_cpu;
}

// The CPU time of every thread but the main one.
inline std::int64_t OtherThreadsCpuNs() {
  const long main_tid = ::getpid();
  std::int64_t total = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const long tid = std::stol(entry->d_name);
      if (tid == main_tid) continue;
      const std::int64_t ns = ThreadCpuNs(tid);
      if (ns > 0) total += ns;
    }
    ::closedir(dir);
  }
  return total;
}

inline std::int64_t MainThreadCpuNs() { return ThreadCpuNs(::getpid()); }

}  // namespace korval::bench
