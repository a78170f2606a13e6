#include "platform/posix/modem_telephony.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_clock.h"
#include "platform/queued_window_system.h"

namespace korval::platform::posix {
namespace {

namespace fs = std::filesystem;
using hayes::AddressStatesOf;
using hayes::kAddrStateInUseOne;
using hayes::kAddrStateInUseZero;
using hayes::LineStatesOf;

// What the fake modem answers.
struct ModemScript {
  bool echo = true;
  std::string init_reply = "\r\nOK\r\n";
  // Empty: the dial is never answered (until a byte from us aborts it).
  std::string dial_reply = "\r\nCONNECT 9600\r\n";
};

// A Hayes modem on the master side of a pseudo-terminal: echo, result codes, data
// mode after CONNECT, "+++" back to command mode, ATH.
class FakeModem {
 public:
  explicit FakeModem(ModemScript script) : script_(std::move(script)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(::grantpt(master_), 0);
    EXPECT_EQ(::unlockpt(master_), 0);
    char name[128];
    EXPECT_EQ(::ptsname_r(master_, name, sizeof name), 0);
    path_ = name;
    // Keeps the slave side open while the line has it closed, and lets the test
    // look at its settings.
    keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeModem() {
    Stop();
    if (master_ >= 0) ::close(master_);
    ::close(keeper_);
    ::close(stop_);
  }

  const std::string& path() const { return path_; }
  int keeper() const { return keeper_; }
  bool online() const { return online_.load(); }
  std::vector<std::string> Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  std::string Data() const {
    std::lock_guard lock(mutex_);
    return data_;
  }
  // The far end speaks.
  void Send(const std::string& bytes) { Write(bytes); }
  // The far end goes away: the master side closes.
  void HangUp() {
    Stop();
    ::close(master_);
    master_ = -1;
  }

 private:
  void Stop() {
    if (!thread_.joinable()) return;
    const std::uint64_t one = 1;
    EXPECT_EQ(::write(stop_, &one, sizeof one), 8);
    thread_.join();
  }
  void Write(const std::string& bytes) {
    EXPECT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void Run() {
    for (;;) {
      pollfd fds[2] = {{master_, POLLIN, 0}, {stop_, POLLIN, 0}};
      ::poll(fds, 2, 100);
      if (fds[1].revents & POLLIN) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      char buffer[512];
      const ssize_t got = ::read(master_, buffer, sizeof buffer);
      for (ssize_t i = 0; i < got; ++i) Take(buffer[i]);
    }
  }
  void Take(char c) {
    if (online_) {
      std::lock_guard lock(mutex_);
      data_ += c;
      if (data_.size() >= 3 && data_.compare(data_.size() - 3, 3, "+++") == 0) {
        data_.resize(data_.size() - 3);
        online_ = false;
        Write("\r\nOK\r\n");
      }
      return;
    }
    if (dialing_) {
      dialing_ = false;
      Write("\r\nNO CARRIER\r\n");
      if (c == '\r') return;
    }
    if (script_.echo) Write(std::string(1, c));
    if (c == '\n') return;
    if (c != '\r') {
      line_ += c;
      return;
    }
    std::string command;
    command.swap(line_);
    if (command.empty()) return;
    {
      std::lock_guard lock(mutex_);
      commands_.push_back(command);
    }
    if (command.rfind("ATD", 0) == 0) {
      if (script_.dial_reply.empty()) {
        dialing_ = true;
        return;
      }
      // Online before the reply that says so: the line may act on it at once.
      online_ = script_.dial_reply.find("CONNECT") != std::string::npos;
      Write(script_.dial_reply);
    } else if (command.rfind("ATH", 0) == 0) {
      Write("\r\nOK\r\n");
    } else {
      Write(script_.init_reply);
    }
  }

  const ModemScript script_;
  int master_ = -1;
  int keeper_ = -1;
  int stop_ = -1;
  std::string path_;
  std::string line_;      // the fake's thread only
  bool dialing_ = false;  // the fake's thread only
  std::atomic<bool> online_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;  // guarded by mutex_
  std::string data_;                   // guarded by mutex_
  std::thread thread_;
};

class QuickWindows final : public QueuedWindowSystem {
 public:
  explicit QuickWindows(Clock& clock) : QueuedWindowSystem(clock) {}
  int MessageBox(WindowHandle, const std::string&, const std::string&, std::uint32_t) override {
    return kIdOk;
  }

 protected:
  void WaitIdle(std::optional<std::uint32_t> due_in_ms) override {
    WaitForPost(std::min<std::uint32_t>(due_in_ms.value_or(5), 5));
  }
};

class MapProfiles final : public ProfileStore {
 public:
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    system_[{section, key}] = value;
  }
  std::string ReadPrivate(const std::string&, const std::string&, const std::string&,
                          std::size_t) override {
    return {};
  }
  bool WritePrivate(const std::string&, const std::string&, const std::string&,
                    const std::optional<std::string>&) override {
    return false;
  }
  std::string ReadSystem(const std::string& section, const std::string& key,
                         std::size_t capacity) override {
    const auto it = system_.find({section, key});
    return it == system_.end() ? std::string() : it->second.substr(0, capacity - 1);
  }

 private:
  std::map<std::pair<std::string, std::string>, std::string> system_;
};

class NoteDiagnostics final : public Diagnostics {
 public:
  void DebugOutput(const std::string&) override {}
  void Warn(const std::string& text) override {
    std::lock_guard lock(mutex_);
    warnings_.push_back(text);
  }
  std::string All() const {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const std::string& w : warnings_) all += w + "\n";
    return all;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> warnings_;
};

struct Event {
  std::uint32_t device;
  std::uint32_t message;
  std::uintptr_t param1, param2, param3;
};

ModemOptions QuickOptions(const fs::path& locks) {
  ModemOptions options;
  options.timings.reply_ms = 2000;
  options.timings.dial_timeout_ms = 400;
  options.timings.guard_ms = 30;
  options.timings.dtr_drop_ms = 10;
  options.timings.carrier_poll_ms = 10;
  options.lock_folders = {locks.string()};
  return options;
}

class ModemTelephonyTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korval-modem-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    locks_ = pattern;
    telephony_ = std::make_unique<ModemTelephony>(profiles_, windows_, diagnostics_, ports_,
                                                  QuickOptions(locks_));
  }
  void TearDown() override {
    telephony_.reset();
    modem_.reset();
    fs::remove_all(locks_);
  }

