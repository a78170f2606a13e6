#pragma once
// Windows, the progress list box, message boxes, timers and the main thread's
// message queue.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/types.h"

// The Windows headers make MessageBox a macro for their A/W switch; whatever a
// back-end file included first, the method keeps its own name.
#ifdef MessageBox
#undef MessageBox
#endif

namespace korval::platform {

// Message box styles and answers, with the values the Windows API gives them.
inline constexpr std::uint32_t kMbOk = 0x0;
inline constexpr std::uint32_t kMbOkCancel = 0x1;
inline constexpr std::uint32_t kMbRetryCancel = 0x5;
inline constexpr std::uint32_t kMbIconQuestion = 0x20;
inline constexpr std::uint32_t kMbIconExclamation = 0x30;
inline constexpr std::uint32_t kMbIconInformation = 0x40;
inline constexpr std::uint32_t kMbButtonMask = 0xF;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;

inline constexpr std::uint32_t kScClose = 0xF060;

// A dialog template: its resource number and the caption it gives the window.
struct DialogResource {
  int id;
  std::string caption;
};

// How far a long transfer has gone, for a status line apart from the progress log.
struct TransferProgress {
  enum class Direction { kSending, kReceiving };
  Direction direction = Direction::kReceiving;
  std::uint64_t records_done = 0;   // sending only
  std::uint64_t records_total = 0;  // sending only
  std::uint64_t bytes = 0;          // moved so far
  std::uint32_t elapsed_ms = 0;     // since the transfer began
};

enum class DialogKey { kEnter, kEscape };
// What a modal dialog is told. Every call comes on the main thread, from inside
// RunModal or a nested PumpMessage.
class DialogEvents {
 public:
  virtual ~DialogEvents() = default;
  // WM_CREATE, after the default handling accepted it; false refuses the creation.
  virtual bool OnCreate(WindowHandle window) = 0;
  virtual void OnInitDialog() = 0;
  virtual void OnTimer(std::uint32_t id) = 0;
  virtual void OnSysCommand(std::uint32_t id) = 0;
  // Enter or Esc, which the default dialog handling turns into the end of the dialog.
  virtual void OnDialogKey(DialogKey key) = 0;
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Creates the dialog from its template and runs it until EndDialog; the result
  // given to EndDialog, or -1 when the dialog could not be created.
  virtual int RunModal(const DialogResource& dialog, DialogEvents& events) = 0;
  // Asks the dialog to end; it ends once the handler that asked has returned.
  virtual void EndDialog(WindowHandle window, int result) = 0;

  virtual std::string Caption(WindowHandle window) = 0;
  virtual void SetCaption(WindowHandle window, const std::string& caption) = 0;
  virtual void AppendSystemMenuSeparator(WindowHandle window) = 0;
  virtual void AppendSystemMenuItem(WindowHandle window, std::uint32_t id,
                                    const std::string& text) = 0;
  // WM_SETICON big then small, with the program's icon.
  virtual void SetWindowIcons(WindowHandle window) = 0;

  // The dialog's one list box.
  virtual void ListReset(WindowHandle window) = 0;
  virtual std::size_t ListCount(WindowHandle window) = 0;
  virtual std::string ListText(WindowHandle window, std::size_t index) = 0;
  virtual void ListDelete(WindowHandle window, std::size_t index) = 0;
  virtual void ListAdd(WindowHandle window, const std::string& text) = 0;

  // Modal; owner may be kNoWindow. Returns the button's identifier.
  virtual int MessageBox(WindowHandle owner, const std::string& text, const std::string& title,
                         std::uint32_t style) = 0;

  virtual bool SetTimer(WindowHandle window, std::uint32_t id, std::uint32_t period_ms) = 0;
  virtual void KillTimer(WindowHandle window, std::uint32_t id) = 0;

  // One turn of the main thread's queue: dispatches at most one waiting message.
  // When nothing waits it blocks for a bounded time, until a message, a timer,
  // a posted task or a Wake arrives, so that polling loops never spin.
  virtual void PumpMessage() = 0;
  // The same, with the idle block ending after wait_bound_ms at the latest, so that a
  // wait with a deadline of its own ends on time. 0: dispatch, never block.
  virtual void PumpMessageWithin(std::uint32_t wait_bound_ms) = 0;
  // Any thread: runs task on the main thread, inside a later PumpMessage.
  virtual void Post(std::function<void()> task) = 0;
  // Any thread: ends the current or next idle block of PumpMessage early.
  virtual void Wake() = 0;

  // Main thread, as often as the figures change: a front-end that can show a status
  // line in place (a terminal) does, as often as it sees fit. Nothing by default.
  virtual void ShowTransferProgress(const TransferProgress&) {}
  // The transfer has ended, whichever way: the status line goes.
  virtual void EndTransferProgress() {}
};

}  // namespace korval::platform
