#pragma once
// The native window system: the program's dialogs from its resources, their list
// box, message boxes, timers and the main thread's message queue. Texts are in the
// ANSI code page and go to the A functions unconverted.

#include <windows.h>
// The interface's own name, not the A/W macro: whoever includes this header calls
// MessageBoxA by its name.
#undef MessageBox

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/win32/win32_log_echo.h"
#include "platform/window_system.h"

namespace korval::platform::win32 {

class Win32WindowSystem final : public WindowSystem {
 public:
  // On the main thread: the hidden window of posted tasks belongs to it. Timers and
  // waits run on the system's own tick count, so the clock is not needed here.
  Win32WindowSystem(Clock& clock, InstanceHandle instance);
  ~Win32WindowSystem() override;
  Win32WindowSystem(const Win32WindowSystem&) = delete;
  Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

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
  int MessageBox(WindowHandle owner, const std::string& text, const std::string& title,
                 std::uint32_t style) override;
  bool SetTimer(WindowHandle window, std::uint32_t id, std::uint32_t period_ms) override;
  void KillTimer(WindowHandle window, std::uint32_t id) override;
  void PumpMessage() override;
  void PumpMessageWithin(std::uint32_t wait_bound_ms) override;
  void Post(std::function<void()> task) override;
  void Wake() override;

  // Runs the oldest posted task, if any; false when none waits. Main thread only.
  bool RunPostedTask();
  // The program's icon, for WM_QUERYDRAGICON.
  HICON Icon() const { return big_icon_; }

 private:
  void PumpTurn(std::uint32_t wait_bound_ms);
  static void WidenListFor(HWND list, const std::string& text);
  void EchoList(WindowHandle window);

  HINSTANCE instance_;
  HICON big_icon_ = nullptr;     // shared: the system frees it
  HICON small_icon_ = nullptr;   // ours
  HANDLE wake_event_ = nullptr;  // auto-reset: Wake ends one idle block
  HWND task_window_ = nullptr;   // message-only: modal loops dispatch to it too

  LogEcho echo_;

  std::mutex post_mutex_;
  std::deque<std::function<void()>> posted_;  // guarded by post_mutex_
};

}  // namespace korval::platform::win32
