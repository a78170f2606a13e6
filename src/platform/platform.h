#pragma once
// Every platform service the system's own code may use, reached through one object.

#include "platform/clock.h"
#include "platform/diagnostics.h"
#include "platform/file_system.h"
#include "platform/profile_store.h"
#include "platform/serial_port.h"
#include "platform/telephony.h"
#include "platform/threads.h"
#include "platform/window_system.h"

namespace korval::platform {

struct Platform {
  Clock& clock;
  WindowSystem& windows;
  ProfileStore& profiles;
  FileSystem& files;
  Threads& threads;
  Diagnostics& diagnostics;
  VersionQuery& version;
  Telephony& telephony;
  SerialPorts& serial;
};

}  // namespace korval::platform