  void UseModem(ModemScript script = {}) {
    modem_ = std::make_unique<FakeModem>(std::move(script));
    profiles_.Set("MODEM0", "Port", modem_->path());
  }
  std::uint32_t Initialize() {
    std::uint32_t count = 99;
    const auto main_thread = std::this_thread::get_id();
    EXPECT_EQ(telephony_->lineInitialize(
                  &app_, 0,
                  [this, main_thread](std::uint32_t device, std::uint32_t message,
                                      std::uintptr_t instance, std::uintptr_t p1, std::uintptr_t p2,
                                      std::uintptr_t p3) {
                    EXPECT_EQ(std::this_thread::get_id(), main_thread);
                    EXPECT_EQ(instance, 0x55u);
                    events_.push_back({device, message, p1, p2, p3});
                  },
                  "korvalcom", &count),
              0);
    return count;
  }
  std::uint32_t OpenLine() {
    std::uint32_t line = 0;
    EXPECT_EQ(
        telephony_->lineOpen(app_, 0, &line, kApiVersion14, 0, 0x55,
                             kCallPrivilegeOwner | kCallPrivilegeMonitor, kMediaModeDataModem),
        0);
    return line;
  }
  Record CallParams() {
    Record params(kCallParamsSize);
    params.Set32(field::kCallBearerMode, kBearerModeVoice);
    params.Set32(field::kCallMediaMode, kMediaModeDataModem);
    params.Set32(field::kCallParamFlags, kCallParamFlagsIdle);
    params.Set32(field::kCallAddressMode, kAddressModeAddressId);
    return params;
  }
  std::uint32_t MakeCall(std::uint32_t line, const std::string& dial = "T0123") {
    std::uint32_t call = 0;
    request_ = telephony_->lineMakeCall(line, &call, dial, 0, CallParams());
    EXPECT_GT(request_, 0);
    return call;
  }
  bool PumpUntil(const std::function<bool()>& done, int bound_ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      windows_.PumpMessage();
    }
    return true;
  }
  std::vector<Event> CallStates() const {
    std::vector<Event> states;
    for (const Event& e : events_) {
      if (e.message == kLineCallState) states.push_back(e);
    }
    return states;
  }
  bool AwaitState(std::uint32_t state) {
    return PumpUntil([&] {
      const auto states = CallStates();
      return std::any_of(states.begin(), states.end(),
                         [&](const Event& e) { return e.param1 == state; });
    });
  }
  PortHandle PortOfCall(std::uint32_t call) {
    Record id(kVarStringSize);
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(telephony_->lineGetID(0, 0, call, kCallSelectCall, id, kDataModemClass), 0);
      if (id.TotalSize() >= id.NeededSize()) break;
      id = Record(id.NeededSize());
    }
    return id.Get32(id.Get32(field::kVarStringOffset));
  }
  std::string ReadPort(PortHandle port, std::size_t count) {
    std::string got;
    PumpUntil([&] {
      char buffer[200];
      std::size_t n = 0;
      if (ports_.Read(port, buffer, sizeof buffer, &n, IoMode::kOverlapped) == IoStatus::kDone) {
        got.append(buffer, n);
      }
      return got.size() >= count;
    });
    return got;
  }

  PosixClock clock_;
  QuickWindows windows_{clock_};
  MapProfiles profiles_;
  NoteDiagnostics diagnostics_;
  ModemPorts ports_;
  fs::path locks_;
  std::unique_ptr<ModemTelephony> telephony_;
  std::unique_ptr<FakeModem> modem_;
  std::uint32_t app_ = 0;
  std::int32_t request_ = 0;
  std::vector<Event> events_;
};

