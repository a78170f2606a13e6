#include "line/call_control.h"
#include "line/error_boxes.h"
#include "line/growing_read.h"
#include "line/line_error_names.h"
#include "line/port_handle.h"
#include "link/read_thread.h"
#include "platform/main_thread.h"
#include "process/process.h"

namespace korval::line {
namespace {

namespace tapi = platform;

constexpr const char* kUnreachableText =
    "La ligne de votre correspondant ne peut pas \xEAtre jointe !";

bool IsFailedReachMode(std::uintptr_t mode) {
  return mode == tapi::kDisconnectBusy || mode == tapi::kDisconnectNoAnswer ||
         mode == tapi::kDisconnectBadAddress || mode == tapi::kDisconnectIncompatible;
}

void StartReadThread(Process& process) {
  CallData& call = process.call;
  // A second connected report must not leave two threads reading one port.
  if (call.read_thread && call.read_thread->IsRunning()) return;
  call.read_thread.reset();
  call.link_active = true;
  call.stop_read_thread = &StopReadThread;
  call.read_thread = process.os.threads.Start([&process] {
    return link::ReadThread(process, {&GetPortHandle, &OnPortLost});
  });
  if (!call.read_thread) {
    process.os.windows.MessageBox(tapi::kNoWindow, "Error creating READ thread", "", tapi::kMbOk);
  }
}

void OnDisconnected(Process& process, std::uintptr_t mode) {
  if (IsFailedReachMode(mode)) {
    ShowErrorBox(process, kUnreachableText);
    if (process.line.line_open && GetPortHandle(process) == 0) {
      process.os.telephony.lineDeallocateCall(process.call.call_handle);
    }
    HangUp(process);
  } else if (process.call.link_active) {
    StopReadThread(process);
  }
}

void OnCallState(Process& process, std::uintptr_t state, std::uintptr_t mode) {
  CallData& call = process.call;
  switch (state) {
    case tapi::kCallStateIdle:
      call.call_state = tapi::kCallStateIdle;
      process.os.telephony.lineDeallocateCall(call.call_handle);
      break;
    case tapi::kCallStateOffering:
      call.call_state = tapi::kCallStateOffering;
      process.log.LogProgress("Appel entrant !\n");
      break;
    case tapi::kCallStateAccepted:
    case tapi::kCallStateDialtone:
    case tapi::kCallStateDialing: call.call_state = static_cast<std::uint32_t>(state); break;
    case tapi::kCallStateBusy:
    case tapi::kCallStateSpecialInfo: call.call_state = tapi::kCallStateDisconnected; break;
    case tapi::kCallStateConnected:
      call.call_state = tapi::kCallStateConnected;
      process.os.diagnostics.DebugOutput("Connexion faite !\n");
      StartReadThread(process);
      break;
    case tapi::kCallStateDisconnected:
      call.call_state = tapi::kCallStateDisconnected;
      OnDisconnected(process, mode);
      break;
    default: break;  // ringback, proceeding, on hold and the rest change nothing
  }
}

// A service grants the owner privilege only the first time a handle reaches the
// program through an event, and may send none for a call the program made itself:
// while the handle is still unknown, the call's first state names it.
void TakeCallHandle(Process& process, std::uint32_t device, std::uintptr_t state,
                    std::uintptr_t privilege) {
  CallData& call = process.call;
  const bool first_state_names_it =
      call.call_handle == 0 && call.call_placed && device != 0 && state != tapi::kCallStateOffering;
  if (privilege == tapi::kCallPrivilegeOwner || first_state_names_it) call.call_handle = device;
}

// The place handed to lineMakeCall holds the handle once its request has succeeded.
void OnMakeCallReply(Process& process, std::uintptr_t request, std::uintptr_t result) {
  CallData& call = process.call;
  if (call.make_request == 0 || static_cast<std::int32_t>(request) != call.make_request) return;
  call.make_request = 0;
  if (result == 0 && call.made_call != 0) call.call_handle = call.made_call;
}

}  // namespace

void LineCallback(Process& process, std::uint32_t device, std::uint32_t message, std::uintptr_t,
                  std::uintptr_t param1, std::uintptr_t param2, std::uintptr_t param3) {
  platform::ExpectMainThread("LineCallback");
  switch (message) {
    case tapi::kLineAddressState:
      GrowingRead(process.line.address_status, tapi::kAddressStatusSize,
                  static_cast<std::int32_t>(kLineErrNoMem), [&](tapi::Record& record) {
                    return process.os.telephony.lineGetAddressStatus(
                        process.line.line_handle, process.line.address_id, record);
                  });
      break;
    case tapi::kLineCallState:
      TakeCallHandle(process, device, param1, param3);
      OnCallState(process, param1, param2);
      break;
    case tapi::kLineClose:
      // The provider took the line back (the modem went away): no state of the call
      // will come any more, and its port is no longer ours to read.
      process.call.call_state = tapi::kCallStateDisconnected;
      process.line.line_open = false;
      process.line.line_held = false;
      if (process.call.link_active || process.call.read_thread) StopReadThread(process);
      break;
    case tapi::kLineLineDevState:
      if (param1 == tapi::kLineDevStateDisconnected || param1 == tapi::kLineDevStateOutOfService ||
          param1 == tapi::kLineDevStateClose) {
        process.call.call_state = tapi::kCallStateDisconnected;
      }
      break;
    case tapi::kLineReply:
      OnMakeCallReply(process, param1, param2);
      if (const char* name = LineErrorName(static_cast<std::uint32_t>(param2))) {
        process.call.call_state = tapi::kCallStateDisconnected;
        ShowErrorBox(process, name);
      }
      break;
    default: break;
  }
}

void OnPortLost(Process& process) {
  platform::ExpectMainThread("OnPortLost");
  CallData& call = process.call;
  if (!call.port_lost.exchange(false)) return;
  process.os.diagnostics.DebugOutput("Le port du modem ne r\xE9pond plus !\n");
  call.call_state = tapi::kCallStateDisconnected;
  if (call.link_active || call.read_thread) StopReadThread(process);
}

bool CallEnded(const Process& process) { return process.call.ended(); }

}  // namespace korval::line
