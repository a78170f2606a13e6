#include "event_window.h"

namespace korval::tapi_double {
namespace {

constexpr UINT kLineEventMessage = WM_APP + 0x54;
constexpr char kClassName[] = "KorvalTapiDoubleEvents";

}  // namespace

std::shared_ptr<EventWindow> EventWindow::Create(HINSTANCE instance, LineCallbackFn callback) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = &EventWindow::Procedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = kClassName;
  // A second registration (a second lineInitialize) finds the class there already.
  if (!RegisterClassA(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return nullptr;
  }
  std::shared_ptr<EventWindow> events(new EventWindow(callback));
  HWND window =
      CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  if (window == nullptr) return nullptr;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(events.get()));
  events->owner_thread_ = GetCurrentThreadId();
  events->window_ = window;
  return events;
}

EventWindow::~EventWindow() { Close(); }

bool EventWindow::Post(LineEvent event) {
  HWND window = window_.load();
  if (window == nullptr) return false;
  auto* posted = new LineEvent(std::move(event));
  if (PostMessageA(window, kLineEventMessage, 0, reinterpret_cast<LPARAM>(posted))) return true;
  delete posted;
  return false;
}

void EventWindow::Close() {
  HWND window = window_.exchange(nullptr);
  if (window == nullptr) return;
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  if (GetCurrentThreadId() == owner_thread_) {
    MSG message;
    while (PeekMessageA(&message, window, kLineEventMessage, kLineEventMessage, PM_REMOVE)) {
      delete reinterpret_cast<LineEvent*>(message.lParam);
    }
    DestroyWindow(window);
  } else {
    // The owning thread destroys it when it next dispatches.
    PostMessageA(window, WM_CLOSE, 0, 0);
  }
}

LRESULT CALLBACK EventWindow::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kLineEventMessage) return DefWindowProcA(window, message, wparam, lparam);
  // Taken first: the callback may shut the telephony down and close this window.
  const auto* self = reinterpret_cast<EventWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  const std::unique_ptr<LineEvent> event(reinterpret_cast<LineEvent*>(lparam));
  if (self == nullptr || !event->token->open.load()) return 0;
  const LineCallbackFn callback = self->callback_;
  if (event->handle_place != nullptr) *event->handle_place = event->handle;
  callback(event->device, event->message, event->token->instance, event->param1, event->param2,
           event->param3);
  return 0;
}

}  // namespace korval::tapi_double
