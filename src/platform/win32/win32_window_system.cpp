#include "platform/win32/win32_window_system.h"

#include <utility>
#include <vector>

#include "platform/main_thread.h"
#include "platform/win32/win32_resource_ids.h"

namespace korval::platform::win32 {
namespace {

constexpr const char* kTaskWindowClass = "KorvalTasks";
constexpr UINT kRunTaskMessage = WM_APP + 1;
// How long an idle turn of PumpMessage waits when nothing arrives: the bound on
// how late a wait that has no deadline of its own looks again. Messages, posted
// tasks and the read thread's data end it at once; waits with a deadline pass it in.
constexpr DWORD kIdleWaitMaxMs = 1000;

// The dialog's link back to its handlers, kept in the window's extra bytes after
// those the dialog manager uses.
struct DialogContext {
  DialogEvents* events;
  Win32WindowSystem* system;
  bool shows_log;  // the main window: its list is the job's log, echoed
  bool ended = false;
};
constexpr int kContextOffset = DLGWINDOWEXTRA;

// The dialog being created by RunModal: its WM_CREATE comes before any way to
// pass it a parameter. Main thread only, and dialogs are created one at a time.
DialogContext* creating_dialog = nullptr;

HWND Hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle Handle(HWND window) { return reinterpret_cast<WindowHandle>(window); }
HWND List(WindowHandle window) { return GetDlgItem(Hwnd(window), IDC_KORVAL_LIST); }

DialogContext* ContextOf(HWND window) {
  return reinterpret_cast<DialogContext*>(GetWindowLongPtrA(window, kContextOffset));
}

// Commands of the program's own system-menu items (below the system's range) and
// the close request, compared whole as the program does, are the program's; the
// others keep their default handling.
bool IsProgramCommand(WPARAM command) {
  return (command & 0xFFF0u) < SC_SIZE || command == SC_CLOSE;
}

// Enter and Esc reach a dialog as IDOK and IDCANCEL, and so does its OK button.
INT_PTR OnCommand(DialogEvents& events, WORD id) {
  if (id == IDOK) events.OnDialogKey(DialogKey::kEnter);
  else if (id == IDCANCEL) events.OnDialogKey(DialogKey::kEscape);
  else return FALSE;
  return TRUE;
}

// A list box that cannot be selected only shows text: it takes the dialog's colour.
INT_PTR ListColours(HDC dc, HWND list) {
  if ((GetWindowLongPtrA(list, GWL_STYLE) & LBS_NOSEL) == 0) return FALSE;
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DialogContext* context = ContextOf(window);
  if (message == WM_CTLCOLORLISTBOX) {
    return ListColours(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
  }
  if (context == nullptr) return FALSE;
  if (message == WM_QUERYDRAGICON) return reinterpret_cast<INT_PTR>(context->system->Icon());
  // After EndDialog nothing more reaches the handlers, as on every platform.
  if (context->ended) return message == WM_SYSCOMMAND && IsProgramCommand(wparam);
  DialogEvents& events = *context->events;
  switch (message) {
    case WM_INITDIALOG: events.OnInitDialog(); return TRUE;
    case WM_TIMER: events.OnTimer(static_cast<std::uint32_t>(wparam)); return TRUE;
    case WM_SYSCOMMAND:
      events.OnSysCommand(static_cast<std::uint32_t>(wparam));
      return IsProgramCommand(wparam);
    case WM_COMMAND: return OnCommand(events, LOWORD(wparam));
    // Another program's close (taskkill without /F, a scheduler ending the task) and
    // the end of the session stop a job as the close button does; the default would
    // take WM_CLOSE for Esc, which a running job ignores.
    case WM_CLOSE: events.OnSysCommand(SC_CLOSE); return TRUE;
    case WM_ENDSESSION:
      // Windows may end the process as soon as this returns: the stop writes the
      // job's outcome before it hangs up.
      if (wparam != FALSE) events.OnSysCommand(SC_CLOSE);
      return TRUE;
    case WM_NCDESTROY: SetWindowLongPtrA(window, kContextOffset, 0); return FALSE;
    default: return FALSE;
  }
}

// The class procedure of the program's dialogs: the dialog manager's own, plus the
// creation handler that a dialog procedure never sees.
LRESULT CALLBACK DialogClassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_CREATE) return DefDlgProcA(window, message, wparam, lparam);
  const LRESULT result = DefDlgProcA(window, message, wparam, lparam);
  DialogContext* context = std::exchange(creating_dialog, nullptr);
  if (result == -1 || context == nullptr) return result;
  SetWindowLongPtrA(window, kContextOffset, reinterpret_cast<LONG_PTR>(context));
  if (context->events->OnCreate(Handle(window))) return result;
  SetWindowLongPtrA(window, kContextOffset, 0);
  return -1;
}

LRESULT CALLBACK TaskWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kRunTaskMessage) return DefWindowProcA(window, message, wparam, lparam);
  auto* system = reinterpret_cast<Win32WindowSystem*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (system != nullptr) system->RunPostedTask();
  return 0;
}

