#pragma once
// A caller that redirects the program's standard output (a batch file, the
// calling application, a test) gets the job's log there too: each line once it
// is complete, in the program's code page, ended by CR LF. Without a
// redirection nothing is written.

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>

#include "platform/types.h"

namespace korval::platform::win32 {

class LogEcho {
 public:
  LogEcho();

  // After the list of window changed; text(i) is its line i.
  template <typename TextOf>
  void ListChanged(WindowHandle window, std::size_t count, TextOf text) {
    std::size_t& echoed = echoed_[window];
    if (echoed > count) echoed = count;
    // The last line may still grow.
    while (echoed + 1 < count) Write(text(echoed++));
  }

  // The window is closing: its last line is as complete as it will be.
  template <typename TextOf>
  void WindowEnded(WindowHandle window, std::size_t count, TextOf text) {
    std::size_t& echoed = echoed_[window];
    if (echoed < count) {
      const std::string last = text(count - 1);
      if (!last.empty()) Write(last);
    }
    echoed_.erase(window);
  }

 private:
  void Write(const std::string& line);

  HANDLE out_ = nullptr;  // nullptr: standard output goes nowhere
  std::map<WindowHandle, std::size_t> echoed_;
};

}  // namespace korval::platform::win32