TEST_F(ModemTelephonyTest, WithoutModem0ThereIsNoDevice) {
  profiles_.Set("MODEM1", "Port", "/dev/ttyACM1");  // not reached without MODEM0
  EXPECT_EQ(Initialize(), 0u);
  Record config(kVarStringSize);
  EXPECT_EQ(telephony_->lineGetDevConfig(0, config, kDataModemClass), kLineErrBadDeviceId);
  std::uint32_t version = 0, line = 0;
  EXPECT_EQ(telephony_->lineNegotiateAPIVersion(app_, 0, kApiVersion14, kApiVersion14, &version),
            kLineErrBadDeviceId);
  EXPECT_EQ(telephony_->lineOpen(app_, 0, &line, kApiVersion14, 0, 0, 6, kMediaModeDataModem),
            kLineErrBadDeviceId);
  EXPECT_EQ(telephony_->lineShutdown(app_), 0);
}

TEST_F(ModemTelephonyTest, ReadsTheModemSectionsInOrder) {
  profiles_.Set("MODEM0", "Port", " /dev/ttyACM0 ");
  profiles_.Set("MODEM1", "Port", "/dev/ttyUSB0");
  profiles_.Set("MODEM1", "Vitesse", "2400");
  profiles_.Set("MODEM1", "Init", "AT&F E1 V1");
  profiles_.Set("MODEM2", "Port", "/dev/ttyUSB1");
  profiles_.Set("MODEM2", "Vitesse", "9601");
  profiles_.Set("MODEM4", "Port", "/dev/ttyUSB4");
  const std::vector<ModemLineConfig> lines = ReadModemLines(profiles_, diagnostics_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].port, "/dev/ttyACM0");
  EXPECT_EQ(lines[0].bps, 9600u);
  EXPECT_EQ(lines[0].init, "ATZ");
  EXPECT_EQ(lines[1].section, "MODEM1");
  EXPECT_EQ(lines[1].bps, 2400u);
  EXPECT_EQ(lines[1].init, "AT&F E1 V1");
  EXPECT_EQ(lines[2].bps, 9600u);
  EXPECT_NE(diagnostics_.All().find("MODEM2"), std::string::npos);
}

