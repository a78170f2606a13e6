#include "platform/posix/console_window_system.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>

#include "platform/main_thread.h"
#include "platform/posix/transfer_status_line.h"
#include "platform/text_encoding.h"

namespace korval::platform::posix {
namespace {

// Signals are process-wide by nature; the handler raises this flag, which the idle
// turn of the queue looks at, and the event, which ends its wait. Atomics, not a
// sig_atomic_t: the handler may run on any thread of the process.
std::atomic<bool> close_requested{false};
std::atomic<const WakeEvent*> close_signalled{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free, "used by a signal handler");
static_assert(std::atomic<const WakeEvent*>::is_always_lock_free, "used by a signal handler");

void OnCloseSignal(int) {
  close_requested = true;
  if (const WakeEvent* event = close_signalled.load()) event->Raise();
}

// Without its event (no descriptor left) the console falls back to polling the flag.
constexpr std::uint32_t kFlagPollMs = 50;

}  // namespace

void ConsoleWindowSystem::InstallCloseSignals() {
  // Made before the handlers and never destroyed: a handler may run at any time.
  static const WakeEvent* const event = new WakeEvent;
  event->Drain();
  close_requested = false;
  close_signalled = event;
  std::signal(SIGINT, OnCloseSignal);
  std::signal(SIGTERM, OnCloseSignal);
  // A closed terminal or session: the job still ends properly, its outcome written.
  std::signal(SIGHUP, OnCloseSignal);
}

int ConsoleWindowSystem::MessageBox(WindowHandle, const std::string& text, const std::string& title,
                                    std::uint32_t style) {
  ExpectMainThread("MessageBox");
  EraseStatusLine();
  std::fprintf(err_, "[%s] %s\n", Cp1252ToUtf8(title).c_str(), Cp1252ToUtf8(text).c_str());
  std::fflush(err_);
  // No batch run may wait for a person.
  return (style & kMbButtonMask) == kMbRetryCancel ? kIdCancel : kIdOk;
}

void ConsoleWindowSystem::WaitIdle(std::optional<std::uint32_t> due_in_ms) {
  if (PostCloseIfRequested()) return;
  const std::uint32_t wait_ms = std::min(due_in_ms.value_or(idle_wait_max_ms_), idle_wait_max_ms_);
  if (wake_.fd() < 0) {
    WaitForPost(std::min(wait_ms, kFlagPollMs));
  } else {
    PollWakeEvents(wait_ms);
  }
  PostCloseIfRequested();
}

void ConsoleWindowSystem::NotifyIdleWait() {
  if (wake_.fd() < 0) {
    QueuedWindowSystem::NotifyIdleWait();
  } else {
    wake_.Raise();
  }
}

void ConsoleWindowSystem::PollWakeEvents(std::uint32_t wait_ms) {
  const WakeEvent* signalled = close_signalled.load();
  pollfd fds[2] = {{wake_.fd(), POLLIN, 0}, {signalled ? signalled->fd() : -1, POLLIN, 0}};
  // EINTR (a signal came) ends the wait as well: the caller's turn looks again.
  ::poll(fds, signalled ? 2 : 1, static_cast<int>(wait_ms));
  if (fds[0].revents & POLLIN) wake_.Drain();
  // Every window system waits on the one event; whoever wakes takes it, and the flag
  // tells the others.
  if (signalled && (fds[1].revents & POLLIN)) signalled->Drain();
  TakeWake();
}

bool ConsoleWindowSystem::PostCloseIfRequested() {
  if (!close_requested || close_posted_) return false;
  close_posted_ = true;
  PostSysCommand(LastWindowOf(102), kScClose);
  return true;
}

void ConsoleWindowSystem::OnListChanged(WindowHandle window, const WindowRecord& record) {
  // Every line but the last is complete: the last may still grow.
  std::size_t& printed = printed_[window];
  printed = std::min(printed, record.list.size());
  while (printed + 1 < record.list.size()) PrintLine(record.list[printed++]);
}

void ConsoleWindowSystem::OnDialogEnded(WindowHandle window, const WindowRecord& record) {
  std::size_t& printed = printed_[window];
  if (printed < record.list.size() && !record.list.back().empty()) {
    PrintLine(record.list.back());
  }
  printed = record.list.size();
}

void ConsoleWindowSystem::PrintLine(const std::string& line) {
  EraseStatusLine();
  out_.Write(Cp1252ToUtf8(line) + "\n");
}

void ConsoleWindowSystem::ShowTransferProgress(const TransferProgress& progress) {
  if (!StatusOnTerminal()) return;
  const std::uint32_t now = clock_.TickCount();
  if (status_width_ > 0 && now - status_drawn_at_ < kStatusPeriodMs) return;
  const std::string text = FormatTransferStatus(progress);
  // Blanks cover what a longer line before left behind.
  const std::string blanks(status_width_ > text.size() ? status_width_ - text.size() : 0, ' ');
  std::fprintf(err_, "\r%s%s", Cp1252ToUtf8(text).c_str(), blanks.c_str());
  std::fflush(err_);
  status_width_ = std::max<std::size_t>(text.size(), 1);
  status_drawn_at_ = now;
}

void ConsoleWindowSystem::EndTransferProgress() { EraseStatusLine(); }

bool ConsoleWindowSystem::StatusOnTerminal() {
  if (!err_is_terminal_) err_is_terminal_ = ::isatty(::fileno(err_)) == 1;
  return *err_is_terminal_;
}

void ConsoleWindowSystem::EraseStatusLine() {
  if (status_width_ == 0) return;
  std::fprintf(err_, "\r%s\r", std::string(status_width_, ' ').c_str());
  std::fflush(err_);
  status_width_ = 0;
}

}  // namespace korval::platform::posix
