// The console's idle wait ends on what the main thread must act on, not on a poll:
// a close signal and a posted task end even a wait with no bound in sight.
#include <poll.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>

#include "platform/posix/console_window_system.h"
#include "platform/posix/posix_clock.h"

namespace korval::platform::posix {
namespace {

constexpr int kClosed = 1;
constexpr int kTaskRan = 2;
constexpr int kWatchdog = 3;
// Far beyond the test's bounds: only the awaited event can end a wait in time.
constexpr std::uint32_t kIdleWaitMaxMs = 600'000;
// The main thread's own way out when the event did not wake it.
constexpr std::uint32_t kWatchdogMs = 30'000;
constexpr std::uint32_t kWatchdogTimer = 7;
constexpr int kHandledBoundMs = 10'000;

// Polls flag every millisecond, for at most bound_ms.
bool Eventually(const std::atomic<bool>& flag, int bound_ms) {
  for (int waited = 0; !flag.load() && waited < bound_ms; ++waited) ::poll(nullptr, 0, 1);
  return flag.load();
}

class MainWindow final : public DialogEvents {
 public:
  MainWindow(ConsoleWindowSystem& windows, std::atomic<bool>& ready)
      : windows_(windows), ready_(ready) {}
  bool OnCreate(WindowHandle window) override {
    window_ = window;
    return true;
  }
  void OnInitDialog() override {
    windows_.SetTimer(window_, kWatchdogTimer, kWatchdogMs);
    ready_ = true;
  }
  void OnTimer(std::uint32_t) override { windows_.EndDialog(window_, kWatchdog); }
  void OnSysCommand(std::uint32_t id) override {
    if (id == kScClose) End(kClosed);
  }
  void OnDialogKey(DialogKey) override {}
  // Main thread.
  void End(int result) {
    windows_.EndDialog(window_, result);
    handled = true;
  }
  std::atomic<bool> handled{false};

 private:
  ConsoleWindowSystem& windows_;
  std::atomic<bool>& ready_;
  WindowHandle window_ = kNoWindow;
};

struct WakeCase {
  const char* name;
  std::function<void(ConsoleWindowSystem&, MainWindow&)> act;  // on another thread
  int result;
};

TEST(ConsoleIdleWaitTest, ASignalOrAPostedTaskEndsTheWaitBeforeAnyBound) {
  const WakeCase cases[] = {
      {"SIGTERM", [](ConsoleWindowSystem&, MainWindow&) { std::raise(SIGTERM); }, kClosed},
      {"SIGINT", [](ConsoleWindowSystem&, MainWindow&) { std::raise(SIGINT); }, kClosed},
      {"posted task",
       [](ConsoleWindowSystem& windows, MainWindow& main) {
         windows.Post([&main] { main.End(kTaskRan); });
       },
       kTaskRan},
  };
  PosixClock clock;
  for (const WakeCase& c : cases) {
    ConsoleWindowSystem::InstallCloseSignals();
    ConsoleWindowSystem windows(clock, stdout, stderr, kIdleWaitMaxMs);
    std::atomic<bool> ready{false};
    MainWindow main(windows, ready);
    bool handled_in_time = false;
    std::thread other([&] {
      // The main thread may be inside its wait already, or about to enter it.
      Eventually(ready, kHandledBoundMs);
      c.act(windows, main);
      handled_in_time = Eventually(main.handled, kHandledBoundMs);
    });
    EXPECT_EQ(windows.RunModal({102, "KORVALCOM"}, main), c.result) << c.name;
    other.join();
    EXPECT_TRUE(handled_in_time) << c.name;
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

}  // namespace
}  // namespace korval::platform::posix
