#include "platform/posix/console_window_system.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "platform/posix/transfer_status_line.h"
#include "platform/text_encoding.h"

namespace korval::platform::posix {
namespace {

// Signals are process-wide by nature; the handler only raises this flag, which the
// idle turn of the queue looks at.
volatile std::sig_atomic_t close_requested = 0;

void OnCloseSignal(int) { close_requested = 1; }

// An idle turn waits at most this long when nothing is due: the bound on how late a
// close request (a signal) is seen. Waits with a deadline pass it in.
constexpr std::uint32_t kIdleWaitMaxMs = 50;

}  // namespace

void ConsoleWindowSystem::InstallCloseSignals() {
  std::signal(SIGINT, OnCloseSignal);
  std::signal(SIGTERM, OnCloseSignal);
}

int ConsoleWindowSystem::MessageBox(WindowHandle, const std::string& text,
                                    const std::string& title, std::uint32_t style) {
  EraseStatusLine();
  std::fprintf(err_, "[%s] %s\n", Cp1252ToUtf8(title).c_str(), Cp1252ToUtf8(text).c_str());
  std::fflush(err_);
  // No batch run may wait for a person.
  return (style & kMbButtonMask) == kMbRetryCancel ? kIdCancel : kIdOk;
}

void ConsoleWindowSystem::WaitIdle(std::optional<std::uint32_t> due_in_ms) {
  if (close_requested && !close_posted_) {
    close_posted_ = true;
    PostSysCommand(LastWindowOf(102), kScClose);
    return;
  }
  WaitForPost(std::min(due_in_ms.value_or(kIdleWaitMaxMs), kIdleWaitMaxMs));
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
  std::fprintf(out_, "%s\n", Cp1252ToUtf8(line).c_str());
  std::fflush(out_);
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
