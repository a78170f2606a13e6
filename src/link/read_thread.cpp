#include "link/read_thread.h"

#include <algorithm>

#include "link/receive_buffer.h"
#include "process/process.h"

namespace korval::link {
namespace {

using platform::IoMode;
using platform::IoStatus;

// A port that keeps failing (its far end closed, a USB modem pulled out) fails every
// call at once: the loop pauses longer after each failure in a row, so that it never
// turns faster than a few times a second, and gives the port up once the failures
// have lasted kPortLostAfterMs.
constexpr std::uint32_t kFirstBackoffMs = 10;
constexpr std::uint32_t kLongestBackoffMs = 250;
constexpr std::uint32_t kPortLostAfterMs = 2000;

class FailureBackoff {
 public:
  explicit FailureBackoff(platform::Clock& clock) : clock_(clock) {}
  void Succeeded() {
    pause_ms_ = 0;
    failing_ms_ = 0;
  }
  // Waits before the next try; false once the port is to be given up.
  bool FailedAndWaited() {
    pause_ms_ = pause_ms_ == 0 ? kFirstBackoffMs : std::min(2 * pause_ms_, kLongestBackoffMs);
    if (failing_ms_ >= kPortLostAfterMs) return false;
    clock_.Sleep(pause_ms_);
    failing_ms_ += pause_ms_;
    return true;
  }

 private:
  platform::Clock& clock_;
  std::uint32_t pause_ms_ = 0;
  std::uint32_t failing_ms_ = 0;
};

// False once the failures have lasted: the port is gone.
bool ReadFailed(Process& process, FailureBackoff& backoff) {
  ClearPortError(process, process.os.serial.LastError());
  return backoff.FailedAndWaited();
}

// The main thread hears of it as of a far end that hung up: the exchange sees the
// call ended and hangs up.
void ReportPortLost(Process& process, LineAccess line) {
  process.call.port_lost = true;
  process.os.windows.Post([&process, line] { line.on_port_lost(process); });
}

// Both loops end when LinkActive is cleared or when the port is lost (true).
bool ServeOverlapped(Process& process) {
  platform::SerialPorts& serial = process.os.serial;
  char chunk[kReadChunkBytes];
  FailureBackoff backoff(process.os.clock);
  while (process.call.link_active) {
    const platform::PortHandle port = process.line.port.handle();
    std::size_t count = 0;
    IoStatus status = serial.Read(port, chunk, sizeof chunk, &count, IoMode::kOverlapped);
    if (status == IoStatus::kPending) {
      status = serial.WaitRead(port, &count) ? IoStatus::kDone : IoStatus::kFailed;
    }
    if (status == IoStatus::kDone) {
      backoff.Succeeded();
      if (count != 0) StoreReceivedChunk(process, chunk, count);
    } else if (!ReadFailed(process, backoff)) {
      return true;
    }
  }
  return false;
}

bool ServePlain(Process& process) {
  platform::SerialPorts& serial = process.os.serial;
  char chunk[kReadChunkBytes];
  FailureBackoff backoff(process.os.clock);
  while (process.call.link_active) {
    std::size_t count = 0;
    const IoStatus status =
        serial.Read(process.line.port.handle(), chunk, sizeof chunk, &count, IoMode::kPlain);
    if (status != IoStatus::kDone) {
      if (!ReadFailed(process, backoff)) return true;
    } else {
      backoff.Succeeded();
      if (count != 0) StoreReceivedChunk(process, chunk, count);
    }
  }
  return false;
}

}  // namespace

void ClearPortError(Process& process, std::uint32_t) {
  process.os.serial.ClearCommError(process.line.port.handle());
}

std::uint32_t ReadThread(Process& process, LineAccess line) {
  const auto& properties = process.line.port_properties;
  if (!properties || (properties->Get32(platform::field::kPropProvCapabilities) &
                      platform::kPcfIntTimeouts) == 0) {
    return 1;
  }
  if (line.get_port_handle(process) != 0) {
    // A call that ended before the thread came this far has no port left to give:
    // that is no fault to show.
    if (!process.call.link_active) return 1;
    // Message boxes belong to the main thread: the box is shown from its queue.
    platform::WindowSystem& windows = process.os.windows;
    windows.Post([&windows] {
      windows.MessageBox(platform::kNoWindow,
                         "Erreur dans l'obtention du handle du modem pour le transfert", "",
                         platform::kMbOk);
    });
    return 1;
  }
  process.os.serial.SetCommTimeouts(process.line.port.handle(), {platform::kMaxDword, 0, 0, 0, 0});
  const bool nt = process.job.is_windows_nt;
  if (nt ? ServeOverlapped(process) : ServePlain(process)) {
    // The main thread may be writing on the port or sending a break at this moment,
    // so the port stays open: it is closed once the main thread has stopped this one.
    ReportPortLost(process, line);
    return 0;
  }
  // The bytes written must have left before the port goes.
  if (nt) process.os.serial.FlushFileBuffers(process.line.port.handle());
  if (auto port = process.line.port.TakeOpen()) {
    process.os.serial.PurgeComm(*port, platform::kPurgeRxClear);
    process.os.serial.CloseHandle(*port);
  }
  return 0;
}

}  // namespace korval::link