void RegisterClasses(HINSTANCE instance, HICON big_icon, HICON small_icon) {
  WNDCLASSEXA dialog{};
  dialog.cbSize = sizeof(dialog);
  dialog.style = CS_DBLCLKS | CS_SAVEBITS;
  dialog.lpfnWndProc = DialogClassProc;
  dialog.cbWndExtra = DLGWINDOWEXTRA + sizeof(DialogContext*);
  dialog.hInstance = instance;
  dialog.hIcon = big_icon;
  dialog.hIconSm = small_icon;
  dialog.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  dialog.lpszClassName = KORVAL_DIALOG_CLASS;
  RegisterClassExA(&dialog);

  WNDCLASSEXA tasks{};
  tasks.cbSize = sizeof(tasks);
  tasks.lpfnWndProc = TaskWindowProc;
  tasks.hInstance = instance;
  tasks.lpszClassName = kTaskWindowClass;
  RegisterClassExA(&tasks);
}

std::string TextOf(HWND window) {
  std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1);
  const int length = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  return std::string(text.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}

}  // namespace

Win32WindowSystem::Win32WindowSystem(Clock&, InstanceHandle instance)
    : instance_(reinterpret_cast<HINSTANCE>(instance)) {
  big_icon_ = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_KORVAL));
  small_icon_ = static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_KORVAL), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), 0));
  RegisterClasses(instance_, big_icon_, small_icon_);
  wake_event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  task_window_ = CreateWindowExA(0, kTaskWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 instance_, nullptr);
  SetWindowLongPtrA(task_window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32WindowSystem::~Win32WindowSystem() {
  if (task_window_ != nullptr) DestroyWindow(task_window_);
  if (wake_event_ != nullptr) CloseHandle(wake_event_);
  UnregisterClassA(kTaskWindowClass, instance_);
  UnregisterClassA(KORVAL_DIALOG_CLASS, instance_);
  if (small_icon_ != nullptr) DestroyIcon(small_icon_);
}

int Win32WindowSystem::RunModal(const DialogResource& dialog, DialogEvents& events) {
  ExpectMainThread("RunModal");
  DialogContext context{&events, this, dialog.id == IDD_KORVAL_MAIN};
  creating_dialog = &context;
  const INT_PTR result =
      DialogBoxParamA(instance_, MAKEINTRESOURCEA(dialog.id), nullptr, DialogProc, 0);
  creating_dialog = nullptr;
  return static_cast<int>(result);
}

void Win32WindowSystem::EndDialog(WindowHandle window, int result) {
  DialogContext* context = ContextOf(Hwnd(window));
  if (context == nullptr || context->ended) return;
  context->ended = true;
  if (context->shows_log) {
    echo_.WindowEnded(window, ListCount(window),
                      [this, window](std::size_t i) { return ListText(window, i); });
  }
  ::EndDialog(Hwnd(window), result);
}

std::string Win32WindowSystem::Caption(WindowHandle window) { return TextOf(Hwnd(window)); }

void Win32WindowSystem::SetCaption(WindowHandle window, const std::string& caption) {
  SetWindowTextA(Hwnd(window), caption.c_str());
}

void Win32WindowSystem::AppendSystemMenuSeparator(WindowHandle window) {
  if (HMENU menu = GetSystemMenu(Hwnd(window), FALSE)) {
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  }
}

void Win32WindowSystem::AppendSystemMenuItem(WindowHandle window, std::uint32_t id,
                                             const std::string& text) {
  if (HMENU menu = GetSystemMenu(Hwnd(window), FALSE)) {
    AppendMenuA(menu, MF_STRING, id, text.c_str());
  }
}

void Win32WindowSystem::SetWindowIcons(WindowHandle window) {
  SendMessageA(Hwnd(window), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_));
  SendMessageA(Hwnd(window), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
}

void Win32WindowSystem::ListReset(WindowHandle window) {
  SendMessageA(List(window), LB_RESETCONTENT, 0, 0);
  SendMessageA(List(window), LB_SETHORIZONTALEXTENT, 0, 0);
  EchoList(window);
}

std::size_t Win32WindowSystem::ListCount(WindowHandle window) {
  const LRESULT count = SendMessageA(List(window), LB_GETCOUNT, 0, 0);
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::string Win32WindowSystem::ListText(WindowHandle window, std::size_t index) {
  HWND list = List(window);
  const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, index, 0);
  if (length == LB_ERR) return {};
  std::vector<char> text(static_cast<std::size_t>(length) + 1);
  const LRESULT got = SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  return got == LB_ERR ? std::string() : std::string(text.data(), static_cast<std::size_t>(got));
}

void Win32WindowSystem::ListDelete(WindowHandle window, std::size_t index) {
  SendMessageA(List(window), LB_DELETESTRING, index, 0);
  EchoList(window);
}

void Win32WindowSystem::ListAdd(WindowHandle window, const std::string& text) {
  HWND list = List(window);
  SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  WidenListFor(list, text);
  EchoList(window);
}

// Only the log goes to a redirected standard output, not the about box's lines.
void Win32WindowSystem::EchoList(WindowHandle window) {
  const DialogContext* context = ContextOf(Hwnd(window));
  if (context == nullptr || !context->shows_log) return;
  echo_.ListChanged(window, ListCount(window),
                    [this, window](std::size_t i) { return ListText(window, i); });
}

// A list box scrolls sideways only as far as it is told: a long line must stay
// readable to its end.
void Win32WindowSystem::WidenListFor(HWND list, const std::string& text) {
  HDC dc = list != nullptr ? GetDC(list) : nullptr;  // GetDC(nullptr) is the screen's
  if (dc == nullptr) return;
  const auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0));
  HGDIOBJ previous = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, previous);
  ReleaseDC(list, dc);
  const LRESULT wanted = size.cx + 2 * GetSystemMetrics(SM_CXEDGE) + 4;
  if (wanted > SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0)) {
    SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(wanted), 0);
  }
}