TEST_F(ModemTelephonyTest, TheDeviceRecordsAreReadByGrowing) {
  UseModem();
  ASSERT_EQ(Initialize(), 1u);
  std::uint32_t version = 0;
  EXPECT_EQ(telephony_->lineNegotiateAPIVersion(app_, 0, 0x00020000, 0x00030000, &version),
            kLineErrIncompatibleApiVersion);
  ASSERT_EQ(telephony_->lineNegotiateAPIVersion(app_, 0, kApiVersion14, kApiVersion14, &version),
            0);
  EXPECT_EQ(version, kApiVersion14);

  const struct {
    const char* name;
    std::uint32_t initial;
    std::function<std::int32_t(Record&)> read;
  } reads[] = {
      {"devcaps", kDevCapsSize,
       [&](Record& r) { return telephony_->lineGetDevCaps(app_, 0, version, 0, r); }},
      {"addresscaps", kAddressCapsSize,
       [&](Record& r) { return telephony_->lineGetAddressCaps(app_, 0, 0, version, 0, r); }},
      {"translatecaps", kTranslateCapsSize,
       [&](Record& r) { return telephony_->lineGetTranslateCaps(app_, version, r); }},
      {"devconfig", kVarStringSize,
       [&](Record& r) { return telephony_->lineGetDevConfig(0, r, kDataModemClass); }},
  };
  for (const auto& read : reads) {
    Record record(read.initial);
    ASSERT_EQ(read.read(record), 0) << read.name;
    const std::uint32_t needed = record.NeededSize();
    EXPECT_GE(needed, read.initial) << read.name;
    if (needed > read.initial) {
      EXPECT_EQ(record.Get32(field::kUsedSize), read.initial) << read.name;
      record = Record(needed);
      ASSERT_EQ(read.read(record), 0) << read.name;
    }
    EXPECT_EQ(record.NeededSize(), needed) << read.name;
    EXPECT_EQ(record.Get32(field::kUsedSize), needed) << read.name;
  }
  Record tiny(16);
  EXPECT_EQ(telephony_->lineGetDevCaps(app_, 0, version, 0, tiny), kLineErrStructureTooSmall);

  const std::uint32_t line = OpenLine();
  Record status(kAddressStatusSize);
  ASSERT_EQ(telephony_->lineGetAddressStatus(line, 0, status), 0);
  EXPECT_EQ(status.Get32(field::kAddrStatusFeatures), kAddrFeatureMakeCall);
  Record dev_status(kLineDevStatusSize);
  ASSERT_EQ(telephony_->lineGetLineDevStatus(line, dev_status), 0);
  EXPECT_EQ(dev_status.Get32(12), 1u);  // dwNumOpens
  EXPECT_EQ(telephony_->lineSetStatusMessages(line, LineStatesOf(), AddressStatesOf()), 0);
  EXPECT_EQ(telephony_->lineSetStatusMessages(line, 0x8, 0), kLineErrInvalLineState);
}

