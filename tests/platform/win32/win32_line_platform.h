#pragma once
// A process on the real Windows telephony and serial back-ends, with a window system
// that records its message boxes instead of showing them.

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/queued_window_system.h"
#include "platform/std_threads.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_diagnostics.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_profile_store.h"
#include "platform/win32/win32_serial.h"
#include "platform/win32/win32_telephony.h"
#include "process/process.h"

#undef MessageBox

namespace korval::platform::win32::testing {

struct RecordedBox {
  std::string text;
  std::string title;
  std::uint32_t style;
};

class RecordingWindows final : public QueuedWindowSystem {
 public:
  explicit RecordingWindows(Clock& clock) : QueuedWindowSystem(clock) {}
  int MessageBox(WindowHandle, const std::string& text, const std::string& title,
                 std::uint32_t style) override {
    std::lock_guard lock(mutex_);
    boxes_.push_back({text, title, style});
    return (style & kMbButtonMask) == kMbRetryCancel ? kIdCancel : kIdOk;
  }
  std::vector<RecordedBox> Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }

 protected:
  void WaitIdle(std::optional<std::uint32_t> due_in_ms) override {
    WaitForPost(std::min<std::uint32_t>(due_in_ms.value_or(kIdleMs), kIdleMs));
  }

 private:
  static constexpr std::uint32_t kIdleMs = 20;
  mutable std::mutex mutex_;
  std::vector<RecordedBox> boxes_;
};

// The telephony and serial objects are given, so a test may stand in for a part.
struct LinePlatform {
  LinePlatform(Telephony& telephony_in, SerialPorts& serial_in)
      : telephony(telephony_in), serial(serial_in) {}

  Telephony& telephony;
  SerialPorts& serial;
  Win32Clock clock;
  RecordingWindows windows{clock};
  Win32ProfileStore profiles;
  Win32FileSystem files;
  StdThreads threads;
  Win32Diagnostics diagnostics;
  Win32Version version;
  Platform platform{clock,       windows, profiles,  files, threads,
                    diagnostics, version, telephony, serial};
  Process process{platform, "korvalcom"};
};

}  // namespace korval::platform::win32::testing
