#include "platform/queued_window_system.h"

#include <algorithm>
#include <chrono>

#include "platform/main_thread.h"

namespace korval::platform {

int QueuedWindowSystem::RunModal(const DialogResource& dialog, DialogEvents& events) {
  ExpectMainThread("RunModal");
  const WindowHandle window = next_window_++;
  WindowRecord& record = windows_[window];
  record.dialog_id = dialog.id;
  record.caption = dialog.caption;
  record.events = &events;
  if (!events.OnCreate(window)) {
    record.events = nullptr;
    return -1;
  }
  events.OnInitDialog();
  while (!Find(window)->ended) {
    if (AbandonModal()) {
      EndDialog(window, -1);
      break;
    }
    PumpMessage();
  }
  WindowRecord& ended = *Find(window);
  ended.events = nullptr;
  std::erase_if(timers_, [window](const Timer& t) { return t.window == window; });
  OnDialogEnded(window, ended);
  return ended.result;
}

void QueuedWindowSystem::EndDialog(WindowHandle window, int result) {
  if (WindowRecord* record = Find(window); record != nullptr && !record->ended) {
    record->ended = true;
    record->result = result;
  }
}

std::string QueuedWindowSystem::Caption(WindowHandle window) {
  WindowRecord* record = Find(window);
  return record ? record->caption : std::string();
}

void QueuedWindowSystem::SetCaption(WindowHandle window, const std::string& caption) {
  if (WindowRecord* record = Find(window)) record->caption = caption;
}

void QueuedWindowSystem::AppendSystemMenuSeparator(WindowHandle window) {
  if (WindowRecord* record = Find(window)) record->system_menu.push_back("-");
}

void QueuedWindowSystem::AppendSystemMenuItem(WindowHandle window, std::uint32_t id,
                                              const std::string& text) {
  if (WindowRecord* record = Find(window)) {
    record->system_menu.push_back(std::to_string(id) + ":" + text);
  }
}

void QueuedWindowSystem::SetWindowIcons(WindowHandle window) {
  if (WindowRecord* record = Find(window)) record->icons_set = true;
}

void QueuedWindowSystem::ListReset(WindowHandle window) {
  if (WindowRecord* record = Find(window)) {
    record->list.clear();
    OnListChanged(window, *record);
  }
}

std::size_t QueuedWindowSystem::ListCount(WindowHandle window) {
  WindowRecord* record = Find(window);
  return record ? record->list.size() : 0;
}

std::string QueuedWindowSystem::ListText(WindowHandle window, std::size_t index) {
  WindowRecord* record = Find(window);
  if (record == nullptr || index >= record->list.size()) return {};
  return record->list[index];
}

void QueuedWindowSystem::ListDelete(WindowHandle window, std::size_t index) {
  WindowRecord* record = Find(window);
  if (record == nullptr || index >= record->list.size()) return;
  record->list.erase(record->list.begin() + static_cast<std::ptrdiff_t>(index));
  OnListChanged(window, *record);
}

void QueuedWindowSystem::ListAdd(WindowHandle window, const std::string& text) {
  ExpectMainThread("ListAdd");
  if (WindowRecord* record = Find(window)) {
    record->list.push_back(text);
    OnListChanged(window, *record);
  }
}

bool QueuedWindowSystem::SetTimer(WindowHandle window, std::uint32_t id, std::uint32_t period_ms) {
  if (Find(window) == nullptr) return false;
  KillTimer(window, id);
  timers_.push_back({window, id, period_ms, clock_.TickCount()});
  return true;
}

void QueuedWindowSystem::KillTimer(WindowHandle window, std::uint32_t id) {
  std::erase_if(timers_, [&](const Timer& t) { return t.window == window && t.id == id; });
}

void QueuedWindowSystem::PumpMessage() {
  ExpectMainThread("PumpMessage");
  if (RunPostedTask()) return;
  if (RunDueTimer()) return;
  WaitIdle(NextTimerDueIn());
}

void QueuedWindowSystem::PumpMessageWithin(std::uint32_t wait_bound_ms) {
  ExpectMainThread("PumpMessageWithin");
  if (RunPostedTask()) return;
  if (RunDueTimer()) return;
  const std::optional<std::uint32_t> timer_due = NextTimerDueIn();
  WaitIdle(std::min(timer_due.value_or(wait_bound_ms), wait_bound_ms));
}

void QueuedWindowSystem::Post(std::function<void()> task) {
  {
    std::lock_guard lock(post_mutex_);
    posted_.push_back(std::move(task));
  }
  NotifyIdleWait();
}

void QueuedWindowSystem::Wake() {
  {
    std::lock_guard lock(post_mutex_);
    if (woken_) return;  // one wake-up is enough until it has been seen
    woken_ = true;
  }
  NotifyIdleWait();
}

void QueuedWindowSystem::PostSysCommand(WindowHandle window, std::uint32_t id) {
  Post([this, window, id] {
    if (WindowRecord* record = Find(window); record && record->events && !record->ended) {
      record->events->OnSysCommand(id);
    }
  });
}

void QueuedWindowSystem::PostDialogKey(WindowHandle window, DialogKey key) {
  Post([this, window, key] {
    if (WindowRecord* record = Find(window); record && record->events && !record->ended) {
      record->events->OnDialogKey(key);
    }
  });
}

const WindowRecord* QueuedWindowSystem::Window(WindowHandle window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

WindowHandle QueuedWindowSystem::LastWindowOf(int dialog_id) const {
  WindowHandle last = kNoWindow;
  for (const auto& [handle, record] : windows_) {
    if (record.dialog_id == dialog_id) last = handle;
  }
  return last;
}

void QueuedWindowSystem::WaitForPost(std::uint32_t wait_ms) {
  std::unique_lock lock(post_mutex_);
  post_cv_.wait_for(lock, std::chrono::milliseconds(wait_ms),
                    [this] { return woken_ || !posted_.empty(); });
  woken_ = false;
}

void QueuedWindowSystem::TakeWake() {
  std::lock_guard lock(post_mutex_);
  woken_ = false;
}

bool QueuedWindowSystem::RunPostedTask() {
  std::function<void()> task;
  {
    std::lock_guard lock(post_mutex_);
    if (posted_.empty()) return false;
    task = std::move(posted_.front());
    posted_.pop_front();
  }
  task();
  return true;
}

bool QueuedWindowSystem::RunDueTimer() {
  const std::uint32_t now = clock_.TickCount();
  for (Timer& timer : timers_) {
    if (now - timer.last_tick < timer.period_ms) continue;
    timer.last_tick = now;
    const WindowHandle window = timer.window;
    const std::uint32_t id = timer.id;  // the handler may kill the timer
    if (WindowRecord* record = Find(window); record && record->events && !record->ended) {
      record->events->OnTimer(id);
    }
    return true;
  }
  return false;
}

std::optional<std::uint32_t> QueuedWindowSystem::NextTimerDueIn() {
  const std::uint32_t now = clock_.TickCount();
  std::optional<std::uint32_t> next;
  for (const Timer& timer : timers_) {
    const std::uint32_t elapsed = now - timer.last_tick;
    const std::uint32_t due = elapsed >= timer.period_ms ? 0 : timer.period_ms - elapsed;
    next = next ? std::min(*next, due) : due;
  }
  return next;
}

WindowRecord* QueuedWindowSystem::Find(WindowHandle window) {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

}  // namespace korval::platform