TEST_F(ModemTelephonyTest, TheConfigurationIsThePortSettingsAndIsWrittenBack) {
  UseModem();
  struct termios original;
  ASSERT_EQ(::tcgetattr(modem_->keeper(), &original), 0);
  ASSERT_NE(original.c_lflag & ICANON, 0u);  // a fresh pty is cooked
  ASSERT_EQ(Initialize(), 1u);
  Record config(kVarStringSize);
  ASSERT_EQ(telephony_->lineGetDevConfig(0, config, kDataModemClass), 0);
  config = Record(config.NeededSize());
  ASSERT_EQ(telephony_->lineGetDevConfig(0, config, kDataModemClass), 0);
  const std::string saved =
      config.Bytes(config.Get32(field::kVarStringOffset), config.Get32(field::kVarStringSize));

  const std::uint32_t line = OpenLine();
  struct termios running;
  ASSERT_EQ(::tcgetattr(modem_->keeper(), &running), 0);
  EXPECT_EQ(running.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(running.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(running.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
  ASSERT_EQ(telephony_->lineClose(line), 0);

  EXPECT_EQ(telephony_->lineSetDevConfig(0, "junk", kDataModemClass), kLineErrInvalParam);
  EXPECT_EQ(telephony_->lineSetDevConfig(0, saved, "comm"), kLineErrInvalDeviceClass);
  ASSERT_EQ(telephony_->lineSetDevConfig(0, saved, kDataModemClass), 0);
  struct termios restored;
  ASSERT_EQ(::tcgetattr(modem_->keeper(), &restored), 0);
  EXPECT_EQ(restored.c_lflag, original.c_lflag);
  EXPECT_EQ(restored.c_iflag, original.c_iflag);
  EXPECT_EQ(restored.c_oflag, original.c_oflag);
  EXPECT_EQ(restored.c_cflag, original.c_cflag);
}

// Each program takes the first modem no other one holds, from its start to its end;
// one that finds them all taken cannot start.
TEST_F(ModemTelephonyTest, ProgramsSpreadOverTheModemsAndTheLastFindsNoneFree) {
  UseModem();
  FakeModem second_modem{ModemScript{}};
  profiles_.Set("MODEM1", "Port", second_modem.path());
  const fs::path lock0 = locks_ / LockFileName(modem_->path());
  const fs::path lock1 = locks_ / LockFileName(second_modem.path());

  ASSERT_EQ(Initialize(), 1u);
  EXPECT_TRUE(fs::exists(lock0));
  EXPECT_FALSE(fs::exists(lock1));

  QuickWindows other_windows(clock_);
  ModemTelephony other(profiles_, other_windows, diagnostics_, ports_, QuickOptions(locks_));
  std::uint32_t other_app = 0, count = 0, other_line = 0;
  ASSERT_EQ(other.lineInitialize(
                &other_app, 0, [](auto...) {}, "autre", &count),
            0);
  EXPECT_EQ(count, 1u);
  EXPECT_TRUE(fs::exists(lock1));
  EXPECT_EQ(diagnostics_.All(), "");  // a busy first modem is no fault here
  ASSERT_EQ(other.lineOpen(other_app, 0, &other_line, kApiVersion14, 0, 0, 6, kMediaModeDataModem),
            0);
  Record id(256);
  ASSERT_EQ(other.lineGetID(other_line, 0, 0, kCallSelectLine, id, kDataModemClass), 0);
  EXPECT_EQ(id.Bytes(id.Get32(field::kVarStringOffset) + 4, second_modem.path().size()),
            second_modem.path());

  ModemTelephony third(profiles_, other_windows, diagnostics_, ports_, QuickOptions(locks_));
  std::uint32_t third_app = 0;
  EXPECT_EQ(third.lineInitialize(
                &third_app, 0, [](auto...) {}, "troisi\xE8me", &count),
            kLineErrResourceUnavail);
  const std::string warnings = diagnostics_.All();
  EXPECT_NE(warnings.find("MODEM0 (" + modem_->path() +
                          ") est d\xE9j\xE0 utilis\xE9 par un "
                          "autre programme (processus " +
                          std::to_string(::getpid()) + ")"),
            std::string::npos)
      << warnings;
  EXPECT_NE(warnings.find("MODEM1 (" + second_modem.path() + ")"), std::string::npos);
  EXPECT_NE(warnings.find("Aucun modem libre"), std::string::npos);

  ASSERT_EQ(telephony_->lineShutdown(app_), 0);
  EXPECT_FALSE(fs::exists(lock0));
  ASSERT_EQ(third.lineInitialize(
                &third_app, 0, [](auto...) {}, "troisi\xE8me", &count),
            0);
  EXPECT_TRUE(fs::exists(lock0));
  EXPECT_EQ(third.lineShutdown(third_app), 0);
  EXPECT_EQ(other.lineShutdown(other_app), 0);
  EXPECT_FALSE(fs::exists(lock1));
}

TEST_F(ModemTelephonyTest, EveryGetIdHandsOutANewHandleToTheOnePort) {
  UseModem();
  ASSERT_EQ(Initialize(), 1u);
  const std::uint32_t line = OpenLine();
  Record small(kVarStringSize);
  ASSERT_EQ(telephony_->lineGetID(line, 0, 0, kCallSelectLine, small, kDataModemClass), 0);
  EXPECT_EQ(small.NeededSize(), kVarStringSize + 4 + modem_->path().size() + 1);
  EXPECT_EQ(ports_.OpenHandles(), 0u);  // nothing handed out in too small a record

  std::vector<PortHandle> handles;
  for (int i = 0; i < 3; ++i) {
    Record id(small.NeededSize());
    ASSERT_EQ(telephony_->lineGetID(line, 0, 0, kCallSelectLine, id, kDataModemClass), 0);
    const std::uint32_t at = id.Get32(field::kVarStringOffset);
    handles.push_back(id.Get32(at));
    EXPECT_EQ(id.Bytes(at + 4, id.Get32(field::kVarStringSize) - 4),
              modem_->path() + std::string(1, '\0'));
  }
  EXPECT_NE(handles[0], handles[1]);
  EXPECT_NE(handles[1], handles[2]);
  ASSERT_TRUE(ports_.CloseHandle(handles[0]));
  EXPECT_FALSE(ports_.SetupComm(handles[0], 4096, 4096));
  EXPECT_EQ(ports_.LastError(), kErrorInvalidHandle);
  EXPECT_TRUE(ports_.SetupComm(handles[1], 4096, 4096));

  Record id(256);
  EXPECT_EQ(telephony_->lineGetID(line, 0, 0, kCallSelectLine, id, "comm"),
            kLineErrInvalDeviceClass);
  EXPECT_EQ(telephony_->lineGetID(0, 0, 0x999, kCallSelectCall, id, kDataModemClass),
            kLineErrInvalCallHandle);

  ASSERT_EQ(telephony_->lineClose(line), 0);
  EXPECT_FALSE(ports_.SetupComm(handles[1], 4096, 4096));
  EXPECT_EQ(ports_.LastError(), kErrorInvalidHandle);
}

TEST_F(ModemTelephonyTest, TranslatesTheProgramsCanonicalAddress) {
  UseModem();
  ASSERT_EQ(Initialize(), 1u);
  Record output(kTranslateOutputSize);
  ASSERT_EQ(telephony_->lineTranslateAddress(app_, 0, kApiVersion14, "+33 (0) 0123", 0, 0, output),
            0);
  EXPECT_EQ(output.Get32(field::kDialableSize), 7u);
  EXPECT_EQ(output.Bytes(output.Get32(field::kDialableOffset), 7), std::string("000123\0", 7));
  EXPECT_EQ(telephony_->lineTranslateAddress(app_, 0, kApiVersion14, "+33 (0 1", 0, 0, output),
            kLineErrInvalAddress);
}

TEST_F(ModemTelephonyTest, AConnectedCallCarriesTheDataThatCameWithConnect) {
  UseModem({true, "\r\nOK\r\n", "\r\nCONNECT 9600/ARQ\r\nTRANSPAC\r\n\x11\x13"});
  ASSERT_EQ(Initialize(), 1u);
  const std::uint32_t line = OpenLine();
  const std::uint32_t call = MakeCall(line);
  ASSERT_TRUE(AwaitState(kCallStateConnected));

  ASSERT_GE(events_.size(), 3u);
  EXPECT_EQ(events_[0].message, kLineReply);
  EXPECT_EQ(events_[0].param1, static_cast<std::uintptr_t>(request_));
  EXPECT_EQ(events_[0].param2, 0u);
  const std::vector<Event> states = CallStates();
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[0].param1, kCallStateDialing);
  EXPECT_EQ(states[0].device, call);
  EXPECT_EQ(states[0].param3, kCallPrivilegeOwner);
  EXPECT_EQ(states[1].param1, kCallStateConnected);
  EXPECT_EQ(states[1].device, call);
  EXPECT_EQ(states[1].param3, 0u);
  EXPECT_EQ(modem_->Commands(), (std::vector<std::string>{"ATZ", "ATDT0123"}));

  const PortHandle port = PortOfCall(call);
  EXPECT_EQ(ReadPort(port, 12), "TRANSPAC\r\n\x11\x13");
  modem_->Send("COM\r\n");
  EXPECT_EQ(ReadPort(port, 5), "COM\r\n");
  std::size_t written = 0;
  ASSERT_EQ(ports_.Write(port, "PROF7\r", 6, &written, IoMode::kOverlapped), IoStatus::kDone);
  EXPECT_TRUE(PumpUntil([&] { return modem_->Data() == "PROF7\r"; }));

  Record config(100);
  std::uint32_t size = 100;
  ASSERT_TRUE(ports_.GetCommConfig(port, config, &size));
  EXPECT_EQ(config.Get32(kCommConfigProviderOffset + 40), 9600u);  // negotiated rate

  Record status(kAddressStatusSize);
  ASSERT_EQ(telephony_->lineGetAddressStatus(line, 0, status), 0);
  EXPECT_EQ(status.Get32(field::kAddrStatusFeatures), 0u);
  std::uint32_t second = 0;
  EXPECT_EQ(telephony_->lineMakeCall(line, &second, "T0456", 0, CallParams()), kLineErrCallUnavail);
}

TEST_F(ModemTelephonyTest, TheModemsVerdictBecomesTheDisconnectMode) {
  const struct {
    const char* reply;
    bool echo;
    std::uint32_t mode;
  } cases[] = {
      {"\r\nBUSY\r\n", true, kDisconnectBusy},
      {"\r\nNO ANSWER\r\n", false, kDisconnectNoAnswer},
      {"\r\nNO DIALTONE\r\n", true, kDisconnectNoDialtone},
      {"\r\nERROR\r\n", true, kDisconnectBadAddress},
      {"\r\nNO CARRIER\r\n", false, kDisconnectUnavail},
      {"\r\nRING\r\n\r\nBUSY\r\n", true, kDisconnectBusy},
      {"", true, kDisconnectUnavail},  // no verdict within the dial time-out
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    UseModem({c.echo, "\r\nOK\r\n", c.reply});
    events_.clear();
    ASSERT_EQ(Initialize(), 1u);
    const std::uint32_t line = OpenLine();
    const std::uint32_t call = MakeCall(line);
    ASSERT_TRUE(AwaitState(kCallStateDisconnected));
    std::vector<Event> states = CallStates();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].param1, kCallStateDialing);
    EXPECT_EQ(states[1].param2, c.mode);
    EXPECT_FALSE(modem_->online());

    // Released only once idle, and a drop makes it idle.
    EXPECT_EQ(telephony_->lineDeallocateCall(call), kLineErrInvalCallState);
    ASSERT_EQ(telephony_->lineDrop(call, ""), 0);
    ASSERT_TRUE(AwaitState(kCallStateIdle));
    EXPECT_EQ(CallStates().size(), 3u);
    EXPECT_EQ(telephony_->lineDeallocateCall(call), 0);
    EXPECT_EQ(telephony_->lineDrop(call, ""), kLineErrInvalCallHandle);
    ASSERT_EQ(telephony_->lineShutdown(app_), 0);
  }
  EXPECT_NE(diagnostics_.All().find("n'a pas obtenu la communication"), std::string::npos);
}

