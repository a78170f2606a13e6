#include "line/telephony_setup.h"

#include <string>

#include "line/call_control.h"
#include "line/growing_read.h"
#include "line/line_error_names.h"
#include "line/port_handle.h"
#include "link/receive_busy.h"
#include "link/time_limits.h"
#include "process/process.h"

namespace korval::line {
namespace {

using platform::Record;

constexpr const char* kReinitText =
    "Syst\xE8me de t\xE9l\xE9phonie en r\xE9initialisation \t\t\t\t\t   - Cliquer Annuler pour "
    "abandonner";
constexpr std::uint32_t kReinitPauseMs = 5;

// lineInitialize, asking the user again and again while the telephony system
// re-initialises.
std::int32_t InitializeWithRetry(Process& process, platform::InstanceHandle instance) {
  platform::Telephony& telephony = process.os.telephony;
  for (;;) {
    const std::int32_t result = telephony.lineInitialize(
        &process.line.app_handle, instance,
        [&process](std::uint32_t device, std::uint32_t message, std::uintptr_t instance,
                   std::uintptr_t p1, std::uintptr_t p2, std::uintptr_t p3) {
          LineCallback(process, device, message, instance, p1, p2, p3);
        },
        "TAPIProcess", &process.line.device_count);
    if (result != static_cast<std::int32_t>(kLineErrReinit)) return result;
    const std::uint32_t start = process.os.clock.TickCount();
    while (process.os.clock.TickCount() - start < kReinitPauseMs) {
      process.os.windows.PumpMessageWithin(
          link::WaitLeftMs(start, kReinitPauseMs - 1, process.os.clock.TickCount()));
    }
    const int answer = process.os.windows.MessageBox(platform::kNoWindow, kReinitText, "Erreur",
                                                     platform::kMbRetryCancel);
    if (answer == platform::kIdCancel) return result;
  }
}

std::int32_t ReadDeviceCaps(Process& process, std::uint32_t device) {
  return GrowingRead(process.line.device_caps, platform::kDevCapsSize,
                     static_cast<std::int32_t>(kLineErrNoMem), [&](Record& record) {
                       return process.os.telephony.lineGetDevCaps(
                           process.line.app_handle, device, process.line.api_version, 0, record);
                     });
}

bool IsTakenLine(std::int32_t result) {
  return result == static_cast<std::int32_t>(kLineErrAllocated) ||
         result == static_cast<std::int32_t>(kLineErrResourceUnavail);
}

// Opens the device's line and keeps it, so that no other job takes the modem.
std::int32_t HoldLine(Process& process, std::uint32_t device) {
  LineState& line = process.line;
  const std::int32_t opened = process.os.telephony.lineOpen(
      line.app_handle, device, &line.line_handle, line.api_version, 0, 0,
      platform::kCallPrivilegeOwner | platform::kCallPrivilegeMonitor,
      platform::kMediaModeDataModem);
  line.line_held = opened == 0;
  return opened;
}

void WarnNoFreeModem(Process& process, std::uint32_t modems) {
  process.os.diagnostics.Warn(
      modems == 1 ? std::string("Aucun modem libre : l'\351change n'est pas lanc\xE9.")
                  : "Aucun modem libre : les " + std::to_string(modems) +
                        " modems sont pris par d'autres programmes, l'\351change n'est pas "
                        "lanc\xE9.");
}

// The first device that speaks version 1.4, carries data-modem calls and is free: one
// whose line is refused as allocated or unavailable belongs to another job, and the
// next is tried, so that jobs started together spread over the modems. A line that
// fails to open otherwise is chosen all the same: dialling reports the failure.
// Device 0 when no device carries data-modem calls.
std::int32_t ChooseDevice(Process& process) {
  std::uint32_t modems = 0;
  for (std::uint32_t device = 0; device < process.line.device_count; ++device) {
    if (process.os.telephony.lineNegotiateAPIVersion(
            process.line.app_handle, device, platform::kApiVersion14, platform::kApiVersion14,
            &process.line.api_version) != 0) {
      continue;
    }
    if (const std::int32_t result = ReadDeviceCaps(process, device); result != 0) {
      return result;
    }
    if ((process.line.device_caps->Get32(platform::field::kDevMediaModes) &
         platform::kMediaModeDataModem) == 0) {
      continue;
    }
    ++modems;
    if (!IsTakenLine(HoldLine(process, device))) {
      process.line.device_id = device;
      return 0;
    }
  }
  if (modems == 0) return 0;
  WarnNoFreeModem(process, modems);
  return static_cast<std::int32_t>(kLineErrResourceUnavail);
}

void ResetSharedState(Process& process) {
  process.log.SetLogWindow(nullptr);
  {
    link::ReceiveBusySection section(process);
    process.receive.capture_file.reset();
    process.receive.buffer.clear();
  }
  process.receive.capture_enabled = false;
  process.receive.ebcdic = false;
  process.call.call_state = 0;
  process.job.detail1 = job::kNoCode;
  process.job.detail2 = job::kNoCode;
}

void CloseCaptureFile(Process& process) {
  link::ReceiveBusySection section(process);
  process.receive.capture_file.reset();
}

}  // namespace

int StartTelephony(Process& process, platform::WindowHandle, platform::InstanceHandle instance) {
  if (const std::int32_t result = InitializeWithRetry(process, instance); result != 0) {
    ShutdownTelephony(process);
    return result;
  }
  process.line.telephony_ready = true;
  if (const std::int32_t result = ChooseDevice(process); result != 0) {
    ShutdownTelephony(process);
    return result;
  }
  const std::int32_t config_result = GrowingRead(
      process.line.saved_device_config, platform::kVarStringSize, -1, [&](Record& record) {
        return process.os.telephony.lineGetDevConfig(process.line.device_id, record,
                                                     platform::kDataModemClass);
      });
  if (config_result != 0) {
    ShutdownTelephony(process);
    return config_result;
  }
  ResetSharedState(process);
  return 0;
}

void ShutdownTelephony(Process& process) {
  LineState& line = process.line;
  platform::Telephony& telephony = process.os.telephony;
  // The read thread goes first: it may still write to the capture file and use
  // the port until it has ended.
  if (process.call.read_thread || process.call.link_active) StopReadThread(process);
  if (process.receive.capture_enabled) CloseCaptureFile(process);
  if (line.line_open || line.line_held) telephony.lineClose(line.line_handle);
  if (line.saved_device_config) {
    const Record& config = *line.saved_device_config;
    telephony.lineSetDevConfig(line.device_id,
                               config.Bytes(config.Get32(platform::field::kVarStringOffset),
                                            config.Get32(platform::field::kVarStringSize)),
                               platform::kDataModemClass);
  }
  ClosePort(process);
  CloseRetiredPorts(process);
  if (line.telephony_ready) telephony.lineShutdown(line.app_handle);

  for (auto* record :
       {&line.port_properties, &line.saved_device_config, &line.device_caps, &line.address_caps,
        &line.address_status, &line.translate_caps, &line.line_dev_status, &line.comm_config}) {
    record->reset();
  }
  line.line_open = false;
  line.line_held = false;
  line.telephony_ready = false;
  process.call.link_active = false;
  process.job.detail1 = job::kNoCode;
  process.job.detail2 = job::kNoCode;
  process.receive.capture_enabled = false;
  CloseCaptureFile(process);
}

bool IsTelephonyReady(const Process& process) { return process.line.telephony_ready; }

}  // namespace korval::line
