#include "platform/posix/modem_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace korval::platform::posix {
namespace {

// Polls condition every few milliseconds, for at most bound_ms.
bool Eventually(const std::function<bool()>& condition, int bound_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::poll(nullptr, 0, 2);
  }
  return true;
}

// Reads from fd what comes within bound_ms, until count bytes have come.
std::string ReadFd(int fd, std::size_t count, int bound_ms = 5000) {
  std::string got;
  Eventually(
      [&] {
        char buffer[4096];
        pollfd entry = {fd, POLLIN, 0};
        if (::poll(&entry, 1, 5) == 1 && (entry.revents & POLLIN)) {
          const ssize_t n = ::read(fd, buffer, sizeof buffer);
          if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        }
        return got.size() >= count;
      },
      bound_ms);
  return got;
}

class ModemPortTest : public testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master_, name, sizeof name), 0);
    // Keeps the pair alive and lets the test look at the settings from outside.
    keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(keeper_, 0);
    PortOpenResult result;
    device_ = ModemDevice::Open(name, {}, &result);
    ASSERT_TRUE(device_) << static_cast<int>(result.status);
    struct termios settings;
    ASSERT_TRUE(device_->GetSettings(&settings));
    MakeModemSettings(settings, B9600);
    ASSERT_TRUE(device_->SetSettings(settings));
    port_ = ports_.Open(device_);
  }
  void TearDown() override {
    ports_.Forget(device_.get());
    device_.reset();
    ::close(keeper_);
    if (master_ >= 0) ::close(master_);
  }

  // What a read through the port gives within the bound, until count bytes.
  std::string ReadPort(PortHandle port, std::size_t count) {
    return ReadPortOf(ports_, port, count);
  }
  static std::string ReadPortOf(ModemPorts& ports, PortHandle port, std::size_t count) {
    std::string got;
    Eventually([&] {
      char buffer[256];
      std::size_t n = 0;
      if (ports.Read(port, buffer, sizeof buffer, &n, IoMode::kOverlapped) == IoStatus::kDone) {
        got.append(buffer, n);
      }
      return got.size() >= count;
    });
    return got;
  }

  void MasterWrite(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  int master_ = -1;
  int keeper_ = -1;
  std::shared_ptr<ModemDevice> device_;
  ModemPorts ports_;
  PortHandle port_ = kNoPort;
};

TEST_F(ModemPortTest, EveryHandleIsNewAndClosingOneLeavesThePortOpen) {
  const PortHandle other = ports_.Open(device_);
  EXPECT_NE(other, port_);
  EXPECT_NE(other, kNoPort);
  EXPECT_EQ(ports_.OpenHandles(), 2u);

  ASSERT_TRUE(ports_.CloseHandle(port_));
  EXPECT_FALSE(ports_.CloseHandle(port_));
  EXPECT_EQ(ports_.LastError(), kErrorInvalidHandle);

  std::size_t written = 0;
  ASSERT_EQ(ports_.Write(other, "AT\r", 3, &written, IoMode::kPlain), IoStatus::kDone);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(ReadFd(master_, 3), "AT\r");
}

TEST_F(ModemPortTest, EveryOperationOnAClosedHandleFailsAsInvalid) {
  const PortHandle closed = ports_.Open(device_);
  ASSERT_TRUE(ports_.CloseHandle(closed));
  char buffer[8];
  std::size_t count = 0;
  std::uint32_t size = 100;
  Record record(100);
  CommTimeouts timeouts{kMaxDword, 0, 0, 0, 0};
  const std::function<bool()> operations[] = {
      [&] { return ports_.GetCommProperties(closed, record); },
      [&] { return ports_.SetupComm(closed, 4096, 4096); },
      [&] { return ports_.GetCommConfig(closed, record, &size); },
      [&] { return ports_.SetCommConfig(closed, record, 100); },
      [&] { return ports_.SetCommTimeouts(closed, timeouts); },
      [&] { return ports_.Read(closed, buffer, 8, &count, IoMode::kPlain) == IoStatus::kDone; },
      [&] { return ports_.Write(closed, "x", 1, &count, IoMode::kPlain) == IoStatus::kDone; },
      [&] { return ports_.WaitRead(closed, &count); },
      [&] { return ports_.WaitWrite(closed, &count); },
      [&] { return ports_.ClearCommError(closed); },
      [&] { return ports_.PurgeComm(closed, kPurgeRxClear); },
      [&] { return ports_.FlushFileBuffers(closed); },
      [&] { return ports_.SetCommBreak(closed); },
      [&] { return ports_.ClearCommBreak(closed); },
      [&] { return ports_.CloseHandle(closed); },
  };
  int index = 0;
  for (const auto& operation : operations) {
    EXPECT_FALSE(operation()) << index;
    EXPECT_EQ(ports_.LastError(), kErrorInvalidHandle) << index;
    ++index;
  }
  // The port itself is untouched.
  MasterWrite("ok");
  EXPECT_EQ(ReadPort(port_, 2), "ok");
}