TEST_F(ModemTelephonyTest, ARefusedInitialisationEndsTheCall) {
  UseModem({true, "\r\nERROR\r\n", "\r\nCONNECT\r\n"});
  ASSERT_EQ(Initialize(), 1u);
  const std::uint32_t line = OpenLine();
  MakeCall(line);
  ASSERT_TRUE(AwaitState(kCallStateDisconnected));
  const std::vector<Event> states = CallStates();
  ASSERT_EQ(states.size(), 1u);
  EXPECT_EQ(states[0].param2, kDisconnectUnavail);
  EXPECT_EQ(states[0].param3, kCallPrivilegeOwner);
  EXPECT_EQ(modem_->Commands(), std::vector<std::string>{"ATZ"});
  EXPECT_NE(diagnostics_.All().find("refuse la commande d'initialisation"), std::string::npos);
}

TEST_F(ModemTelephonyTest, ALostCarrierIsANormalDisconnect) {
  UseModem();
  ASSERT_EQ(Initialize(), 1u);
  const std::uint32_t call = MakeCall(OpenLine());
  ASSERT_TRUE(AwaitState(kCallStateConnected));
  modem_->HangUp();
  ASSERT_TRUE(AwaitState(kCallStateDisconnected));
  EXPECT_EQ(CallStates().back().param2, kDisconnectNormal);
  ASSERT_EQ(telephony_->lineDrop(call, ""), 0);
  ASSERT_TRUE(AwaitState(kCallStateIdle));
  EXPECT_EQ(telephony_->lineDeallocateCall(call), 0);
}

