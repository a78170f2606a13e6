#include "link/read_thread.h"

#include <chrono>
#include <thread>

#include "line/port_handle.h"
#include "link/receive_buffer.h"
#include "process/process.h"

namespace korval::link {
namespace {

using platform::IoMode;
using platform::IoStatus;

// After a failed read the port is given this long before the next try, so that a
// port that keeps failing does not make the loop spin.
constexpr auto kFailedReadBackoff = std::chrono::milliseconds(2);

void ReadFailed(Process& process) {
  ClearPortError(process, process.os.serial.LastError());
  std::this_thread::sleep_for(kFailedReadBackoff);
}

void ServeOverlapped(Process& process) {
  platform::SerialPorts& serial = process.os.serial;
  char chunk[kReadChunkBytes];
  while (process.call.link_active) {
    const platform::PortHandle port = process.line.port.handle();
    std::size_t count = 0;
    const IoStatus status = serial.Read(port, chunk, sizeof chunk, &count, IoMode::kOverlapped);
    if (status == IoStatus::kPending) {
      if (serial.WaitRead(port, &count)) {
        if (count != 0) StoreReceivedChunk(process, chunk, count);
      } else {
        ReadFailed(process);
      }
    } else if (status == IoStatus::kDone) {
      if (count != 0) StoreReceivedChunk(process, chunk, count);
    } else {
      ReadFailed(process);
    }
  }
  serial.FlushFileBuffers(process.line.port.handle());
}

void ServePlain(Process& process) {
  platform::SerialPorts& serial = process.os.serial;
  char chunk[kReadChunkBytes];
  while (process.call.link_active) {
    std::size_t count = 0;
    const IoStatus status = serial.Read(process.line.port.handle(), chunk, sizeof chunk,
                                        &count, IoMode::kPlain);
    if (status != IoStatus::kDone) {
      ReadFailed(process);
    } else if (count != 0) {
      StoreReceivedChunk(process, chunk, count);
    }
  }
}

}  // namespace

void ClearPortError(Process& process, std::uint32_t) {
  process.os.serial.ClearCommError(process.line.port.handle());
}

std::uint32_t ReadThread(Process& process) {
  const auto& properties = process.line.port_properties;
  if (!properties ||
      (properties->Get32(platform::field::kPropProvCapabilities) & platform::kPcfIntTimeouts) ==
          0) {
    return 1;
  }
  if (line::GetPortHandle(process) != 0) {
    // Message boxes belong to the main thread: the box is shown from its queue.
    platform::WindowSystem& windows = process.os.windows;
    windows.Post([&windows] {
      windows.MessageBox(platform::kNoWindow,
                         "Erreur dans l'obtention du handle du modem pour le transfert", "",
                         platform::kMbOk);
    });
    return 1;
  }
  process.os.serial.SetCommTimeouts(process.line.port.handle(),
                                    {platform::kMaxDword, 0, 0, 0, 0});
  if (process.job.is_windows_nt) {
    ServeOverlapped(process);
  } else {
    ServePlain(process);
  }
  if (auto port = process.line.port.TakeOpen()) {
    process.os.serial.PurgeComm(*port, platform::kPurgeRxClear);
    process.os.serial.CloseHandle(*port);
  }
  return 0;
}

}  // namespace korval::link
