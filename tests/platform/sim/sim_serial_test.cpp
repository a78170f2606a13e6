#include "platform/sim/sim_serial.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_window_system.h"
#include "platform/sim/sim_world.h"

namespace korval::platform::sim {
namespace {

using namespace std::chrono_literals;

// A reading loop like the program's: 200-byte reads, every chunk kept apart.
class Reader {
 public:
  Reader(SerialPorts& ports, PortHandle handle, IoMode mode = IoMode::kPlain)
      : ports_(ports), handle_(handle), mode_(mode), thread_([this] { Loop(); }) {}
  ~Reader() { Stop(); }
  void Stop() {
    run_ = false;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::string> Chunks() const {
    std::lock_guard lock(mutex_);
    return chunks_;
  }
  std::string Text() const {
    std::string text;
    for (const std::string& chunk : Chunks()) text += chunk;
    return text;
  }
  int Failures() const { return failures_; }
  int Pendings() const { return pendings_; }

 private:
  void Loop() {
    char buffer[200];
    while (run_) {
      std::size_t got = 0;
      IoStatus status = ports_.Read(handle_, buffer, sizeof buffer, &got, mode_);
      if (status == IoStatus::kPending) {
        ++pendings_;
        status = ports_.WaitRead(handle_, &got) ? IoStatus::kDone : IoStatus::kFailed;
      }
      if (status == IoStatus::kFailed) {
        ++failures_;
        ports_.ClearCommError(handle_);
      } else if (got > 0) {
        std::lock_guard lock(mutex_);
        chunks_.emplace_back(buffer, got);
      }
    }
  }

  SerialPorts& ports_;
  PortHandle handle_;
  IoMode mode_;
  std::atomic<bool> run_{true};
  std::atomic<int> failures_{0};
  std::atomic<int> pendings_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> chunks_;
  std::thread thread_;
};

class SimSerialTest : public ::testing::Test {
 protected:
  void PumpUntil(std::uint64_t at_ms, const std::function<void()>& after_each = {}) {
    while (world.Now() < at_ms) {
      windows.PumpMessage();
      if (after_each) after_each();
    }
  }

  SimWorld world;
  SimWindowSystem windows{world};
  SimSerialPorts serial{world, windows};
  SimSerialPort& port = serial.AddPort();
  PortHandle handle = serial.OpenHandle(port);
};

TEST_F(SimSerialTest, DeliveriesReachTheReaderBeforeTheMainThreadGoesOn) {
  Reader reader(serial, handle);
  port.ExpectReader();
  struct Delivery {
    std::uint64_t at_ms;
    std::string bytes;
  };
  const std::vector<Delivery> deliveries = {
      {100, "TRANS"}, {100, "PAC"}, {250, "\r\n*"}, {251, "COM"}, {400, std::string(1, '\0')}};
  for (const Delivery& d : deliveries) port.DeliverAt(d.at_ms, d.bytes);

  // After every turn, the reader holds exactly what has landed so far: no later.
  PumpUntil(500, [&] {
    std::string landed;
    for (const Delivery& d : deliveries) {
      if (d.at_ms <= world.Now()) landed += d.bytes;
    }
    ASSERT_EQ(reader.Text(), landed) << "at " << world.Now() << " ms";
  });

  EXPECT_EQ(reader.Chunks(),
            (std::vector<std::string>{"TRANS", "PAC", "\r\n*", "COM", std::string(1, '\0')}));
  std::vector<std::uint64_t> read_times;
  for (const SimPortRecord& r : port.Records(SimPortOp::kRead)) read_times.push_back(r.at_ms);
  EXPECT_EQ(read_times, (std::vector<std::uint64_t>{100, 100, 250, 251, 400}));
  EXPECT_EQ(serial.SettleTimeouts(), 0u);
}

struct ChunkCase {
  const char* name;
  std::size_t size;
  std::size_t chunk;  // 0: one Deliver
  std::uint64_t interval_ms;
  std::vector<std::size_t> reads;
  std::vector<std::uint64_t> read_times;
};

class SimSerialChunkTest : public SimSerialTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(SimSerialChunkTest, ReadsTakeAtMostTheAskedCountInDeliveryOrder) {
  const ChunkCase& c = GetParam();
  std::string bytes;
  for (std::size_t i = 0; i < c.size; ++i) bytes += static_cast<char>('a' + i % 26);
  Reader reader(serial, handle);
  port.ExpectReader();

  world.At(10, [&] {
    if (c.chunk == 0) {
      port.Deliver(bytes);
    } else {
      port.DeliverChunked(bytes, c.chunk, c.interval_ms);
    }
  });
  PumpUntil(200);

