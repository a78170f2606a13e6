#include "platform/main_thread.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace korval::platform {
namespace {

// Recorded before the read thread starts and never changed while it runs.
std::atomic<std::thread::id> main_thread_id;

}  // namespace

void RecordMainThread() { main_thread_id.store(std::this_thread::get_id()); }

void CheckMainThread(const char* entry_point) {
  const std::thread::id main = main_thread_id.load();
  if (main == std::thread::id() || main == std::this_thread::get_id()) return;
  std::fprintf(stderr, "%s: called outside the main thread\n", entry_point);
  std::abort();
}

}  // namespace korval::platform