TEST_F(ModemPortTest, ForgettingTheDeviceEndsEveryHandle) {
  const PortHandle other = ports_.Open(device_);
  ports_.Forget(device_.get());
  EXPECT_EQ(ports_.OpenHandles(), 0u);
  for (const PortHandle handle : {port_, other}) {
    EXPECT_FALSE(ports_.ClearCommError(handle));
    EXPECT_EQ(ports_.LastError(), kErrorInvalidHandle);
  }
}

TEST_F(ModemPortTest, AReadTakesWhatIsThereOrComesBackEmpty) {
  char buffer[200];
  std::size_t got = 99;
  for (const IoMode mode : {IoMode::kPlain, IoMode::kOverlapped}) {
    EXPECT_EQ(ports_.Read(port_, buffer, sizeof buffer, &got, mode), IoStatus::kDone);
    EXPECT_EQ(got, 0u);
  }
  MasterWrite(std::string("EBCDIC \x11\x13\r\n\0end", 15));
  EXPECT_EQ(ReadPort(port_, 15), std::string("EBCDIC \x11\x13\r\n\0end", 15));
}

TEST_F(ModemPortTest, BytesThatCameWithConnectAreReadFirst) {
  MasterWrite("later");
  ASSERT_TRUE(Eventually([&] {
    pollfd entry = {device_->fd(), POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
  }));
  device_->Unread("first ");
  char buffer[4];
  std::size_t got = 0;
  ASSERT_EQ(ports_.Read(port_, buffer, sizeof buffer, &got, IoMode::kPlain), IoStatus::kDone);
  EXPECT_EQ(std::string(buffer, got), "firs");
  EXPECT_EQ(ReadPort(port_, 7), "t later");
}

TEST_F(ModemPortTest, TheModemsNoCarrierEndsTheCallAndIsNoData) {
  MasterWrite("statement\r\nNO CARRIER\r\nOK\r\n");
  EXPECT_EQ(ReadPort(port_, 9), "statement");
  // The pty may hand over the modem's words in a later read than the data.
  char buffer[16];
  std::size_t got = 0;
  std::string more;
  ASSERT_TRUE(Eventually([&] {
    if (ports_.Read(port_, buffer, sizeof buffer, &got, IoMode::kPlain) == IoStatus::kDone) {
      more.append(buffer, got);
    }
    return device_->hung_up();
  }));
  EXPECT_EQ(more, "");
  EXPECT_EQ(ports_.Read(port_, buffer, sizeof buffer, &got, IoMode::kPlain), IoStatus::kFailed);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(ports_.LastError(), kErrorIoDevice);
}

TEST_F(ModemPortTest, ALineEndThatIsNotTheModemsComesThroughAfterAMoment) {
  MasterWrite("COM\r\n");
  EXPECT_EQ(ReadPort(port_, 5), "COM\r\n");
  EXPECT_FALSE(device_->hung_up());
}

TEST_F(ModemPortTest, AWriteSendsEveryByteUnchangedEvenWhenThePortIsFull) {
  std::string bytes;
  for (int round = 0; round < 64; ++round) {
    for (int value = 0; value < 256; ++value) bytes += static_cast<char>(value);
  }
  std::string received;
  std::thread far_end([&] { received = ReadFd(master_, bytes.size(), 10000); });
  std::size_t written = 0;
  EXPECT_EQ(ports_.Write(port_, bytes.data(), bytes.size(), &written, IoMode::kOverlapped),
            IoStatus::kDone);
  EXPECT_EQ(written, bytes.size());
  EXPECT_TRUE(ports_.FlushFileBuffers(port_));
  far_end.join();
  EXPECT_EQ(received, bytes);
}

TEST_F(ModemPortTest, PurgeDropsWhatWaitsToBeRead) {
  MasterWrite("stale");
  ASSERT_TRUE(Eventually([&] {
    pollfd entry = {device_->fd(), POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
  }));
  device_->Unread("old");
  ASSERT_TRUE(ports_.PurgeComm(port_, kPurgeRxClear));
  char buffer[16];
  std::size_t got = 1;
  EXPECT_EQ(ports_.Read(port_, buffer, sizeof buffer, &got, IoMode::kPlain), IoStatus::kDone);
  EXPECT_EQ(got, 0u);
  MasterWrite("new");
  EXPECT_EQ(ReadPort(port_, 3), "new");
}

TEST_F(ModemPortTest, CommConfigShowsAndChangesThePortSettings) {
  std::uint32_t size = 50;
  Record config(100);
  EXPECT_FALSE(ports_.GetCommConfig(port_, config, &size));
  EXPECT_EQ(ports_.LastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(size, kCommConfigNeededSize);

  size = 100;
  ASSERT_TRUE(ports_.GetCommConfig(port_, config, &size));
  EXPECT_EQ(size, kCommConfigNeededSize);
  EXPECT_EQ(config.Get8(field::kConfigByteSize), 8);
  EXPECT_EQ(config.Get8(field::kConfigParity), 0);
  EXPECT_EQ(config.Get32(field::kConfigDcbFlags) & kDcbParityFlag, 0u);

  config.Set8(field::kConfigByteSize, 7);
  config.Set8(field::kConfigParity, dcb::kEvenParity);
  config.Set8(field::kConfigStopBits, dcb::kTwoStopBits);
  config.Set32(field::kConfigDcbFlags, config.Get32(field::kConfigDcbFlags) | kDcbParityFlag);
  config.Set32(8 + dcb::kBaudRate, 2400);
  ASSERT_TRUE(ports_.SetCommConfig(port_, config, size));
  struct termios seen;
  ASSERT_EQ(::tcgetattr(keeper_, &seen), 0);
  EXPECT_NE(seen.c_cflag & CSTOPB, 0u);
  EXPECT_NE(seen.c_iflag & INPCK, 0u);
  EXPECT_EQ(::cfgetospeed(&seen), static_cast<speed_t>(B2400));

  // A pseudo-terminal always carries 8 bits without parity: the record says so.
  Record again(100);
  ASSERT_TRUE(ports_.GetCommConfig(port_, again, &size));
  EXPECT_EQ(again.Get8(field::kConfigByteSize), (seen.c_cflag & CSIZE) == CS8 ? 8 : 7);
  EXPECT_EQ(again.Get8(field::kConfigParity), (seen.c_cflag & PARENB) ? dcb::kEvenParity : 0);
  EXPECT_EQ(again.Get8(field::kConfigStopBits), dcb::kTwoStopBits);
  EXPECT_NE(again.Get32(field::kConfigDcbFlags) & kDcbParityFlag, 0u);
  EXPECT_EQ(again.Get32(8 + dcb::kBaudRate), 2400u);

  config.Set8(field::kConfigByteSize, 9);
  EXPECT_FALSE(ports_.SetCommConfig(port_, config, size));
  EXPECT_EQ(ports_.LastError(), kErrorInvalidParameter);
}

TEST_F(ModemPortTest, CommPropertiesTellTheRequiredSize) {
  ASSERT_TRUE(ports_.SetupComm(port_, 4096, 2048));
  Record first(kCommPropFirstSize);
  first.Set16(field::kPropPacketLength, kCommPropFirstSize);
  ASSERT_TRUE(ports_.GetCommProperties(port_, first));
  EXPECT_NE(first.Get32(field::kPropProvCapabilities) & kPcfIntTimeouts, 0u);
  const std::uint32_t size = first.Get32(64) + 64;
  Record second(size);
  second.Set16(field::kPropPacketLength, static_cast<std::uint16_t>(size));
  ASSERT_TRUE(ports_.GetCommProperties(port_, second));
  EXPECT_EQ(second.Get32(60), first.Get32(64));  // dwActualSize: all of it
  EXPECT_EQ(second.Get32(44), 2048u);
  EXPECT_EQ(second.Get32(48), 4096u);
}

TEST_F(ModemPortTest, LastErrorBelongsToTheThreadThatFailed) {
  EXPECT_FALSE(ports_.ClearCommError(0x7777));
  std::uint32_t other_before = 99, other_after = 99;
  std::thread other([&] {
    other_before = ports_.LastError();
    std::uint32_t size = 10;
    Record config(10);
    ports_.GetCommConfig(port_, config, &size);
    other_after = ports_.LastError();
  });
  other.join();
  EXPECT_EQ(other_before, 0u);
  EXPECT_EQ(other_after, kErrorInsufficientBuffer);
  EXPECT_EQ(ports_.LastError(), kErrorInvalidHandle);
}

TEST_F(ModemPortTest, SystemMessagesAreFrenchTexts) {
  EXPECT_EQ(ports_.SystemMessage(kErrorInvalidHandle), "Descripteur non valide.");
  EXPECT_EQ(ports_.SystemMessage(kErrorTimeout), "D\xE9lai d'attente d\xE9pass\xE9.");
  EXPECT_EQ(ports_.SystemMessage(Win32ErrorOf(ENOSPC)).rfind("Erreur syst\xE8me : ", 0), 0u);
  EXPECT_NE(ports_.SystemMessage(123456).find("123456"), std::string::npos);
  EXPECT_EQ(Win32ErrorOf(EBADF), kErrorInvalidHandle);
  EXPECT_EQ(Win32ErrorOf(EIO), kErrorIoDevice);
}

TEST_F(ModemPortTest, AHungUpLineFailsReadsAndWrites) {
  ::close(master_);
  master_ = -1;
  char buffer[16];
  std::size_t got = 0;
  ASSERT_TRUE(Eventually([&] {
    return ports_.Read(port_, buffer, sizeof buffer, &got, IoMode::kPlain) == IoStatus::kFailed;
  }));
  EXPECT_TRUE(device_->hung_up());
  EXPECT_EQ(ports_.LastError(), kErrorIoDevice);
  EXPECT_EQ(ports_.Read(port_, buffer, sizeof buffer, &got, IoMode::kPlain), IoStatus::kFailed);
  std::size_t written = 5;
  EXPECT_EQ(ports_.Write(port_, "x", 1, &written, IoMode::kPlain), IoStatus::kFailed);
  EXPECT_EQ(written, 0u);
}

struct CancelCase {
  const char* name;
  bool before_read;  // the stop may come before the reader is inside its wait
  std::function<void(ModemPorts&, ModemDevice&, PortHandle reader)> stop;
  std::optional<IoStatus> status;  // none: it may also fail (handle gone, line down)
  bool line_up;
};

TEST_F(ModemPortTest, AReadWaitingOnAQuietPortComesBackWhenTheLinkStops) {
  const CancelCase cases[] = {
      {"cancel first", true,
       [](ModemPorts& ports, ModemDevice&, PortHandle reader) { ports.CancelRead(reader); },
       IoStatus::kDone, true},
      {"cancel through another handle", false,
       [this](ModemPorts& ports, ModemDevice&, PortHandle) {
         ports.CancelRead(ports.Open(device_));
       },
       IoStatus::kDone, true},
      {"handle closed", false,
       [](ModemPorts& ports, ModemDevice&, PortHandle reader) { ports.CloseHandle(reader); },
       std::nullopt, true},
      {"line closed", false,
       [](ModemPorts& ports, ModemDevice& device, PortHandle) { ports.Forget(&device); },
       std::nullopt, true},
      {"carrier lost", false,
       [](ModemPorts&, ModemDevice& device, PortHandle) { device.NoteHangUp(); }, std::nullopt,
       false},
  };
  // One port throughout: the lost carrier comes last.
  for (const CancelCase& c : cases) {
    // Without the cancel, a read here would outlast every bound of this test.
    ModemPorts patient(600'000);
    const PortHandle reader = patient.Open(device_);
    if (c.before_read) c.stop(patient, *device_, reader);
    std::atomic<bool> done{false};
    IoStatus status = IoStatus::kPending;
    std::size_t got = 99;
    std::thread read_thread([&] {
      char buffer[16];
      status = patient.Read(reader, buffer, sizeof buffer, &got, IoMode::kPlain);
      done = true;
    });
    if (!c.before_read) c.stop(patient, *device_, reader);
    EXPECT_TRUE(Eventually([&] { return done.load(); }, 20'000)) << c.name;
    read_thread.join();
    if (c.status) {
      EXPECT_EQ(status, *c.status) << c.name;
    }
    EXPECT_EQ(got, 0u) << c.name;
    if (!c.line_up) {
      EXPECT_TRUE(device_->hung_up()) << c.name;
    } else {
      // The cancel is spent: the next read waits again, and data still ends it.
      const PortHandle next = patient.Open(device_);
      std::thread far_end([this] {
        ::poll(nullptr, 0, 20);
        MasterWrite("after");
      });
      EXPECT_EQ(ReadPortOf(patient, next, 5), "after") << c.name;
      far_end.join();
    }
    patient.Forget(device_.get());
  }
}

TEST_F(ModemPortTest, OneThreadReadsWhileAnotherWrites) {
  // The far end echoes everything: the read thread must see all the main thread wrote.
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    while (!stop.load()) {
      char buffer[512];
      pollfd entry = {master_, POLLIN, 0};
      if (::poll(&entry, 1, 5) != 1) continue;
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) {
        ASSERT_EQ(::write(master_, buffer, static_cast<std::size_t>(n)), n);
      }
    }
  });
  std::string expected;
  for (int i = 0; i < 200; ++i) expected += "record " + std::to_string(i) + "\r";
  std::string received;
  const PortHandle reader = ports_.Open(device_);
  std::thread read_thread([&] { received = ReadPort(reader, expected.size()); });
  for (std::size_t at = 0; at < expected.size(); at += 37) {
    const std::string piece = expected.substr(at, 37);
    std::size_t written = 0;
    ASSERT_EQ(ports_.Write(port_, piece.data(), piece.size(), &written, IoMode::kOverlapped),
              IoStatus::kDone);
  }
  read_thread.join();
  stop = true;
  echo.join();
  EXPECT_EQ(received, expected);
}

}  // namespace
}  // namespace korval::platform::posix
