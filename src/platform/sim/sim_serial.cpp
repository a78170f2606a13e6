#include "platform/sim/sim_serial.h"

#include <algorithm>
#include <utility>

namespace korval::platform::sim {

namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kDcbBinary = 0x1;

SimDcb DcbOf(const SimPortSetup& setup) {
  return {setup.byte_size, setup.parity, setup.stop_bits,
          kDcbBinary | (setup.f_parity ? kDcbParityFlag : 0u)};
}

}  // namespace

// ---------------------------------------------------------------------------------
// SimSerialPort: the test's side of one port.

SimSerialPort::SimSerialPort(SimSerialPorts& owner, std::size_t index,
                             const SimPortSetup& setup, bool carrier)
    : owner_(owner), index_(index), setup_(setup), dcb_(DcbOf(setup)), carrier_(carrier) {}

std::string SimSerialPort::Name() const {
  std::lock_guard lock(owner_.mutex_);
  return setup_.name;
}

void SimSerialPort::SetFarEnd(SimFarEnd* far_end) {
  std::lock_guard lock(owner_.mutex_);
  far_end_ = far_end;
}

void SimSerialPort::Deliver(const std::string& bytes) {
  if (bytes.empty()) return;
  SimPortRecord record = owner_.MakeRecord(SimPortOp::kDeliver, kNoPort);
  record.bytes = bytes;
  {
    SimSerialPorts::Lock lock(owner_.mutex_);
    record.ok = carrier_;
    owner_.AddRecord(*this, std::move(record));
    if (!carrier_) {
      ++dropped_deliveries_;
      return;
    }
    queue_ += bytes;
    unsettled_ = true;
    owner_.changed_.notify_all();
    if (owner_.OnMainThread()) owner_.SettlePort(lock, *this);
  }
  owner_.windows_.Wake();
}

void SimSerialPort::DeliverAt(std::uint64_t at_ms, std::string bytes) {
  owner_.world_.At(at_ms, [this, alive = std::weak_ptr<int>(owner_.alive_),
                           bytes = std::move(bytes)] {
    if (!alive.expired()) Deliver(bytes);
  });
}

void SimSerialPort::DeliverChunked(const std::string& bytes, std::size_t chunk,
                                   std::uint64_t interval_ms) {
  if (chunk == 0) chunk = bytes.size();
  std::uint64_t at = owner_.world_.Now();
  for (std::size_t i = 0; i < bytes.size(); i += chunk, at += interval_ms) {
    std::string piece = bytes.substr(i, chunk);
    if (i == 0 || interval_ms == 0) {
      Deliver(piece);
    } else {
      DeliverAt(at, std::move(piece));
    }
  }
}

void SimSerialPort::SetCarrier(bool up) {
  SimFarEnd* far_end = nullptr;
  SimPortRecord record = owner_.MakeRecord(SimPortOp::kCarrier, kNoPort);
  record.values = {up ? 1u : 0u};
  {
    std::lock_guard lock(owner_.mutex_);
    if (carrier_ == up) return;
    carrier_ = up;
    owner_.AddRecord(*this, std::move(record));
    if (up) {
      read_since_carrier_ = false;
    } else {
      // Nothing more comes from the line; what was not read is lost with the call.
      queue_.clear();
      unsettled_ = false;
      handing_on_ = false;
      reader_expected_ = false;
    }
    far_end = far_end_;
  }
  owner_.changed_.notify_all();
  if (far_end != nullptr) {
    const std::uint64_t now = owner_.Now();
    if (up) {
      far_end->OnConnect(*this, now);
    } else {
      far_end->OnHangUp(*this, now);
    }
  }
}

void SimSerialPort::ExpectReader() {
  std::lock_guard lock(owner_.mutex_);
  if (!read_since_carrier_) reader_expected_ = true;
}

void SimSerialPort::Configure(const SimPortSetup& setup) {
  std::lock_guard lock(owner_.mutex_);
  setup_ = setup;
  dcb_ = DcbOf(setup);
}

SimPortSetup SimSerialPort::Setup() const {
  std::lock_guard lock(owner_.mutex_);
  return setup_;
}

void SimSerialPort::FailNextReads(unsigned count, std::uint32_t error) {
  std::lock_guard lock(owner_.mutex_);
  read_faults_ = count;
  read_fault_error_ = error;
}

void SimSerialPort::FailNextWaitReads(unsigned count, std::uint32_t error) {
  std::lock_guard lock(owner_.mutex_);
  wait_read_faults_ = count;
  wait_read_fault_error_ = error;
}

