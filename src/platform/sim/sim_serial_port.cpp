// The test's side of one simulated port: deliveries, the carrier, scripted faults and
// the record of what happened.
#include "platform/sim/sim_serial.h"

#include <algorithm>
#include <utility>

namespace korval::platform::sim {

namespace {

constexpr std::uint32_t kDcbBinary = 0x1;

SimDcb DcbOf(const SimPortSetup& setup) {
  return {setup.byte_size, setup.parity, setup.stop_bits,
          kDcbBinary | (setup.f_parity ? kDcbParityFlag : 0u)};
}

}  // namespace

SimSerialPort::SimSerialPort(SimSerialPorts& owner, std::size_t index, const SimPortSetup& setup,
                             bool carrier)
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
  owner_.world_.At(at_ms,
                   [this, alive = std::weak_ptr<int>(owner_.alive_), bytes = std::move(bytes)] {
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

}  // namespace korval::platform::sim
