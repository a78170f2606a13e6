// The serial back-end on real ports: under Wine, COM1 and COM2 are the two ends of a
// pseudo-terminal pair. The tests skip when they are not mapped. To map them:
//
//   socat pty,raw,echo=0,link=/tmp/korval-com1 pty,raw,echo=0,link=/tmp/korval-com2 &
//   wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d /tmp/korval-com1 /f
//   wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /d /tmp/korval-com2 /f
//   wineserver -k   # the dosdevices links are rewritten at the next start
//   wine korval_win32_tests.exe --gtest_filter='Win32Serial*'

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "line/call_control.h"
#include "line/port_handle.h"
#include "link/read_thread.h"
#include "link/receive_busy.h"
#include "win32_line_platform.h"
#include "win32_test_support.h"

namespace korval::platform::win32 {
namespace {

PortHandle AsPort(HANDLE handle) { return reinterpret_cast<PortHandle>(handle); }

HANDLE OpenPort(const char* name) {
  return CreateFileA((std::string("\\\\.\\") + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// Raw 8N1 without flow control, through the back-end's own configuration calls.
bool MakeRaw(SerialPorts& serial, HANDLE port) {
  Record config(kCommConfigFirstSize);
  std::uint32_t size = config.size();
  config.Set32(field::kConfigSize, size);
  if (!serial.GetCommConfig(AsPort(port), config, &size)) return false;
  DCB& dcb = *reinterpret_cast<DCB*>(config.data() + offsetof(COMMCONFIG, dcb));
  dcb.fBinary = 1;
  dcb.fParity = dcb.fOutX = dcb.fInX = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = 0;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return serial.SetCommConfig(AsPort(port), config, size) &&
         serial.SetCommTimeouts(AsPort(port), {kMaxDword, 0, 0, 0, 0});
}

std::size_t ReadOnce(SerialPorts& serial, HANDLE port, char* bytes, std::size_t count, IoMode mode,
                     bool* failed) {
  std::size_t got = 0;
  IoStatus status = serial.Read(AsPort(port), bytes, count, &got, mode);
  if (status == IoStatus::kPending && !serial.WaitRead(AsPort(port), &got)) {
    status = IoStatus::kFailed;
  }
  *failed = status == IoStatus::kFailed;
  return got;
}

// Reads until want bytes came or the bound passed.
std::string ReadUpTo(SerialPorts& serial, HANDLE port, std::size_t want, DWORD bound_ms) {
  std::string text;
  const DWORD start = GetTickCount();
  while (text.size() < want && GetTickCount() - start < bound_ms) {
    char chunk[200];
    bool failed = false;
    text.append(chunk, ReadOnce(serial, port, chunk, sizeof chunk, IoMode::kOverlapped, &failed));
  }
  return text;
}

bool WriteAll(SerialPorts& serial, HANDLE port, const std::string& text) {
  std::size_t written = 0;
  IoStatus status =
      serial.Write(AsPort(port), text.data(), text.size(), &written, IoMode::kOverlapped);
  if (status == IoStatus::kPending && !serial.WaitWrite(AsPort(port), &written)) return false;
  return status != IoStatus::kFailed && written == text.size();
}

class Win32SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::IsMappedPort("COM1") || !test_support::IsMappedPort("COM2")) {
      GTEST_SKIP() << "COM1 and COM2 are not mapped to a pseudo-terminal pair";
    }
    com1_ = OpenPort("COM1");
    ASSERT_NE(INVALID_HANDLE_VALUE, com1_);
    com2_ = OpenPort("COM2");
    ASSERT_NE(INVALID_HANDLE_VALUE, com2_) << "COM2 must be COM1's peer";
    ASSERT_TRUE(MakeRaw(serial_, com1_));
    ASSERT_TRUE(MakeRaw(serial_, com2_));
    serial_.PurgeComm(AsPort(com1_), PURGE_RXCLEAR | PURGE_TXCLEAR);
    serial_.PurgeComm(AsPort(com2_), PURGE_RXCLEAR | PURGE_TXCLEAR);
  }
  void TearDown() override {
    for (HANDLE port : {com1_, com2_}) {
      if (port != INVALID_HANDLE_VALUE) serial_.CloseHandle(AsPort(port));
    }
  }

  Win32SerialPorts serial_;
  HANDLE com1_ = INVALID_HANDLE_VALUE;
  HANDLE com2_ = INVALID_HANDLE_VALUE;
};

TEST_F(Win32SerialTest, CarriesEveryByteValueBothWays) {
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
  for (auto [from, to] : {std::pair{com1_, com2_}, std::pair{com2_, com1_}}) {
    ASSERT_TRUE(WriteAll(serial_, from, all));
    EXPECT_EQ(all, ReadUpTo(serial_, to, all.size(), 5000));
  }
}

// An idle line: a read waits for data rather than spin, and ends empty, at once
// when the stop cancels it (even a cancel that came before the read).
TEST_F(Win32SerialTest, IdleReadsWaitAndEndEmptyOnCancel) {
  constexpr DWORD kWaitMs = Win32SerialPorts::kReadWaitMs;
  struct Row {
    IoMode mode;
    int cancel_after_ms;  // -1: no cancel
  };
  for (const Row row :
       {Row{IoMode::kOverlapped, -1}, Row{IoMode::kPlain, -1}, Row{IoMode::kOverlapped, 0},
        Row{IoMode::kOverlapped, 50}, Row{IoMode::kPlain, 50}}) {
    if (row.cancel_after_ms == 0) {
      ASSERT_TRUE(serial_.CancelRead(AsPort(com1_)));
    }
    std::thread stopper;
    if (row.cancel_after_ms > 0) {
      stopper = std::thread([this, row] {
        Sleep(static_cast<DWORD>(row.cancel_after_ms));
        serial_.CancelRead(AsPort(com1_));
      });
    }
    const DWORD start = GetTickCount();
    char chunk[200];
    bool failed = false;
    EXPECT_EQ(0u, ReadOnce(serial_, com1_, chunk, sizeof chunk, row.mode, &failed));
    const DWORD took = GetTickCount() - start;
    if (stopper.joinable()) stopper.join();
    EXPECT_FALSE(failed) << "cancel after " << row.cancel_after_ms << " ms: error "
                         << serial_.LastError();
    if (row.cancel_after_ms < 0) {
      EXPECT_GE(took, kWaitMs / 2) << "the read does not wait";
    } else {
      EXPECT_LT(took, kWaitMs / 2) << "the cancel did not end the read";
    }
  }
}

// lineGetID's handles, made from COM1 as a modem's provider would.
class PortGivingTelephony final : public Win32Telephony {
 public:
  explicit PortGivingTelephony(HANDLE port) : port_(port) {}
  std::int32_t lineGetID(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, Record& id,
                         const std::string&) override {
    const std::string name("COM1\0", 5);
    id.Set32(field::kNeededSize, kVarStringSize + 4 + name.size());
    if (id.TotalSize() < id.NeededSize()) return 0;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), port_, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      return static_cast<std::int32_t>(0x80000048);  // LINEERR_OPERATIONFAILED
    }
    handed_out = copy;
    id.Set32(field::kVarStringSize, 4 + name.size());
    id.Set32(field::kVarStringOffset, kVarStringSize);
    id.Set32(kVarStringSize, static_cast<std::uint32_t>(AsPort(copy)));
    id.PutBytes(kVarStringSize + 4, name);
    return 0;
  }
  HANDLE handed_out = nullptr;