TEST_F(ModemTelephonyTest, DroppingHangsUpWithTheEscapeWhereThereIsNoDtr) {
  UseModem();
  ASSERT_EQ(Initialize(), 1u);
  const std::uint32_t line = OpenLine();
  const std::uint32_t call = MakeCall(line);
  ASSERT_TRUE(AwaitState(kCallStateConnected));
  ASSERT_TRUE(PumpUntil([&] { return modem_->online(); }));
  ASSERT_EQ(telephony_->lineDrop(call, ""), 0);
  ASSERT_TRUE(AwaitState(kCallStateIdle));
  const std::vector<Event> states = CallStates();
  ASSERT_EQ(states.size(), 4u);
  EXPECT_EQ(states[2].param1, kCallStateDisconnected);
  EXPECT_EQ(states[2].param2, kDisconnectNormal);
  EXPECT_EQ(states[3].param1, kCallStateIdle);
  EXPECT_TRUE(PumpUntil([&] { return !modem_->online() && modem_->Commands().back() == "ATH"; }));
  EXPECT_EQ(modem_->Data(), "");  // the escape is not data
  EXPECT_EQ(telephony_->lineDrop(call, ""), kLineErrInvalCallState);
  EXPECT_EQ(telephony_->lineDeallocateCall(call), 0);

  // The line takes a new call afterwards.
  MakeCall(line);
  EXPECT_TRUE(PumpUntil([&] { return CallStates().size() == 6; }));
}

