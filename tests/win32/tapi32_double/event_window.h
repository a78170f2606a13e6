#pragma once
// Line events as the telephony API delivers them: to the application's callback, on
// the thread that called lineInitialize, from that thread's message dispatching. A
// hidden message-only window of that thread receives them; any thread may post.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace korval::tapi_double {

using LineCallbackFn = void(CALLBACK*)(DWORD device, DWORD message, DWORD_PTR instance,
                                       DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3);

// What an event needs to know of the line that it concerns: a line closed since the
// event was posted hears no more.
struct LineToken {
  DWORD_PTR instance = 0;
  std::atomic<bool> open{true};
};

struct LineEvent {
  std::shared_ptr<LineToken> token;
  DWORD device = 0;
  DWORD message = 0;
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
  DWORD_PTR param3 = 0;
  // Written with handle just before the callback hears of the event: lineMakeCall's
  // handle as a provider may give it, when the request completes.
  DWORD* handle_place = nullptr;
  DWORD handle = 0;
};

class EventWindow {
 public:
  // Made on the calling thread; nothing when the window cannot be made.
  static std::shared_ptr<EventWindow> Create(HINSTANCE instance, LineCallbackFn callback);
  ~EventWindow();
  EventWindow(const EventWindow&) = delete;
  EventWindow& operator=(const EventWindow&) = delete;

  // From any thread; false once the window is gone.
  bool Post(LineEvent event);
  // On the owning thread: the window and the events still queued go. From another
  // thread the window can only be told to go, and the events are dropped.
  void Close();

 private:
  explicit EventWindow(LineCallbackFn callback) : callback_(callback) {}
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  const LineCallbackFn callback_;
  DWORD owner_thread_ = 0;             // written once, before any post
  std::atomic<HWND> window_{nullptr};  // cleared by Close
};

}  // namespace korval::tapi_double
