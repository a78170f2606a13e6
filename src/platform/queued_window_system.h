#pragma once
// A window system kept in memory, with the main thread's queue of posted tasks and
// timers. The console front-end and the simulated platform differ only in how an
// idle turn waits (real time or virtual time) and in what they show.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/window_system.h"

namespace korval::platform {

struct WindowRecord {
  int dialog_id = 0;
  std::string caption;
  std::vector<std::string> system_menu;  // "-" for a separator, else "<id>:<text>"
  bool icons_set = false;
  std::vector<std::string> list;
  DialogEvents* events = nullptr;
  bool ended = false;
  int result = 0;
};

class QueuedWindowSystem : public WindowSystem {
 public:
  explicit QueuedWindowSystem(Clock& clock) : clock_(clock) {}

  int RunModal(const DialogResource& dialog, DialogEvents& events) override;
  void EndDialog(WindowHandle window, int result) override;
  std::string Caption(WindowHandle window) override;
  void SetCaption(WindowHandle window, const std::string& caption) override;
  void AppendSystemMenuSeparator(WindowHandle window) override;
  void AppendSystemMenuItem(WindowHandle window, std::uint32_t id,
                            const std::string& text) override;
  void SetWindowIcons(WindowHandle window) override;
  void ListReset(WindowHandle window) override;
  std::size_t ListCount(WindowHandle window) override;
  std::string ListText(WindowHandle window, std::size_t index) override;
  void ListDelete(WindowHandle window, std::size_t index) override;
  void ListAdd(WindowHandle window, const std::string& text) override;
  bool SetTimer(WindowHandle window, std::uint32_t id, std::uint32_t period_ms) override;
  void KillTimer(WindowHandle window, std::uint32_t id) override;
  void PumpMessage() override;
  void PumpMessageWithin(std::uint32_t wait_bound_ms) override;
  void Post(std::function<void()> task) override;
  void Wake() override;

  // Window messages from the user, delivered through the queue like real ones.
  void PostSysCommand(WindowHandle window, std::uint32_t id);
  void PostDialogKey(WindowHandle window, DialogKey key);

  // Main thread only. The record outlives its window, so tests can look afterwards.
  const WindowRecord* Window(WindowHandle window) const;
  WindowHandle LastWindowOf(int dialog_id) const;

 protected:
  // Blocks until a task may have been posted or until due_in_ms has passed, and for
  // a bounded time when nothing is due.
  virtual void WaitIdle(std::optional<std::uint32_t> due_in_ms) = 0;
  // True when a modal loop must give up (the simulated platform's guard against a
  // test that would never end).
  virtual bool AbandonModal() { return false; }
  virtual void OnListChanged(WindowHandle, const WindowRecord&) {}
  virtual void OnDialogEnded(WindowHandle, const WindowRecord&) {}

  // Waits on the posted-task condition for at most wait_ms of real time.
  void WaitForPost(std::uint32_t wait_ms);
  // Any thread, after a Post or a Wake: ends the idle wait. The default wakes
  // WaitForPost; a front-end that waits elsewhere overrides it.
  virtual void NotifyIdleWait() { post_cv_.notify_one(); }
  // After an idle wait that did not use WaitForPost: a later Wake is heard again.
  void TakeWake();
  Clock& clock_;

 private:
  struct Timer {
    WindowHandle window;
    std::uint32_t id;
    std::uint32_t period_ms;
    std::uint32_t last_tick;
  };
  bool RunPostedTask();
  bool RunDueTimer();
  std::optional<std::uint32_t> NextTimerDueIn();
  WindowRecord* Find(WindowHandle window);

  std::map<WindowHandle, WindowRecord> windows_;
  WindowHandle next_window_ = 0x100;
  std::vector<Timer> timers_;

  std::mutex post_mutex_;
  std::condition_variable post_cv_;
  std::deque<std::function<void()>> posted_;  // guarded by post_mutex_
  bool woken_ = false;                        // guarded by post_mutex_
};

}  // namespace korval::platform
