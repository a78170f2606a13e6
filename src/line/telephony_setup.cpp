#include "line/telephony_setup.h"

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
                           process.line.app_handle, device, process.line.api_version, 0,
                           record);
                     });
}

// The first device that speaks version 1.4 and carries data-modem calls; device 0
// when none does.
std::int32_t ChooseDevice(Process& process) {
  for (std::uint32_t device = 0; device < process.line.device_count; ++device) {
    if (process.os.telephony.lineNegotiateAPIVersion(
            process.line.app_handle, device, platform::kApiVersion14, platform::kApiVersion14,
            &process.line.api_version) != 0) {
      continue;
    }
    if (const std::int32_t result = ReadDeviceCaps(process, device); result != 0) {
      return result;
    }
    if (process.line.device_caps->Get32(platform::field::kDevMediaModes) &
        platform::kMediaModeDataModem) {
      process.line.device_id = device;
      break;
    }
  }
  return 0;
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
  const std::int32_t config_result =
      GrowingRead(process.line.saved_device_config, platform::kVarStringSize, -1,
                  [&](Record& record) {
                    return process.os.telephony.lineGetDevConfig(
                        process.line.device_id, record, platform::kDataModemClass);
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
  if (line.line_open) telephony.lineClose(line.line_handle);
  if (line.saved_device_config) {
    const Record& config = *line.saved_device_config;
    telephony.lineSetDevConfig(
        line.device_id,
        config.Bytes(config.Get32(platform::field::kVarStringOffset),
                      config.Get32(platform::field::kVarStringSize)),
        platform::kDataModemClass);
  }
  ClosePort(process);
  CloseRetiredPorts(process);
  if (line.telephony_ready) telephony.lineShutdown(line.app_handle);

  for (auto* record : {&line.port_properties, &line.saved_device_config, &line.device_caps,
                       &line.address_caps, &line.address_status, &line.translate_caps,
                       &line.line_dev_status, &line.comm_config}) {
    record->reset();
  }
  line.line_open = false;
  line.telephony_ready = false;
  process.call.link_active = false;
  process.job.detail1 = job::kNoCode;
  process.job.detail2 = job::kNoCode;
  process.receive.capture_enabled = false;
  CloseCaptureFile(process);
}

bool IsTelephonyReady(const Process& process) { return process.line.telephony_ready; }

}  // namespace korval::line