void SimSerialPort::ScriptWriteFault(SimWriteFault fault) {
  std::lock_guard lock(owner_.mutex_);
  write_faults_.push_back(fault);
}

bool SimSerialPort::Carrier() const {
  std::lock_guard lock(owner_.mutex_);
  return carrier_;
}

bool SimSerialPort::BreakOn() const {
  std::lock_guard lock(owner_.mutex_);
  return break_on_;
}

std::size_t SimSerialPort::Queued() const {
  std::lock_guard lock(owner_.mutex_);
  return queue_.size();
}

SimDcb SimSerialPort::Dcb() const {
  std::lock_guard lock(owner_.mutex_);
  return dcb_;
}

std::optional<CommTimeouts> SimSerialPort::Timeouts() const {
  std::lock_guard lock(owner_.mutex_);
  return timeouts_;
}

std::size_t SimSerialPort::OpenHandles() const {
  std::lock_guard lock(owner_.mutex_);
  return open_handles_;
}

std::size_t SimSerialPort::DroppedDeliveries() const {
  std::lock_guard lock(owner_.mutex_);
  return dropped_deliveries_;
}

std::vector<SimPortRecord> SimSerialPort::Records() const {
  std::lock_guard lock(owner_.mutex_);
  return records_;
}

std::vector<SimPortRecord> SimSerialPort::Records(SimPortOp op) const {
  std::lock_guard lock(owner_.mutex_);
  std::vector<SimPortRecord> out;
  for (const SimPortRecord& r : records_) {
    if (r.op == op) out.push_back(r);
  }
  return out;
}

std::size_t SimSerialPort::Count(SimPortOp op) const {
  std::lock_guard lock(owner_.mutex_);
  return static_cast<std::size_t>(std::count_if(
      records_.begin(), records_.end(), [op](const SimPortRecord& r) { return r.op == op; }));
}

std::string SimSerialPort::Written() const {
  std::string out;
  for (const SimPortRecord& r : Records(SimPortOp::kWrite)) out += r.bytes;
  return out;
}

std::string SimSerialPort::ReadBack() const {
  std::string out;
  for (const SimPortRecord& r : Records(SimPortOp::kRead)) out += r.bytes;
  return out;
}

// ---------------------------------------------------------------------------------
// SimSerialPorts: the program's side.

SimSerialPorts::SimSerialPorts(SimWorld& world, WindowSystem& windows)
    : world_(world), windows_(windows), time_(world) {
  world_.AddSettleHook([this, alive = std::weak_ptr<int>(alive_)] {
    if (!alive.expired()) Settle();
  });
}

SimSerialPorts::~SimSerialPorts() = default;

SimSerialPort& SimSerialPorts::AddPort(const SimPortSetup& setup, bool carrier) {
  std::lock_guard lock(mutex_);
  ports_.push_back(
      std::unique_ptr<SimSerialPort>(new SimSerialPort(*this, ports_.size(), setup, carrier)));
  return *ports_.back();
}

SimSerialPort& SimSerialPorts::Port(std::size_t index) {
  std::lock_guard lock(mutex_);
  return *ports_.at(index);
}

std::size_t SimSerialPorts::PortCount() const {
  std::lock_guard lock(mutex_);
  return ports_.size();
}

PortHandle SimSerialPorts::OpenHandle(SimSerialPort& port) {
  std::lock_guard lock(mutex_);
  const PortHandle handle = next_handle_;
  next_handle_ += 4;  // never reused, so a stale handle stays recognisable
  handles_[handle] = {&port, true};
  ++port.open_handles_;
  return handle;
}

bool SimSerialPorts::IsOpen(PortHandle handle) const {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  return it != handles_.end() && it->second.open;
}

std::size_t SimSerialPorts::DoubleCloses() const {
  std::lock_guard lock(mutex_);
  return double_closes_;
}

std::size_t SimSerialPorts::InvalidHandleUses() const {
  std::lock_guard lock(mutex_);
  return invalid_uses_;
}

std::size_t SimSerialPorts::SettleTimeouts() const {
  std::lock_guard lock(mutex_);
  return settle_timeouts_;
}

void SimSerialPorts::SetSettleLimit(std::chrono::milliseconds limit) {
  std::lock_guard lock(mutex_);
  settle_limit_ = limit;
}

void SimSerialPorts::SetReadBlock(std::chrono::milliseconds block) {
  std::lock_guard lock(mutex_);
  read_block_ = block;
}

SimSerialPort* SimSerialPorts::FindOpen(PortHandle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end() || !it->second.open) {
    ++invalid_uses_;
    SetError(kErrorInvalidHandle);
    return nullptr;
  }
  return it->second.port;
}