  std::vector<std::size_t> sizes;
  for (const std::string& chunk : reader.Chunks()) sizes.push_back(chunk.size());
  EXPECT_EQ(sizes, c.reads);
  EXPECT_EQ(reader.Text(), bytes);
  std::vector<std::uint64_t> times;
  for (const SimPortRecord& r : port.Records(SimPortOp::kRead)) times.push_back(r.at_ms);
  EXPECT_EQ(times, c.read_times);
  EXPECT_EQ(serial.SettleTimeouts(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimSerialChunkTest,
    ::testing::Values(ChunkCase{"Burst", 450, 0, 0, {200, 200, 50}, {10, 10, 10}},
                      ChunkCase{"ChunksAtOnce", 300, 100, 0, {100, 100, 100}, {10, 10, 10}},
                      ChunkCase{"ChunksSpaced", 250, 100, 20, {100, 100, 50}, {10, 30, 50}},
                      ChunkCase{"BigChunks", 500, 250, 5, {200, 50, 200, 50}, {10, 10, 15, 15}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimSerialTest, FailedReadsSetTheReadersLastErrorAndLoseNothing) {
  port.Deliver("abc");  // nobody has read yet: lands without waiting
  port.FailNextReads(2, kErrorOperationAborted);
  char buffer[8];
  std::size_t got = 99;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(serial.Read(handle, buffer, sizeof buffer, &got, IoMode::kPlain), IoStatus::kFailed);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(serial.LastError(), kErrorOperationAborted);
  }
  std::uint32_t other_thread_error = 1;
  std::thread([&] { other_thread_error = serial.LastError(); }).join();
  EXPECT_EQ(other_thread_error, 0u);

  EXPECT_EQ(serial.Read(handle, buffer, sizeof buffer, &got, IoMode::kPlain), IoStatus::kDone);
  EXPECT_EQ(std::string(buffer, got), "abc");
  std::vector<bool> outcomes;
  for (const SimPortRecord& r : port.Records(SimPortOp::kRead)) outcomes.push_back(r.ok);
  EXPECT_EQ(outcomes, (std::vector<bool>{false, false, true}));
}

TEST_F(SimSerialTest, AReaderThatFailsGoesOnReading) {
  port.FailNextReads(3);
  Reader reader(serial, handle);
  port.ExpectReader();
  port.DeliverAt(50, "OK");
  PumpUntil(60);
  EXPECT_EQ(reader.Text(), "OK");
  EXPECT_EQ(reader.Failures(), 3);
  EXPECT_EQ(port.Count(SimPortOp::kClearCommError), 3u);
}

TEST_F(SimSerialTest, OverlappedReadsCompleteThroughWaitRead) {
  SimPortSetup setup;
  setup.overlapped_read_pending = true;
  port.Configure(setup);
  port.FailNextWaitReads(1);
  Reader reader(serial, handle, IoMode::kOverlapped);
  // Bounded wait until the reader is past its failed wait and pending again.
  for (int i = 0; i < 5000 && reader.Pendings() < 2; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_GE(reader.Pendings(), 2);
  port.DeliverAt(20, "TRANSPAC");
  PumpUntil(30);
  EXPECT_EQ(reader.Text(), "TRANSPAC");
  EXPECT_EQ(reader.Failures(), 1);
  EXPECT_EQ(serial.SettleTimeouts(), 0u);
}

TEST_F(SimSerialTest, AnEmptyQueueReadWaitsBrieflyAndADeliveryEndsTheWait) {
  char buffer[8];
  std::size_t got = 99;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(serial.Read(handle, buffer, sizeof buffer, &got, IoMode::kPlain), IoStatus::kDone);
  EXPECT_EQ(got, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);

  // A long block: only a delivery or a close can end these reads in time.
  serial.SetReadBlock(30s);
  std::size_t first = 0;
  IoStatus second = IoStatus::kDone;
  std::uint32_t second_error = 0;
  std::thread reader([&] {
    serial.Read(handle, buffer, sizeof buffer, &first, IoMode::kPlain);
    std::size_t n = 0;
    second = serial.Read(handle, buffer, sizeof buffer, &n, IoMode::kPlain);
    second_error = serial.LastError();
  });
  std::this_thread::sleep_for(20ms);  // lets the reader block first
  port.Deliver("x");                  // returns once the reader has taken it
  ASSERT_TRUE(serial.CloseHandle(handle));
  reader.join();
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, IoStatus::kFailed);
  EXPECT_EQ(second_error, kErrorOperationAborted);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(serial.SettleTimeouts(), 0u);
}

// A port nobody reads must not hold the main thread: at most one bounded wait.
TEST_F(SimSerialTest, AnUnservedPortCostsAtMostOneBoundedWait) {
  serial.SetSettleLimit(20ms);
  port.Deliver("before any read");
  EXPECT_EQ(serial.SettleTimeouts(), 0u);

  char buffer[200];
  std::size_t got = 0;
  serial.Read(handle, buffer, sizeof buffer, &got, IoMode::kPlain);  // then the reader stops
  port.Deliver("one");
  port.Deliver("two");
  world.AdvanceIdle(1);
  EXPECT_EQ(serial.SettleTimeouts(), 1u);

  serial.Read(handle, buffer, sizeof buffer, &got, IoMode::kPlain);
  ASSERT_TRUE(serial.CloseHandle(handle));  // closing the read handle ends the serving
  port.Deliver("three");
  EXPECT_EQ(serial.SettleTimeouts(), 1u);
  EXPECT_EQ(port.Queued(), std::string("three").size());
}

TEST_F(SimSerialTest, AClosedHandleFailsEveryOperationAndChangesNothing) {
  Record record(144);
  std::uint32_t size = 100;
  char buffer[8] = {};
  std::size_t count = 0;
  const CommTimeouts timeouts{kMaxDword, 0, 0, 0, 0};
  using Op = std::function<bool(PortHandle)>;
  const std::vector<std::pair<const char*, Op>> ops = {
      {"GetCommProperties", [&](PortHandle h) { return serial.GetCommProperties(h, record); }},
      {"SetupComm", [&](PortHandle h) { return serial.SetupComm(h, 4096, 4096); }},
      {"GetCommConfig", [&](PortHandle h) { return serial.GetCommConfig(h, record, &size); }},
      {"SetCommConfig", [&](PortHandle h) { return serial.SetCommConfig(h, record, 100); }},
      {"SetCommTimeouts", [&](PortHandle h) { return serial.SetCommTimeouts(h, timeouts); }},
      {"Read",
       [&](PortHandle h) {
         return serial.Read(h, buffer, 8, &count, IoMode::kPlain) != IoStatus::kFailed;
       }},
      {"WaitRead", [&](PortHandle h) { return serial.WaitRead(h, &count); }},
      {"Write",
       [&](PortHandle h) {
         return serial.Write(h, "abc", 3, &count, IoMode::kPlain) != IoStatus::kFailed;
       }},
      {"WaitWrite", [&](PortHandle h) { return serial.WaitWrite(h, &count); }},
      {"ClearCommError", [&](PortHandle h) { return serial.ClearCommError(h); }},
      {"PurgeComm", [&](PortHandle h) { return serial.PurgeComm(h, kPurgeRxClear); }},
      {"FlushFileBuffers", [&](PortHandle h) { return serial.FlushFileBuffers(h); }},
      {"SetCommBreak", [&](PortHandle h) { return serial.SetCommBreak(h); }},
      {"ClearCommBreak", [&](PortHandle h) { return serial.ClearCommBreak(h); }},
      {"CloseHandle", [&](PortHandle h) { return serial.CloseHandle(h); }},
  };
  port.Deliver("kept");
  const PortHandle other = serial.OpenHandle(port);
  ASSERT_TRUE(serial.CloseHandle(handle));
  const std::size_t records = port.Records().size();
  for (const PortHandle bad : {handle, PortHandle{0x1234}}) {
    for (const auto& [name, op] : ops) {
      EXPECT_FALSE(op(bad)) << name;
      EXPECT_EQ(serial.LastError(), kErrorInvalidHandle) << name;
    }
  }
  EXPECT_EQ(port.Records().size(), records);
  EXPECT_EQ(port.Queued(), 4u);
  EXPECT_FALSE(port.BreakOn());
  EXPECT_EQ(port.OpenHandles(), 1u);
  EXPECT_TRUE(serial.IsOpen(other));
  EXPECT_EQ(serial.DoubleCloses(), 1u);  // only the closed handle, not the unknown one
  EXPECT_EQ(serial.InvalidHandleUses(), 2 * ops.size());
}

class RecordingFarEnd : public SimFarEnd {
 public:
  void OnWrite(SimSerialPort&, const std::string& bytes, std::uint64_t at_ms) override {
    log.push_back("write " + bytes + " @" + std::to_string(at_ms));
  }
  void OnBreak(SimSerialPort&, bool on, std::uint64_t at_ms) override {
    log.push_back(std::string(on ? "break on" : "break off") + " @" + std::to_string(at_ms));
  }
  void OnConnect(SimSerialPort&, std::uint64_t at_ms) override {
    log.push_back("connect @" + std::to_string(at_ms));
  }
  void OnHangUp(SimSerialPort&, std::uint64_t at_ms) override {
    log.push_back("hang-up @" + std::to_string(at_ms));
  }
  std::vector<std::string> log;
};

struct WriteCase {
  const char* name;
  std::optional<SimWriteFault> fault;
  IoMode mode;
  bool write_pending;
  IoStatus status;
  std::size_t written;  // after Write, or after WaitWrite when pending
  bool wait_ok;
  std::uint32_t error;  // LastError after the failing step
  std::string far_end_saw;
};

class SimSerialWriteTest : public SimSerialTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(SimSerialWriteTest, OnlyTheBytesThatWentOutReachTheFarEnd) {
  const WriteCase& c = GetParam();
  RecordingFarEnd far_end;
  port.SetFarEnd(&far_end);
  SimPortSetup setup;
  setup.overlapped_write_pending = c.write_pending;
  port.Configure(setup);
  if (c.fault) port.ScriptWriteFault(*c.fault);
  world.At(70, [] {});
  world.AdvanceIdle(100);

  std::size_t written = 99;
  EXPECT_EQ(serial.Write(handle, "PROF7\r", 6, &written, c.mode), c.status);
  if (c.status == IoStatus::kPending) {
    EXPECT_EQ(serial.LastError(), kErrorIoPending);
    EXPECT_EQ(serial.WaitWrite(handle, &written), c.wait_ok);
  }
  EXPECT_EQ(written, c.written);
  if (c.error != 0) {
    EXPECT_EQ(serial.LastError(), c.error);
  }
  const std::vector<std::string> expected =
      c.far_end_saw.empty() ? std::vector<std::string>{}
                            : std::vector<std::string>{"write " + c.far_end_saw + " @70"};
  EXPECT_EQ(far_end.log, expected);
  EXPECT_EQ(port.Written(), c.far_end_saw);
  // The next write is not affected.
  EXPECT_EQ(serial.Write(handle, "x", 1, &written, IoMode::kPlain), IoStatus::kDone);
}

using Kind = SimWriteFault::Kind;
INSTANTIATE_TEST_SUITE_P(
    Table, SimSerialWriteTest,
    ::testing::Values(
        WriteCase{"Plain", {}, IoMode::kPlain, false, IoStatus::kDone, 6, true, 0, "PROF7\r"},
        WriteCase{
            "Pending", {}, IoMode::kOverlapped, true, IoStatus::kPending, 6, true, 0, "PROF7\r"},
        WriteCase{"Short", SimWriteFault{Kind::kShort, 2, 0}, IoMode::kPlain, false,
                  IoStatus::kDone, 2, true, 0, "PR"},
        WriteCase{"Fails", SimWriteFault{Kind::kFail, 0, kErrorGenFailure}, IoMode::kOverlapped,
                  false, IoStatus::kFailed, 0, true, kErrorGenFailure, ""},
        WriteCase{"WaitFails", SimWriteFault{Kind::kWaitFail, 3, kErrorOperationAborted},
                  IoMode::kOverlapped, false, IoStatus::kPending, 3, false, kErrorOperationAborted,
                  "PRO"},
        WriteCase{"WaitFailPlain", SimWriteFault{Kind::kWaitFail, 0, kErrorGenFailure},
                  IoMode::kPlain, false, IoStatus::kFailed, 0, true, kErrorGenFailure, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimSerialTest, LosingTheCarrierEndsWhatTheLineBrings) {
  RecordingFarEnd far_end;
  port.SetFarEnd(&far_end);
  port.Deliver("unread");
  serial.SetCommBreak(handle);
  world.At(40, [&] { port.SetCarrier(false); });
  port.DeliverAt(50, "too late");
  world.AdvanceIdle(100);
  world.AdvanceIdle(100);

  char buffer[16];
  std::size_t got = 99;
  EXPECT_EQ(serial.Read(handle, buffer, sizeof buffer, &got, IoMode::kPlain), IoStatus::kDone);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(port.DroppedDeliveries(), 1u);
  serial.Write(handle, "OKF", 3, &got, IoMode::kPlain);  // nobody is there to hear it
  EXPECT_EQ(far_end.log, (std::vector<std::string>{"break on @0", "hang-up @40"}));
}

}  // namespace
}  // namespace korval::platform::sim