int Win32WindowSystem::MessageBox(WindowHandle owner, const std::string& text,
                                  const std::string& title, std::uint32_t style) {
  ExpectMainThread("MessageBox");
  return MessageBoxA(Hwnd(owner), text.c_str(), title.c_str(), style);
}

bool Win32WindowSystem::SetTimer(WindowHandle window, std::uint32_t id, std::uint32_t period_ms) {
  return ::SetTimer(Hwnd(window), id, period_ms, nullptr) != 0;
}

void Win32WindowSystem::KillTimer(WindowHandle window, std::uint32_t id) {
  ::KillTimer(Hwnd(window), id);
}

void Win32WindowSystem::PumpMessage() { PumpTurn(kIdleWaitMaxMs); }

void Win32WindowSystem::PumpMessageWithin(std::uint32_t wait_bound_ms) { PumpTurn(wait_bound_ms); }

void Win32WindowSystem::PumpTurn(std::uint32_t wait_bound_ms) {
  ExpectMainThread("PumpMessage");
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return;
  }
  // A task whose message could not be queued still runs.
  if (RunPostedTask() || wait_bound_ms == 0) return;
  MsgWaitForMultipleObjectsEx(1, &wake_event_, wait_bound_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void Win32WindowSystem::Post(std::function<void()> task) {
  {
    std::lock_guard lock(post_mutex_);
    posted_.push_back(std::move(task));
  }
  // The message wakes an idle turn and reaches the system's modal loops too; should
  // the queue be full, the next idle turn runs the task.
  if (!PostMessageA(task_window_, kRunTaskMessage, 0, 0)) {
    SetEvent(wake_event_);
  }
}

void Win32WindowSystem::Wake() { SetEvent(wake_event_); }

bool Win32WindowSystem::RunPostedTask() {
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

}  // namespace korval::platform::win32
