#pragma once
// Simulated modem serial ports for tests: a table of the handles that lineGetID hands
// out, an input queue per port fed by a scriptable far end, scriptable faults, and a
// record of every operation with its virtual time.
//
// Threads: the program's read thread calls the SerialPorts operations while the main
// thread runs the rest; all state sits under one mutex. The test-facing methods
// (Deliver, SetCarrier, faults, queries) are for the main thread; queries may be
// made from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "platform/sim/sim_world.h"
#include "platform/window_system.h"

namespace korval::platform::sim {

class SimSerialPort;
class SimSerialPorts;

// What sits at the far end of the modem line. Called on the main thread with no sim
// lock held, so an implementation may Deliver (or DeliverAt) from inside a call.
class SimFarEnd {
 public:
  virtual ~SimFarEnd() = default;
  // A block of bytes that went out on the line (only while the carrier is up).
  virtual void OnWrite(SimSerialPort&, const std::string& /*bytes*/, std::uint64_t /*at_ms*/) {}
  virtual void OnBreak(SimSerialPort&, bool /*on*/, std::uint64_t /*at_ms*/) {}
  // The call connected, or ended (far-end hang-up, drop, line closed).
  virtual void OnConnect(SimSerialPort&, std::uint64_t /*at_ms*/) {}
  virtual void OnHangUp(SimSerialPort&, std::uint64_t /*at_ms*/) {}
};

// How a port is set up and what it answers. Static faults live here; the "next N
// calls" faults are methods of SimSerialPort.
struct SimPortSetup {
  std::string name = "Modem standard";  // after the handle in lineGetID's answer
  // COMMPROP
  std::uint32_t prov_capabilities = 0xFF;      // PCF_INTTIMEOUTS (0x80) among them
  std::uint32_t provider_required_size = 120;  // the provider block's field at offset 64
  int commprop_fail_pass = 0;  // 1 or 2: that GetCommProperties call fails (0: none)
  std::uint32_t commprop_error = kErrorGenFailure;
  // COMMCONFIG: the DCB the port starts with, and the size GetCommConfig reports
  std::uint8_t byte_size = 7;
  std::uint8_t parity = 2;  // EVENPARITY
  std::uint8_t stop_bits = 0;
  bool f_parity = true;
  std::uint32_t config_size = 120;
  // SetCommTimeouts fails with this error (0: succeeds)
  std::uint32_t set_timeouts_error = 0;
  // Overlapped I/O: an empty-queue read reports kPending (WaitRead completes it);
  // a write reports kPending (WaitWrite completes it). Off: both complete at once.
  bool overlapped_read_pending = false;
  bool overlapped_write_pending = false;

  bool operator==(const SimPortSetup&) const = default;
};

// The part of the DCB the program sets.
struct SimDcb {
  std::uint8_t byte_size;
  std::uint8_t parity;
  std::uint8_t stop_bits;
  std::uint32_t flags;  // fBinary 0x1, fParity 0x2, ...
  bool f_parity() const { return (flags & 0x2) != 0; }
};

// One scripted write fault, used by the next Write.
struct SimWriteFault {
  enum class Kind {
    kShort,     // succeeds, but only `written` bytes go out
    kFail,      // fails with `error` after `written` bytes went out
    kWaitFail,  // overlapped: Write reports kPending, WaitWrite fails (plain: kFail)
  };
  Kind kind = Kind::kFail;
  std::size_t written = 0;
  std::uint32_t error = kErrorGenFailure;
};

enum class SimPortOp {
  kGetCommProperties,  // values {record size}
  kSetupComm,          // values {in queue, out queue}
  kGetCommConfig,      // values {size in, size reported}
  kSetCommConfig,      // values {size, ByteSize, Parity, StopBits, DCB flags}
  kSetCommTimeouts,    // values {the five fields}
  kRead,               // only reads that returned data or failed; bytes, values {asked}
  kWrite,              // bytes that went out, values {asked}
  kClearCommError,
  kPurge,  // values {flags}
  kFlush,
  kBreakSet,
  kBreakClear,
  kClose,
  kDeliver,  // bytes; ok false when dropped (no carrier)
  kCarrier,  // values {1 up, 0 down}
};

struct SimPortRecord {
  SimPortOp op;
  PortHandle handle;  // 0 for kDeliver and kCarrier
  std::string bytes;
  std::vector<std::uint32_t> values;
  bool ok;
  std::uint32_t error;  // LastError given on failure
  std::uint64_t at_ms;  // virtual time
  bool main_thread;
};

// Virtual time readable from any thread: the main thread reads the world (and keeps
// a copy), other threads get the copy, since the world itself is not thread-safe.
class SimTimeMirror {
 public:
  explicit SimTimeMirror(SimWorld& world)
      : world_(world), main_thread_(std::this_thread::get_id()) {}
  bool OnMainThread() const { return std::this_thread::get_id() == main_thread_; }
  std::uint64_t Now() {
    if (!OnMainThread()) return copy_.load();
    const std::uint64_t now = world_.Now();
    copy_.store(now);
    return now;
  }