void SimSerialPorts::SetError(std::uint32_t code) {
  last_errors_[std::this_thread::get_id()] = code;
}

SimPortRecord SimSerialPorts::MakeRecord(SimPortOp op, PortHandle handle, bool ok) {
  return {op, handle, {}, {}, ok, 0, time_.Now(), time_.OnMainThread()};
}

void SimSerialPorts::AddRecord(SimSerialPort& port, SimPortRecord record) {
  port.records_.push_back(std::move(record));
}

// Settling. The program's read thread runs in real time while the world's time only
// moves when the main thread idles, so without help a delivery could be seen by the
// program one virtual millisecond or a hundred later, depending on the scheduler.
// After a delivery (inside Deliver on the main thread, and again in the world's
// settle hook) the main thread therefore waits until the port's queue is empty and
// the reader is back inside a read, which means it has handed the bytes on.
//
// It waits only for a port that is being served: its last read was made on a handle
// that is still open, or a reader is expected (the call just connected) and has not
// read yet. Closing that handle, losing the carrier or a wait that runs out (counted
// in SettleTimeouts) ends the serving, so a port nobody reads costs at most one
// bounded wait and then none until a read is made again.
bool SimSerialPorts::Served(const SimSerialPort& port) const {
  if (port.reader_expected_) return true;
  if (port.last_read_handle_ == kNoPort) return false;
  auto it = handles_.find(port.last_read_handle_);
  return it != handles_.end() && it->second.open;
}

void SimSerialPorts::SettlePort(Lock& lock, SimSerialPort& port) {
  if (port.queue_.empty() && !port.unsettled_) return;
  if (Served(port)) {
    const bool settled = changed_.wait_for(lock, settle_limit_, [&] {
      return !Served(port) || (port.queue_.empty() && !port.handing_on_);
    });
    if (!settled) {
      ++settle_timeouts_;
      port.reader_expected_ = false;
      port.last_read_handle_ = kNoPort;
    }
  }
  port.unsettled_ = false;
}

void SimSerialPorts::Settle() {
  time_.Now();  // refreshes the copy that the read thread's records use
  Lock lock(mutex_);
  for (auto& port : ports_) SettlePort(lock, *port);
}

void SimSerialPorts::NoteReadEntry(SimSerialPort& port, PortHandle handle) {
  port.last_read_handle_ = handle;
  port.read_since_carrier_ = true;
  port.reader_expected_ = false;
  port.handing_on_ = false;
  changed_.notify_all();
}

std::size_t SimSerialPorts::TakeQueued(SimSerialPort& port, PortHandle handle,
                                       std::uint8_t* bytes, std::size_t count) {
  const std::size_t n = std::min(count, port.queue_.size());
  if (n == 0) return 0;
  std::copy_n(port.queue_.data(), n, bytes);
  SimPortRecord record = MakeRecord(SimPortOp::kRead, handle);
  record.bytes = port.queue_.substr(0, n);
  record.values = {static_cast<std::uint32_t>(count)};
  AddRecord(port, std::move(record));
  port.queue_.erase(0, n);
  port.handing_on_ = true;
  changed_.notify_all();
  return n;
}

bool SimSerialPorts::GetCommProperties(PortHandle handle, Record& properties) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  const int pass = ++port->commprop_calls_;
  SimPortRecord record = MakeRecord(SimPortOp::kGetCommProperties, handle);
  record.values = {properties.size()};
  const SimPortSetup& s = port->setup_;
  if (s.commprop_fail_pass == pass) {
    record.ok = false;
    record.error = s.commprop_error;
    AddRecord(*port, std::move(record));
    SetError(s.commprop_error);
    return false;
  }
  AddRecord(*port, std::move(record));
  // COMMPROP of a modem port, then the provider block; what does not fit is dropped.
  properties.Set16(2, 2);            // wPacketVersion
  properties.Set32(4, 1);            // dwServiceMask: SP_SERIALCOMM
  properties.Set32(20, 0x10000000);  // dwMaxBaud: BAUD_USER
  properties.Set32(24, 6);           // dwProvSubType: PST_MODEM
  properties.Set32(field::kPropProvCapabilities, s.prov_capabilities);
  properties.Set32(32, 0x7F);        // dwSettableParams
  properties.Set32(44, port->out_queue_);
  properties.Set32(48, port->in_queue_);
  if (properties.size() > field::kPropProvChar) {
    properties.Set32(field::kPropProvChar,
                     std::min(properties.size() - field::kPropProvChar, s.provider_required_size));
  }
  properties.Set32(field::kPropProvChar + 4, s.provider_required_size);
  return true;
}

