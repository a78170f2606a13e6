// The simulated ports' I/O: reads, writes, purges, flushes and breaks.
#include "platform/sim/sim_serial.h"

#include <algorithm>
#include <optional>
#include <string>

namespace korval::platform::sim {

IoStatus SimSerialPorts::Read(PortHandle handle, void* bytes, std::size_t count, std::size_t* got,
                              IoMode mode) {
  *got = 0;
  Lock lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return IoStatus::kFailed;
  NoteReadEntry(*port, handle);
  if (port->read_faults_ > 0) {
    --port->read_faults_;
    SimPortRecord record = MakeRecord(SimPortOp::kRead, handle, false);
    record.values = {static_cast<std::uint32_t>(count)};
    record.error = port->read_fault_error_;
    AddRecord(*port, std::move(record));
    SetError(port->read_fault_error_);
    return IoStatus::kFailed;
  }
  auto* out = static_cast<std::uint8_t*>(bytes);
  if (port->queue_.empty()) {
    if (mode == IoMode::kOverlapped && port->setup_.overlapped_read_pending) {
      port->pending_read_ = SimSerialPort::PendingRead{out, count};
      SetError(kErrorIoPending);
      return IoStatus::kPending;
    }
    // Never spin: wait a little for a byte, then complete with none.
    changed_.wait_for(lock, read_block_,
                      [&] { return !port->queue_.empty() || !handles_.at(handle).open; });
    if (!handles_.at(handle).open) {
      SetError(kErrorOperationAborted);
      return IoStatus::kFailed;
    }
  }
  *got = TakeQueued(*port, handle, out, count);
  return IoStatus::kDone;
}

bool SimSerialPorts::CancelRead(PortHandle handle) {
  std::lock_guard lock(mutex_);
  const auto it = handles_.find(handle);
  if (it != handles_.end() && it->second.open) return true;
  SetError(kErrorInvalidHandle);
  return false;
}

bool SimSerialPorts::WaitRead(PortHandle handle, std::size_t* got) {
  *got = 0;
  Lock lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  NoteReadEntry(*port, handle);
  if (!port->pending_read_) return true;  // nothing pending: the last read stands
  const SimSerialPort::PendingRead pending = *port->pending_read_;
  port->pending_read_.reset();
  if (port->wait_read_faults_ > 0) {
    --port->wait_read_faults_;
    SimPortRecord record = MakeRecord(SimPortOp::kRead, handle, false);
    record.values = {static_cast<std::uint32_t>(pending.count)};
    record.error = port->wait_read_fault_error_;
    AddRecord(*port, std::move(record));
    SetError(port->wait_read_fault_error_);
    return false;
  }
  changed_.wait_for(lock, read_block_,
                    [&] { return !port->queue_.empty() || !handles_.at(handle).open; });
  if (!handles_.at(handle).open) {
    SetError(kErrorOperationAborted);
    return false;
  }
  *got = TakeQueued(*port, handle, pending.bytes, pending.count);
  return true;
}

IoStatus SimSerialPorts::Write(PortHandle handle, const void* bytes, std::size_t count,
                               std::size_t* written, IoMode mode) {
  *written = 0;
  SimFarEnd* far_end = nullptr;
  std::string out;
  SimSerialPort* port = nullptr;
  IoStatus status = IoStatus::kDone;
  std::uint64_t at_ms = 0;
  {
    std::lock_guard lock(mutex_);
    port = FindOpen(handle);
    if (port == nullptr) return IoStatus::kFailed;
    std::size_t n = count;
    std::optional<SimWriteFault> fault;
    if (!port->write_faults_.empty()) {
      fault = port->write_faults_.front();
      port->write_faults_.erase(port->write_faults_.begin());
      n = std::min(fault->written, count);
    }
    out.assign(static_cast<const char*>(bytes), n);
    SimPortRecord record = MakeRecord(SimPortOp::kWrite, handle);
    record.bytes = out;
    record.values = {static_cast<std::uint32_t>(count)};
    at_ms = record.at_ms;
    const bool overlapped = mode == IoMode::kOverlapped;
    if (fault && fault->kind == SimWriteFault::Kind::kWaitFail && overlapped) {
      port->pending_write_ = SimSerialPort::PendingWrite{n, true, fault->error};
      status = IoStatus::kPending;
    } else if (fault && fault->kind != SimWriteFault::Kind::kShort) {
      record.ok = false;
      record.error = fault->error;
      SetError(fault->error);
      *written = n;
      status = IoStatus::kFailed;
    } else if (overlapped && port->setup_.overlapped_write_pending) {
      port->pending_write_ = SimSerialPort::PendingWrite{n, false, 0};
      status = IoStatus::kPending;
    } else {
      *written = n;
    }
    if (status == IoStatus::kPending) SetError(kErrorIoPending);
    AddRecord(*port, std::move(record));
    if (port->carrier_ && !out.empty()) far_end = port->far_end_;
  }
  if (far_end != nullptr) far_end->OnWrite(*port, out, at_ms);
  return status;
}

bool SimSerialPorts::WaitWrite(PortHandle handle, std::size_t* written) {
  *written = 0;
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  if (!port->pending_write_) return true;
  const SimSerialPort::PendingWrite pending = *port->pending_write_;
  port->pending_write_.reset();
  *written = pending.written;
  if (pending.fail) {
    SetError(pending.error);
    return false;
  }
  return true;
}

bool SimSerialPorts::ClearCommError(PortHandle handle) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  AddRecord(*port, MakeRecord(SimPortOp::kClearCommError, handle));
  return true;
}

bool SimSerialPorts::PurgeComm(PortHandle handle, std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  if ((flags & kPurgeRxClear) != 0) port->queue_.clear();
  SimPortRecord record = MakeRecord(SimPortOp::kPurge, handle);
  record.values = {flags};
  AddRecord(*port, std::move(record));
  changed_.notify_all();
  return true;
}

bool SimSerialPorts::FlushFileBuffers(PortHandle handle) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  AddRecord(*port, MakeRecord(SimPortOp::kFlush, handle));
  return true;
}

bool SimSerialPorts::SetBreak(PortHandle handle, bool on) {
  SimFarEnd* far_end = nullptr;
  SimSerialPort* port = nullptr;
  std::uint64_t at_ms = 0;
  {
    std::lock_guard lock(mutex_);
    port = FindOpen(handle);
    if (port == nullptr) return false;
    port->break_on_ = on;
    SimPortRecord record = MakeRecord(on ? SimPortOp::kBreakSet : SimPortOp::kBreakClear, handle);
    at_ms = record.at_ms;
    AddRecord(*port, std::move(record));
    if (port->carrier_) far_end = port->far_end_;
  }
  if (far_end != nullptr) far_end->OnBreak(*port, on, at_ms);
  return true;
}

bool SimSerialPorts::SetCommBreak(PortHandle handle) { return SetBreak(handle, true); }

bool SimSerialPorts::ClearCommBreak(PortHandle handle) { return SetBreak(handle, false); }

}  // namespace korval::platform::sim
