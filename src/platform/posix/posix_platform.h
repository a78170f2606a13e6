#pragma once
#include <cstdio>

#include "platform/platform.h"
#include "platform/posix/console_window_system.h"
#include "platform/posix/modem_port.h"
#include "platform/posix/modem_telephony.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_diagnostics.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_profile_store.h"
#include "platform/std_threads.h"

namespace korval::platform::posix {

struct PosixPlatform {
  PosixClock clock;
  ConsoleWindowSystem windows{clock, stdout, stderr};
  PosixProfileStore profiles;
  PosixFileSystem files;
  StdThreads threads;
  PosixDiagnostics diagnostics;
  PosixVersion version;
  // The modems of win.ini's MODEMn sections; the ports are reached through the handles
  // that the line hands out, so they come first.
  ModemPorts serial;
  ModemTelephony telephony{profiles, windows, diagnostics, serial};
  Platform platform{clock,       windows, profiles,  files, threads,
                    diagnostics, version, telephony, serial};
};

}  // namespace korval::platform::posix