bool SimSerialPorts::SetupComm(PortHandle handle, std::uint32_t in_queue,
                               std::uint32_t out_queue) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  port->in_queue_ = in_queue;
  port->out_queue_ = out_queue;
  SimPortRecord record = MakeRecord(SimPortOp::kSetupComm, handle);
  record.values = {in_queue, out_queue};
  AddRecord(*port, std::move(record));
  return true;
}

bool SimSerialPorts::GetCommConfig(PortHandle handle, Record& config, std::uint32_t* size) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  SimPortRecord record = MakeRecord(SimPortOp::kGetCommConfig, handle);
  if (size == nullptr) {
    record.ok = false;
    record.error = kErrorInvalidParameter;
    AddRecord(*port, std::move(record));
    SetError(kErrorInvalidParameter);
    return false;
  }
  const std::uint32_t needed = port->setup_.config_size;
  record.values = {*size, needed};
  AddRecord(*port, std::move(record));
  // dwSize stays as the caller set it: the caller compares it with *size to grow.
  config.Set16(4, 0x100);  // wVersion
  config.Set32(8, 28);     // DCBlength
  config.Set32(12, 57600); // BaudRate
  config.Set32(field::kConfigDcbFlags, port->dcb_.flags);
  config.Set8(field::kConfigByteSize, port->dcb_.byte_size);
  config.Set8(field::kConfigParity, port->dcb_.parity);
  config.Set8(field::kConfigStopBits, port->dcb_.stop_bits);
  config.Set32(36, 6);   // dwProviderSubType: PST_MODEM
  config.Set32(40, 48);  // dwProviderOffset
  config.Set32(44, needed > 48 ? needed - 48 : 0);
  *size = needed;
  return true;
}

bool SimSerialPorts::SetCommConfig(PortHandle handle, const Record& config, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  port->dcb_ = {config.Get8(field::kConfigByteSize), config.Get8(field::kConfigParity),
                config.Get8(field::kConfigStopBits), config.Get32(field::kConfigDcbFlags)};
  SimPortRecord record = MakeRecord(SimPortOp::kSetCommConfig, handle);
  record.values = {size, port->dcb_.byte_size, port->dcb_.parity, port->dcb_.stop_bits,
                   port->dcb_.flags};
  AddRecord(*port, std::move(record));
  return true;
}

bool SimSerialPorts::SetCommTimeouts(PortHandle handle, const CommTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  SimPortRecord record = MakeRecord(SimPortOp::kSetCommTimeouts, handle);
  record.values = {timeouts.read_interval, timeouts.read_total_multiplier,
                   timeouts.read_total_constant, timeouts.write_total_multiplier,
                   timeouts.write_total_constant};
  const std::uint32_t error = port->setup_.set_timeouts_error;
  if (error != 0) {
    record.ok = false;
    record.error = error;
    AddRecord(*port, std::move(record));
    SetError(error);
    return false;
  }
  port->timeouts_ = timeouts;
  AddRecord(*port, std::move(record));
  return true;
}

IoStatus SimSerialPorts::Read(PortHandle handle, void* bytes, std::size_t count,
                              std::size_t* got, IoMode mode) {
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
    changed_.wait_for(lock, read_block_, [&] {
      return !port->queue_.empty() || !handles_.at(handle).open;
    });
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
  changed_.wait_for(lock, read_block_, [&] {
    return !port->queue_.empty() || !handles_.at(handle).open;
  });
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

bool SimSerialPorts::CloseHandle(PortHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  if (it != handles_.end() && !it->second.open) ++double_closes_;
  SimSerialPort* port = FindOpen(handle);
  if (port == nullptr) return false;
  it->second.open = false;
  --port->open_handles_;
  if (port->last_read_handle_ == handle) port->last_read_handle_ = kNoPort;
  AddRecord(*port, MakeRecord(SimPortOp::kClose, handle));
  changed_.notify_all();  // a read blocked on this handle ends; a settle stops waiting
  return true;
}

std::uint32_t SimSerialPorts::LastError() {
  std::lock_guard lock(mutex_);
  auto it = last_errors_.find(std::this_thread::get_id());
  return it == last_errors_.end() ? 0 : it->second;
}

std::string SimSerialPorts::SystemMessage(std::uint32_t code) {
  return "Erreur syst\xE8me " + std::to_string(code) + ".";
}

}  // namespace korval::platform::sim
