// The program's side of the simulated ports: handles, the settling of deliveries,
// closes and errors.
#include "platform/sim/sim_serial.h"

#include <algorithm>
#include <utility>

namespace korval::platform::sim {

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
    const SimWorld::MainThreadBlocked blocked(world_);
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

std::size_t SimSerialPorts::TakeQueued(SimSerialPort& port, PortHandle handle, std::uint8_t* bytes,
                                       std::size_t count) {
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
