#pragma once
// Every platform service of the native Windows program, made once in WinMain.

#include "platform/platform.h"
#include "platform/std_threads.h"
#include "platform/types.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_diagnostics.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_profile_store.h"
#include "platform/win32/win32_serial.h"
#include "platform/win32/win32_telephony.h"
#include "platform/win32/win32_window_system.h"

namespace korval::platform::win32 {

struct Win32Platform {
  explicit Win32Platform(InstanceHandle instance) : windows(clock, instance) {}
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  Win32Clock clock;
  Win32WindowSystem windows;
  Win32ProfileStore profiles;
  Win32FileSystem files;
  StdThreads threads;
  Win32Diagnostics diagnostics;
  Win32Version version;
  // The port's handles come from the line, so the ports outlive it.
  Win32SerialPorts serial;
  Win32Telephony telephony;
  Platform platform{clock,       windows, profiles,  files, threads,
                    diagnostics, version, telephony, serial};
};

}  // namespace korval::platform::win32