 private:
  SimWorld& world_;
  std::thread::id main_thread_;
  std::atomic<std::uint64_t> copy_{0};
};

class SimSerialPort {
 public:
  std::size_t Index() const { return index_; }
  std::string Name() const;

  // Not owned; nullptr detaches.
  void SetFarEnd(SimFarEnd* far_end);

  // Bytes arriving from the line, now. Dropped while the carrier is down. On the main
  // thread, returns only once a reader serving the port has taken them.
  void Deliver(const std::string& bytes);
  void DeliverAt(std::uint64_t at_ms, std::string bytes);
  // In pieces of `chunk` bytes, the first now and then one every interval_ms (0: all
  // now, each still settled on its own so that the reader sees them apart).
  void DeliverChunked(const std::string& bytes, std::size_t chunk, std::uint64_t interval_ms);

  // The call's carrier; the telephony sim drives it. Losing it empties the input
  // queue; the far end is told of both edges.
  void SetCarrier(bool up);
  // A reader is about to start (the call just connected): deliveries wait for its
  // first read. Ignored when a read has been made since the carrier came up.
  void ExpectReader();

  // Replaces the setup (and resets the DCB to the setup's).
  void Configure(const SimPortSetup& setup);
  SimPortSetup Setup() const;

  void FailNextReads(unsigned count, std::uint32_t error = kErrorOperationAborted);
  void FailNextWaitReads(unsigned count, std::uint32_t error = kErrorOperationAborted);
  void ScriptWriteFault(SimWriteFault fault);

  bool Carrier() const;
  bool BreakOn() const;
  std::size_t Queued() const;
  SimDcb Dcb() const;
  std::optional<CommTimeouts> Timeouts() const;
  std::size_t OpenHandles() const;
  std::size_t DroppedDeliveries() const;

  std::vector<SimPortRecord> Records() const;
  std::vector<SimPortRecord> Records(SimPortOp op) const;
  std::size_t Count(SimPortOp op) const;
  std::string Written() const;   // every byte that went out, in order
  std::string ReadBack() const;  // every byte the reads returned, in order

 private:
  friend class SimSerialPorts;
  SimSerialPort(SimSerialPorts& owner, std::size_t index, const SimPortSetup& setup, bool carrier);

  SimSerialPorts& owner_;
  const std::size_t index_;

  // Everything below is guarded by owner_.mutex_.
  SimPortSetup setup_;
  SimDcb dcb_;
  std::optional<CommTimeouts> timeouts_;
  std::uint32_t in_queue_ = 0;
  std::uint32_t out_queue_ = 0;
  bool carrier_;
  bool break_on_ = false;
  SimFarEnd* far_end_ = nullptr;
  std::string queue_;
  std::size_t open_handles_ = 0;
  int commprop_calls_ = 0;
  unsigned read_faults_ = 0;
  std::uint32_t read_fault_error_ = 0;
  unsigned wait_read_faults_ = 0;
  std::uint32_t wait_read_fault_error_ = 0;
  std::vector<SimWriteFault> write_faults_;
  std::size_t dropped_deliveries_ = 0;

  // Reader tracking for the settling of deliveries (see SimSerialPorts::SettlePort).
  PortHandle last_read_handle_ = kNoPort;  // open handle the last read used
  bool read_since_carrier_ = false;
  bool reader_expected_ = false;
  bool handing_on_ = false;  // the last read returned bytes; no read since
  bool unsettled_ = false;   // a delivery landed that no settle has seen through

  struct PendingRead {
    std::uint8_t* bytes;
    std::size_t count;
  };
  std::optional<PendingRead> pending_read_;
  struct PendingWrite {
    std::size_t written;
    bool fail;
    std::uint32_t error;
  };
  std::optional<PendingWrite> pending_write_;