 private:
  HANDLE port_;
};

bool BufferHolds(Process& process, const std::string& text) {
  link::ReceiveBusySection section(process);
  return process.receive.buffer.find(text) != std::string::npos;
}

// The program's own read thread on a real port: it hands on what comes, and once the
// link is cleared it ends within a bound though nothing more comes (the peer has even
// gone), closing the handle it took.
TEST_F(Win32SerialTest, ReadThreadServesThePortAndStopsWhenTheLinkIsCleared) {
  PortGivingTelephony telephony(com1_);
  testing::LinePlatform line(telephony, serial_);
  Process& process = line.process;
  Record properties(kCommPropFirstSize);
  properties.Set32(0, 0);
  properties.Set16(field::kPropPacketLength, kCommPropFirstSize);
  ASSERT_TRUE(serial_.GetCommProperties(AsPort(com1_), properties));
  ASSERT_TRUE(properties.Get32(field::kPropProvCapabilities) & kPcfIntTimeouts);
  process.line.port_properties = properties;
  process.job.is_windows_nt = true;
  process.call.link_active = true;
  auto reader = process.os.threads.Start([&process] {
    return link::ReadThread(process, {&line::GetPortHandle, &line::OnPortLost});
  });
  ASSERT_TRUE(reader);

  ASSERT_TRUE(WriteAll(serial_, com2_, "TRANSPAC\r"));
  const DWORD start = GetTickCount();
  while (!BufferHolds(process, "TRANSPAC") && GetTickCount() - start < 5000) {
    process.os.windows.PumpMessage();
  }
  EXPECT_TRUE(BufferHolds(process, "TRANSPAC"));

  ASSERT_TRUE(serial_.CloseHandle(AsPort(com2_)));
  com2_ = INVALID_HANDLE_VALUE;
  // As the real stop does: a read waiting on an idle port ends at the cancel.
  process.call.link_active = false;
  line::CancelPortReads(process);
  ASSERT_TRUE(reader->WaitForExit(2000)) << "the read thread did not see the stop";
  EXPECT_EQ(0u, reader->ExitCode());
  EXPECT_FALSE(process.line.port.open());
  EXPECT_FALSE(serial_.CloseHandle(AsPort(telephony.handed_out)));
  EXPECT_EQ(ERROR_INVALID_HANDLE, serial_.LastError());
}

