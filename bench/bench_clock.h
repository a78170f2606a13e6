#pragma once
// Time and CPU readings shared by the benchmarks. CLOCK_MONOTONIC is the clock the
// program's tick count and std::chrono::steady_clock use, and it is the same clock
// in every process, so a stamp taken by a peer process can be compared directly.

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <map>
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

// A thread's time on a CPU in nanoseconds and how many times it was scheduled in
// (schedstat: finer than the clock ticks of /proc/.../stat); zeros when it is gone.
struct ThreadTimes {
  std::int64_t cpu_ns = 0;
  std::int64_t runs = 0;
  ThreadTimes& operator+=(const ThreadTimes& other) {
    cpu_ns += other.cpu_ns;
    runs += other.runs;
    return *this;
  }
};

inline ThreadTimes ReadThreadTimes(long tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
  long long on_cpu = 0, waiting = 0, runs = 0;
  if (!(in >> on_cpu >> waiting >> runs)) return {};
  return {on_cpu, runs};
}

inline ThreadTimes MainThreadTimes() { return ReadThreadTimes(::getpid()); }

// Every thread of the process but except_tid (the measuring thread), by thread id.
inline std::map<long, ThreadTimes> EachThreadTimes(long except_tid) {
  std::map<long, ThreadTimes> each;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const long tid = std::stol(entry->d_name);
      if (tid != except_tid) each[tid] = ReadThreadTimes(tid);
    }
    ::closedir(dir);
  }
  return each;
}

}  // namespace korval::bench