TEST_F(ModemTelephonyTest, DroppingWhileDiallingStopsTheDial) {
  ModemTelephony patient(profiles_, windows_, diagnostics_, ports_, [&] {
    ModemOptions options = QuickOptions(locks_);
    options.timings.dial_timeout_ms = 60000;
    return options;
  }());
  telephony_.reset();
  UseModem({true, "\r\nOK\r\n", ""});
  std::uint32_t count = 0, line = 0, call = 0;
  std::vector<std::uintptr_t> states;
  ASSERT_EQ(patient.lineInitialize(
                &app_, 0,
                [&](std::uint32_t, std::uint32_t message, std::uintptr_t, std::uintptr_t state,
                    std::uintptr_t, std::uintptr_t) {
                  if (message == kLineCallState) states.push_back(state);
                },
                "korvalcom", &count),
            0);
  ASSERT_EQ(patient.lineOpen(app_, 0, &line, kApiVersion14, 0, 0, 6, kMediaModeDataModem), 0);
  ASSERT_GT(patient.lineMakeCall(line, &call, "T0123", 0, CallParams()), 0);
  ASSERT_TRUE(PumpUntil([&] { return !states.empty(); }));
  ASSERT_EQ(patient.lineDrop(call, ""), 0);
  ASSERT_TRUE(PumpUntil([&] { return states.size() == 3; }));
  EXPECT_EQ(states, (std::vector<std::uintptr_t>{kCallStateDialing, kCallStateDisconnected,
                                                 kCallStateIdle}));
  EXPECT_EQ(patient.lineShutdown(app_), 0);
}

TEST_F(ModemTelephonyTest, ClosingTheLineMidCallHangsUpAndSaysNothingMore) {
  UseModem();
  ASSERT_EQ(Initialize(), 1u);
  const std::uint32_t line = OpenLine();
  const std::uint32_t call = MakeCall(line);
  ASSERT_TRUE(AwaitState(kCallStateConnected));
  const PortHandle port = PortOfCall(call);
  ASSERT_EQ(telephony_->lineClose(line), 0);
  EXPECT_TRUE(PumpUntil([&] { return !modem_->online() && modem_->Commands().back() == "ATH"; }));
  const std::size_t seen = events_.size();
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(events_.size(), seen);
  char buffer[8];
  std::size_t got = 0;
  EXPECT_EQ(ports_.Read(port, buffer, sizeof buffer, &got, IoMode::kPlain), IoStatus::kFailed);
  EXPECT_EQ(ports_.LastError(), kErrorInvalidHandle);
  EXPECT_EQ(telephony_->lineDrop(call, ""), kLineErrInvalCallHandle);
}

TEST_F(ModemTelephonyTest, RefusesDialStringsThatAreNoDataCall) {
  UseModem();
  ASSERT_EQ(Initialize(), 1u);
  const std::uint32_t line = OpenLine();
  for (const char* dial : {"", "T0123;", "T01\r23"}) {
    std::uint32_t call = 0;
    EXPECT_EQ(telephony_->lineMakeCall(line, &call, dial, 0, CallParams()), kLineErrInvalAddress)
        << dial;
  }
  Record voice = CallParams();
  voice.Set32(field::kCallMediaMode, 0x4);
  std::uint32_t call = 0;
  EXPECT_EQ(telephony_->lineMakeCall(line, &call, "T0123", 0, voice), kLineErrInvalMediaMode);
}

TEST_F(ModemTelephonyTest, AddressStatesAreReportedWhenAskedFor) {
  UseModem({true, "\r\nOK\r\n", "\r\nBUSY\r\n"});
  ASSERT_EQ(Initialize(), 1u);
  const std::uint32_t line = OpenLine();
  ASSERT_EQ(telephony_->lineSetStatusMessages(line, 0, AddressStatesOf()), 0);
  const std::uint32_t call = MakeCall(line);
  ASSERT_TRUE(AwaitState(kCallStateDisconnected));
  ASSERT_EQ(telephony_->lineDrop(call, ""), 0);
  ASSERT_TRUE(AwaitState(kCallStateIdle));
  ASSERT_EQ(telephony_->lineDeallocateCall(call), 0);
  std::vector<std::uintptr_t> address_states;
  ASSERT_TRUE(PumpUntil([&] {
    address_states.clear();
    for (const Event& e : events_) {
      if (e.message != kLineAddressState) continue;
      EXPECT_EQ(e.device, line);
      address_states.push_back(e.param2);
    }
    return address_states.size() == 2;
  }));
  EXPECT_EQ(address_states, (std::vector<std::uintptr_t>{kAddrStateInUseOne, kAddrStateInUseZero}));
}

}  // namespace
}  // namespace korval::platform::posix