// Closed handles, values that never were handles, and handles to other objects: each
// call fails with ERROR_INVALID_HANDLE and leaves the object alone.
TEST_F(Win32SerialTest, RefusesWhatIsNotAnOpenPort) {
  HANDLE copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), com1_, GetCurrentProcess(), &copy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  ASSERT_TRUE(serial_.ClearCommError(AsPort(copy)));
  ASSERT_TRUE(serial_.CloseHandle(AsPort(copy)));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const PortHandle cases[] = {AsPort(copy), 0x7FFFFFF0, kNoPort, AsPort(INVALID_HANDLE_VALUE),
                              AsPort(event)};
  for (PortHandle port : cases) {
    SCOPED_TRACE(port);
    char chunk[8] = {};
    std::size_t count = 99;
    Record properties(kCommPropFirstSize);
    properties.Set16(field::kPropPacketLength, kCommPropFirstSize);
    const bool refused[] = {
        serial_.Read(port, chunk, sizeof chunk, &count, IoMode::kOverlapped) == IoStatus::kFailed,
        !serial_.WaitRead(port, &count),
        serial_.Write(port, chunk, sizeof chunk, &count, IoMode::kOverlapped) == IoStatus::kFailed,
        !serial_.GetCommProperties(port, properties),
        !serial_.SetCommTimeouts(port, {kMaxDword, 0, 0, 0, 0}),
        !serial_.ClearCommError(port),
        !serial_.PurgeComm(port, kPurgeRxClear),
        !serial_.FlushFileBuffers(port),
        !serial_.SetCommBreak(port),
        !serial_.CloseHandle(port),
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_TRUE(refused[i]) << i;
    EXPECT_EQ(ERROR_INVALID_HANDLE, serial_.LastError());
    EXPECT_EQ(0u, count);
  }
  EXPECT_TRUE(SetEvent(event)) << "the event was closed";
  CloseHandle(event);
}

}  // namespace
}  // namespace korval::platform::win32
