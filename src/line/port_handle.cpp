#include "line/port_handle.h"

#include <mutex>
#include <vector>

#include "line/growing_read.h"
#include "platform/main_thread.h"
#include "process/process.h"

namespace korval::line {
namespace {

using platform::Record;

void Retire(Process& process, platform::PortHandle handle) {
  std::lock_guard lock(process.line.retired_mutex);
  process.line.retired_ports.push_back(handle);
}

int ObtainPortHandle(Process& process, bool through_call) {
  if (auto replaced = process.line.port.TakeOpen()) Retire(process, *replaced);
  platform::Telephony& telephony = process.os.telephony;
  std::optional<Record> answer;
  const std::int32_t result =
      GrowingRead(answer, platform::kVarStringSize, -1, [&](Record& record) {
        return through_call
                   ? telephony.lineGetID(0, 0, process.call.call_handle.load(),
                                         platform::kCallSelectCall, record,
                                         platform::kDataModemClass)
                   : telephony.lineGetID(process.line.line_handle, 0, 0, platform::kCallSelectLine,
                                         record, platform::kDataModemClass);
      });
  if (result != 0) return -1;
  const std::uint32_t offset = answer->Get32(platform::field::kVarStringOffset);
  const std::uint32_t size = answer->Get32(platform::field::kVarStringSize);
  // A string part too short to hold a handle would give a handle made of nothing.
  if (size < 4 || offset > answer->size() || answer->size() - offset < 4) return -1;
  if (auto replaced = process.line.port.Replace(answer->Get32(offset))) {
    Retire(process, *replaced);
  }
  return 0;
}

}  // namespace

int GetPortHandle(Process& process) { return ObtainPortHandle(process, true); }

int GetLinePortHandle(Process& process) {
  platform::ExpectMainThread("GetLinePortHandle");
  return ObtainPortHandle(process, false);
}

void ClosePort(Process& process) {
  if (auto handle = process.line.port.TakeOpen()) process.os.serial.CloseHandle(*handle);
}

void CancelPortReads(Process& process) {
  platform::ExpectMainThread("CancelPortReads");
  std::vector<platform::PortHandle> ports;
  {
    // Copied, so that no lock of ours is held inside the port's.
    std::lock_guard lock(process.line.retired_mutex);
    ports = process.line.retired_ports;
  }
  ports.push_back(process.line.port.handle());
  for (platform::PortHandle handle : ports) process.os.serial.CancelRead(handle);
}

void CloseRetiredPorts(Process& process) {
  platform::ExpectMainThread("CloseRetiredPorts");
  std::vector<platform::PortHandle> retired;
  {
    std::lock_guard lock(process.line.retired_mutex);
    retired.swap(process.line.retired_ports);
  }
  for (platform::PortHandle handle : retired) process.os.serial.CloseHandle(handle);
}

}  // namespace korval::line