  std::vector<SimPortRecord> records_;
};

class SimSerialPorts final : public SerialPorts {
 public:
  // Registers a settle hook with the world. Construct on the main thread.
  SimSerialPorts(SimWorld& world, WindowSystem& windows);
  ~SimSerialPorts() override;

  // A standalone port has its carrier up; the telephony sim adds its own ports down.
  SimSerialPort& AddPort(const SimPortSetup& setup = {}, bool carrier = true);
  SimSerialPort& Port(std::size_t index);
  std::size_t PortCount() const;

  // A new handle to the port, as lineGetID hands out. Any thread.
  PortHandle OpenHandle(SimSerialPort& port);
  bool IsOpen(PortHandle handle) const;

  // Faults of the program, which tests assert to be zero.
  std::size_t DoubleCloses() const;       // CloseHandle on an already closed handle
  std::size_t InvalidHandleUses() const;  // any operation on a closed or unknown handle
  std::size_t SettleTimeouts() const;     // settles given up (nobody took the bytes)

  void SetSettleLimit(std::chrono::milliseconds limit);
  void SetReadBlock(std::chrono::milliseconds block);

  // Virtual time from any thread (the copy kept by the main thread elsewhere).
  std::uint64_t Now() { return time_.Now(); }
  bool OnMainThread() const { return time_.OnMainThread(); }
  // Main thread: waits until each served port's reader has taken what was delivered.
  void Settle();

  bool GetCommProperties(PortHandle port, Record& properties) override;
  bool SetupComm(PortHandle port, std::uint32_t in_queue, std::uint32_t out_queue) override;
  bool GetCommConfig(PortHandle port, Record& config, std::uint32_t* size) override;
  bool SetCommConfig(PortHandle port, const Record& config, std::uint32_t size) override;
  bool SetCommTimeouts(PortHandle port, const CommTimeouts& timeouts) override;
  IoStatus Read(PortHandle port, void* bytes, std::size_t count, std::size_t* got,
                IoMode mode) override;
  bool WaitRead(PortHandle port, std::size_t* got) override;
  // Nothing to do: a read waits read_block at most. A closed handle is no misuse
  // here, since the stop may come just after the reader closed its own.
  bool CancelRead(PortHandle port) override;
  IoStatus Write(PortHandle port, const void* bytes, std::size_t count, std::size_t* written,
                 IoMode mode) override;
  bool WaitWrite(PortHandle port, std::size_t* written) override;
  bool ClearCommError(PortHandle port) override;
  bool PurgeComm(PortHandle port, std::uint32_t flags) override;
  bool FlushFileBuffers(PortHandle port) override;
  bool SetCommBreak(PortHandle port) override;
  bool ClearCommBreak(PortHandle port) override;
  bool CloseHandle(PortHandle port) override;
  std::uint32_t LastError() override;
  std::string SystemMessage(std::uint32_t code) override;

 private:
  friend class SimSerialPort;
  struct HandleEntry {
    SimSerialPort* port;
    bool open;
  };
  using Lock = std::unique_lock<std::mutex>;

  // Under mutex_: the open handle's port, or nullptr after counting the misuse and
  // setting ERROR_INVALID_HANDLE.
  SimSerialPort* FindOpen(PortHandle handle);
  void SetError(std::uint32_t code);
  void AddRecord(SimSerialPort& port, SimPortRecord record);
  SimPortRecord MakeRecord(SimPortOp op, PortHandle handle, bool ok = true);
  bool Served(const SimSerialPort& port) const;
  void NoteReadEntry(SimSerialPort& port, PortHandle handle);
  std::size_t TakeQueued(SimSerialPort& port, PortHandle handle, std::uint8_t* bytes,
                         std::size_t count);
  void SettlePort(Lock& lock, SimSerialPort& port);
  bool SetBreak(PortHandle handle, bool on);

  SimWorld& world_;
  WindowSystem& windows_;
  SimTimeMirror time_;
  // Scheduled actions and the settle hook outlive this object in the world: they
  // check this token first.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // deliveries, reads, closes: every waiter re-tests
  std::vector<std::unique_ptr<SimSerialPort>> ports_;
  std::map<PortHandle, HandleEntry> handles_;
  PortHandle next_handle_ = 0x7100;
  std::map<std::thread::id, std::uint32_t> last_errors_;
  std::size_t double_closes_ = 0;
  std::size_t invalid_uses_ = 0;
  std::size_t settle_timeouts_ = 0;
  std::chrono::milliseconds settle_limit_{1000};
  std::chrono::milliseconds read_block_{3};
};

}  // namespace korval::platform::sim
