// The status line of a long transfer: drawn in place on a terminal (a pseudo-terminal
// here), out of the way of everything else written, and never anywhere else.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/posix/console_window_system.h"
#include "platform/posix/transfer_status_line.h"

namespace korval::platform::posix {
namespace {

using Direction = TransferProgress::Direction;

class ManualClock final : public Clock {
 public:
  std::uint32_t TickCount() override { return now; }
  void Sleep(std::uint32_t ms) override { now += ms; }
  std::uint32_t now = 1000;
};

TransferProgress Sending(std::uint64_t done, std::uint64_t total, std::uint64_t bytes,
                         std::uint32_t elapsed_ms) {
  return {Direction::kSending, done, total, bytes, elapsed_ms};
}
TransferProgress Receiving(std::uint64_t bytes, std::uint32_t elapsed_ms) {
  return {Direction::kReceiving, 0, 0, bytes, elapsed_ms};
}

TEST(TransferStatusLineTest, SaysHowFarHowFastAndHowLong) {
  struct Case {
    TransferProgress progress;
    const char* text;
  };
  for (const Case& c : {
           Case{Sending(0, 4, 0, 0),
                "Envoi : 0/4 enregistrements, -- o/s, \351coul\xE9 00:00, reste --:--"},
           Case{Sending(2, 4, 320, 2000),
                "Envoi : 2/4 enregistrements, 160 o/s, \351coul\xE9 00:02, reste 00:02"},
           Case{Sending(10, 40, 5600, 3723000),
                "Envoi : 10/40 enregistrements, 1 o/s, \351coul\xE9 1:02:03, reste 3:06:09"},
           Case{Sending(40, 40, 6400, 61000),
                "Envoi : 40/40 enregistrements, 104 o/s, \351coul\xE9 01:01, reste 00:00"},
           Case{Receiving(0, 0), "R\351ception : 0 octets, -- o/s, \351coul\xE9 00:00"},
           Case{Receiving(153600, 160000),
                "R\351ception : 153 600 octets, 960 o/s, \351coul\xE9 02:40"},
           Case{Receiving(153600, 100000),
                "R\351ception : 153 600 octets, 1 536 o/s, \351coul\xE9 01:40"},
           Case{Receiving(1234567, 100000),
                "R\351ception : 1 234 567 octets, 12,0 Ko/s, \351coul\xE9 01:40"},
       }) {
    EXPECT_EQ(FormatTransferStatus(c.progress), c.text);
  }
}

// Everything readable on fd within a short bound.
std::string Drain(int fd) {
  std::string got;
  for (;;) {
    pollfd entry = {fd, POLLIN, 0};
    if (::poll(&entry, 1, 200) != 1 || !(entry.revents & POLLIN)) return got;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return got;
    got.append(buffer, static_cast<std::size_t>(n));
  }
}

class ConsoleStatusLineTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (err_ != nullptr) std::fclose(err_);
    if (out_ != nullptr) std::fclose(out_);
    for (int fd : {master_, slave_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  // Standard error on a raw pseudo-terminal, so the test reads the bytes as written.
  void ErrOnTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master_, name, sizeof name), 0);
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0);
    struct termios settings;
    ASSERT_EQ(::tcgetattr(slave_, &settings), 0);
    ::cfmakeraw(&settings);
    ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &settings), 0);
    err_ = ::fdopen(::dup(slave_), "w");
    ASSERT_NE(err_, nullptr);
    reader_ = master_;
  }
  void ErrOnPipe() {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    master_ = ends[0];
    slave_ = ends[1];
    err_ = ::fdopen(::dup(slave_), "w");
    ASSERT_NE(err_, nullptr);
    reader_ = master_;
  }

  // A few updates, throttled, a message box in the middle and the end.
  void DriveATransfer() {
    out_ = std::tmpfile();
    ASSERT_NE(out_, nullptr);
    ConsoleWindowSystem console(clock_, out_, err_);
    console.ShowTransferProgress(Sending(0, 4, 0, 0));
    clock_.now += 100;
    console.ShowTransferProgress(Sending(1, 4, 160, 1000));  // too soon: not drawn
    clock_.now += ConsoleWindowSystem::kStatusPeriodMs;
    console.ShowTransferProgress(Sending(2, 4, 320, 2000));
    console.MessageBox(kNoWindow, "Texte", "Communication", kMbOk);
    clock_.now += 10;
    console.ShowTransferProgress(Receiving(153600, 12000));  // the line was erased: at once
    console.EndTransferProgress();
    console.EndTransferProgress();
  }

  ManualClock clock_;
  int master_ = -1;
  int slave_ = -1;
  int reader_ = -1;
  std::FILE* err_ = nullptr;
  std::FILE* out_ = nullptr;
};

TEST_F(ConsoleStatusLineTest, DrawnInPlaceOnATerminalAndErasedBeforeAnythingElse) {
  ASSERT_NO_FATAL_FAILURE(ErrOnTerminal());
  ASSERT_NO_FATAL_FAILURE(DriveATransfer());
  const std::string first =
      "Envoi : 0/4 enregistrements, -- o/s, \xC3\251coul\xC3\xA9 00:00, reste --:--";
  const std::string second =
      "Envoi : 2/4 enregistrements, 160 o/s, \xC3\251coul\xC3\xA9 00:02, reste 00:02";
  const std::string third =
      "R\xC3\251ception : 153 600 octets, 12,5 Ko/s, \xC3\251coul\xC3\xA9 00:12";
  const auto erase = [](std::size_t characters) {
    return "\r" + std::string(characters, ' ') + "\r";
  };
  // Widths in characters: each "é" is one.
  EXPECT_EQ(Drain(reader_), "\r" + first + "\r" + second + erase(second.size() - 2) +
                                "[Communication] Texte\n" + "\r" + third + erase(third.size() - 3));
  std::rewind(out_);
  EXPECT_EQ(std::fgetc(out_), EOF) << "the status line reached standard output";
}

TEST_F(ConsoleStatusLineTest, NeverWrittenWhenStandardErrorIsNoTerminal) {
  ASSERT_NO_FATAL_FAILURE(ErrOnPipe());
  ASSERT_NO_FATAL_FAILURE(DriveATransfer());
  std::fclose(err_);
  err_ = nullptr;
  ::close(slave_);
  slave_ = -1;
  EXPECT_EQ(Drain(reader_), "[Communication] Texte\n");
}

}  // namespace
}  // namespace korval::platform::posix
