#include "line/call_control.h"
#include "line/port_handle.h"
#include "link/receive_busy.h"
#include "link/time_limits.h"
#include "platform/main_thread.h"
#include "process/process.h"

namespace korval::line {
namespace {

constexpr std::uint32_t kIdleWaitMs = 2000;
// The read thread's reads end at the cancel below, or by their own time-out (a few
// seconds) when a port cannot cancel; this bound only matters when a port driver
// blocks a read despite the time-outs.
constexpr std::uint32_t kThreadEndWaitMs = 10'000;

}  // namespace

void StopReadThread(Process& process) {
  platform::ExpectMainThread("StopReadThread");
  CallData& call = process.call;
  call.link_active = false;
  if (!call.read_thread) return;
  // The reader may be waiting on the port for data: it must come back and see the
  // flag. A handle the reader has closed already refuses, which does no harm.
  CancelPortReads(process);
  const bool ended = call.read_thread->WaitForExit(kThreadEndWaitMs);
  if (!ended) {
    process.os.diagnostics.DebugOutput("Le thread de lecture ne se termine pas !\n");
    call.read_thread_outlived = true;
  }
  call.read_thread.reset();
  if (!ended) return;
  // A reader that lost the port, or never served it, left it open.
  ClosePort(process);
  CloseRetiredPorts(process);
}

void HangUp(Process& process) {
  platform::ExpectMainThread("HangUp");
  CallData& call = process.call;
  GetPortHandle(process);
  if (call.link_active || call.read_thread) StopReadThread(process);
  {
    link::ReceiveBusySection section(process);
    process.receive.capture_file.reset();
  }
  process.os.telephony.lineDrop(call.call_handle, std::string());
  const std::uint32_t start = process.os.clock.TickCount();
  // A line already shut down (the window closed) reports no more states to wait for.
  while (process.line.line_open && call.call_state != platform::kCallStateIdle &&
         process.os.clock.TickCount() - start < kIdleWaitMs) {
    process.os.windows.PumpMessageWithin(
        link::WaitLeftMs(start, kIdleWaitMs - 1, process.os.clock.TickCount()));
  }
  call.call_handle = 0;
  call.made_call = 0;
  call.make_request = 0;
  call.call_placed = false;
  process.receive.capture_enabled = false;
}

}  // namespace korval::line
