// The test double of tapi32 (tests/win32/tapi32_double) on COM1, with a scripted
// Hayes modem on COM2, its peer: what the double tells the modem and what it
// reports to the application, through the callback on this thread's message loop.

#include <gtest/gtest.h>

// windows.h first: the other Windows headers need its types.
#include <windows.h>

#include <mcx.h>
#include <tapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "win32_test_support.h"

namespace korval::platform::win32 {
namespace {

struct Event {
  DWORD thread, device, message;
  DWORD_PTR param1, param2, param3;
};
std::vector<Event> events;  // written by the callback, on the test's thread

void CALLBACK Recorded(DWORD device, DWORD message, DWORD_PTR, DWORD_PTR p1, DWORD_PTR p2,
                       DWORD_PTR p3) {
  events.push_back({GetCurrentThreadId(), device, message, p1, p2, p3});
}

// Dispatches this thread's messages until done() holds, bound_ms at most.
template <typename Done>
bool PumpUntil(Done done, DWORD bound_ms) {
  const ULONGLONG end = GetTickCount64() + bound_ms;
  while (!done()) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50)), QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  return true;
}

// Reads what comes within wait_ms (the port's time-outs end each read early).
std::string ReadFor(HANDLE port, DWORD wait_ms, std::size_t want) {
  std::string got;
  const ULONGLONG end = GetTickCount64() + wait_ms;
  while (got.size() < want && GetTickCount64() < end) {
    char chunk[64];
    DWORD count = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ReadFile(port, chunk, sizeof chunk, &count, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING &&
        WaitForSingleObject(overlapped.hEvent, 1000) != WAIT_OBJECT_0) {
      CancelIo(port);
    }
    GetOverlappedResult(port, &overlapped, &count, TRUE);
    CloseHandle(overlapped.hEvent);
    got.append(chunk, count);
  }
  return got;
}

void Write(HANDLE port, const std::string& text) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD count = 0;
  if (!WriteFile(port, text.data(), static_cast<DWORD>(text.size()), &count, &overlapped) &&
      GetLastError() == ERROR_IO_PENDING &&
      WaitForSingleObject(overlapped.hEvent, 5000) != WAIT_OBJECT_0) {
    CancelIo(port);
  }
  GetOverlappedResult(port, &overlapped, &count, TRUE);
  CloseHandle(overlapped.hEvent);
}

// A modem on COM2: OK to the init, the case's verdict to ATDT, NO CARRIER to the
// character that stops a dial, OK to the escape and to ATH. It keeps every command.
class ScriptedModem {
 public:
  explicit ScriptedModem(HANDLE port) : port_(port), thread_([this] { Run(); }) {}
  ~ScriptedModem() {
    stop_ = true;
    thread_.join();
  }
  void Expect(std::string verdict) {
    std::lock_guard lock(mutex_);
    verdict_ = std::move(verdict);
    commands_.clear();
  }
  std::vector<std::string> Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }

 private:
  void Run() {
    std::string line;
    bool dialling = false;  // an ATDT without a verdict: a CR stops it
    while (!stop_) {
      for (const char c : ReadFor(port_, 100, 1)) {
        if (c != '\r') line += c;
        if (line == "+++") {
          Answer(line, "\r\nOK\r\n");
          line.clear();
        } else if (c == '\r') {
          if (line.rfind("ATDT", 0) == 0) {
            std::string verdict;
            {
              std::lock_guard lock(mutex_);
              verdict = verdict_;
            }
            dialling = verdict.empty();
            Answer(line, verdict);
          } else if (!line.empty() || dialling) {
            Answer(line, line.empty() ? "\r\nNO CARRIER\r\n" : "\r\nOK\r\n");
            dialling = false;
          }
          line.clear();
        }
      }
    }
  }
  void Answer(const std::string& command, const std::string& reply) {
    {
      std::lock_guard lock(mutex_);
      commands_.push_back(command);
    }
    if (!reply.empty()) Write(port_, reply);
  }

  HANDLE port_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string verdict_;                // guarded by mutex_
  std::vector<std::string> commands_;  // guarded by mutex_
  std::thread thread_;
};

// The double's entry points. The test program imports Wine's tapi32 itself: the
// double is loaded under a name of its own, so that the two stay apart.
struct DoubleApi {
  HMODULE module = nullptr;
  decltype(&::lineInitialize) initialize = nullptr;
  decltype(&::lineShutdown) shutdown = nullptr;
  decltype(&::lineOpenA) open = nullptr;
  decltype(&::lineClose) close = nullptr;
  decltype(&::lineGetDevConfig) get_config = nullptr;
  decltype(&::lineSetDevConfig) set_config = nullptr;
  decltype(&::lineMakeCall) make_call = nullptr;
  decltype(&::lineGetID) get_id = nullptr;
  decltype(&::lineDrop) drop = nullptr;
  decltype(&::lineDeallocateCall) deallocate = nullptr;

  bool Load() {
    const std::string copy = test_support::BesideTest("korval_tapi_double.dll");
    if (!CopyFileA(test_support::BesideTest("tapi32.dll").c_str(), copy.c_str(), FALSE)) {
      return false;
    }
    module = LoadLibraryA(copy.c_str());
    if (module == nullptr) return false;
    const auto take = [this](auto& entry, const char* name) {
      entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(
          reinterpret_cast<void*>(GetProcAddress(module, name)));
      return entry != nullptr;
    };
    return take(initialize, "lineInitialize") && take(shutdown, "lineShutdown") &&
           take(open, "lineOpenA") && take(close, "lineClose") &&
           take(get_config, "lineGetDevConfig") && take(set_config, "lineSetDevConfig") &&
           take(make_call, "lineMakeCall") && take(get_id, "lineGetID") && take(drop, "lineDrop") &&
           take(deallocate, "lineDeallocateCall");
  }
};

std::vector<Event> Taken(DWORD message) {
  std::vector<Event> taken;
  for (const Event& event : events) {
    if (event.message == message) taken.push_back(event);
  }
  return taken;
}

bool Saw(DWORD message, DWORD_PTR param1) {
  for (const Event& event : Taken(message)) {
    if (event.param1 == param1) return true;
  }
  return false;
}

std::vector<DWORD_PTR> States() {
  std::vector<DWORD_PTR> states;
  for (const Event& event : Taken(LINE_CALLSTATE)) states.push_back(event.param1);
  return states;
}

constexpr DWORD kDialTimeoutS = 2;
constexpr DWORD kCallBoundMs = 20000;

class TapiDoubleTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::IsMappedPort("COM1") || !test_support::IsMappedPort("COM2")) {
      GTEST_SKIP() << "COM1 and COM2 are not mapped to a pseudo-terminal pair";
    }
    ASSERT_TRUE(api_.Load()) << "tapi32.dll is not beside the test";
    WriteProfileStringA("MODEM0", "Port", "COM1");
    WriteProfileStringA("MODEM0", "Vitesse", "9600");
    WriteProfileStringA("MODEM0", "Init", "ATZ");
    peer_port_ = CreateFileA("\\\\.\\COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, peer_port_);
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 100, 0, 5000};
    SetCommTimeouts(peer_port_, &timeouts);
    PurgeComm(peer_port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    modem_ = std::make_unique<ScriptedModem>(peer_port_);
    events.clear();
  }
  void TearDown() override {
    modem_.reset();
    if (peer_port_ != INVALID_HANDLE_VALUE) CloseHandle(peer_port_);
    WriteProfileStringA("MODEM0", nullptr, nullptr);
    if (api_.module) FreeLibrary(api_.module);
  }

  // The device configuration with a short wait for the verdict, through the calls
  // the program saves and restores it with.
  void ShortenDialWait() {
    alignas(8) char buffer[1024] = {};
    auto* config = reinterpret_cast<VARSTRING*>(buffer);
    config->dwTotalSize = sizeof buffer;
    ASSERT_EQ(0, api_.get_config(0, config, "comm/datamodem"));
    ASSERT_GE(config->dwStringSize, sizeof(COMMCONFIG) + sizeof(MODEMSETTINGS));
    char* block = buffer + config->dwStringOffset;
    auto* modem = reinterpret_cast<MODEMSETTINGS*>(block + sizeof(COMMCONFIG));
    modem->dwCallSetupFailTimer = kDialTimeoutS;
    ASSERT_EQ(0, api_.set_config(0, block, config->dwStringSize, "comm/datamodem"));
  }

  // The port handle that lineGetID gives for the call, and the name after it.
  HANDLE PortOfCall(HCALL call, std::string* name) {
    alignas(8) char buffer[256] = {};
    auto* id = reinterpret_cast<VARSTRING*>(buffer);
    id->dwTotalSize = sizeof buffer;
    if (api_.get_id(0, 0, call, LINECALLSELECT_CALL, id, "comm/datamodem") != 0) return nullptr;
    HANDLE port = nullptr;
    std::memcpy(&port, buffer + id->dwStringOffset, sizeof port);
    *name = buffer + id->dwStringOffset + sizeof port;
    return port;
  }

  DoubleApi api_;
  HANDLE peer_port_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<ScriptedModem> modem_;
};

TEST_F(TapiDoubleTest, DialsAndReportsEachVerdictAsTheApiDoes) {
  const struct {
    const char* verdict;  // what the modem answers ATDT with
    DWORD_PTR state;      // the state the call reaches
    DWORD_PTR mode;       // and the disconnect mode it gives
    const char* data;     // what the far end sent with CONNECT
  } cases[] = {
      // The far end speaks at once, in the same write as the CONNECT line.
      {"\r\nCONNECT 9600\r\nTRANSPAC\r\n\x11\x13", LINECALLSTATE_CONNECTED, 0,
       "TRANSPAC\r\n\x11\x13"},
      {"\r\nBUSY\r\n", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY, ""},
      {"\r\nNO ANSWER\r\n", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER, ""},
      {"\r\nNO DIALTONE\r\n", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NODIALTONE, ""},
      {"\r\nNO CARRIER\r\n", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL, ""},
      {"\r\nERROR\r\n", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS, ""},
      // Silence: the wait for the verdict ends, and the dial is stopped.
      {"", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL, ""},
  };
  HLINEAPP app = 0;
  DWORD devices = 0;
  ASSERT_EQ(0,
            api_.initialize(&app, GetModuleHandleA(nullptr), &Recorded, "TAPIProcess", &devices));
  ASSERT_EQ(1u, devices);
  ShortenDialWait();
  HLINE line = 0;
  ASSERT_EQ(0, api_.open(app, 0, &line, 0x00010004, 0, 0, LINECALLPRIVILEGE_OWNER,
                         LINEMEDIAMODE_DATAMODEM, nullptr));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.verdict);
    modem_->Expect(c.verdict);
    events.clear();
    HCALL call = 0;
    const LONG request = api_.make_call(line, &call, "T0123", 0, nullptr);
    ASSERT_GT(request, 0);
    ASSERT_TRUE(
        PumpUntil([&] { return !States().empty() && States().back() == c.state; }, kCallBoundMs));
    EXPECT_TRUE(Saw(LINE_REPLY, static_cast<DWORD_PTR>(request)));
    EXPECT_EQ(States(), (std::vector<DWORD_PTR>{LINECALLSTATE_DIALING, c.state}));
    EXPECT_EQ(Taken(LINE_CALLSTATE).front().param3, DWORD_PTR{LINECALLPRIVILEGE_OWNER});
    EXPECT_EQ(Taken(LINE_CALLSTATE).back().param2, c.mode);
    const std::vector<std::string> commands = modem_->Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "ATZ");
    EXPECT_EQ(commands[1], "ATDT0123");
    if (c.state == LINECALLSTATE_CONNECTED) {
      std::string name;
      HANDLE port = PortOfCall(call, &name);
      ASSERT_NE(nullptr, port);
      EXPECT_EQ(name, "COM1");
      EXPECT_EQ(ReadFor(port, 3000, std::strlen(c.data)), c.data);
      CloseHandle(port);
    }

    const std::size_t before = events.size();
    const LONG drop = api_.drop(call, nullptr, 0);
    ASSERT_GT(drop, 0);
    ASSERT_TRUE(PumpUntil([] { return States().back() == LINECALLSTATE_IDLE; }, kCallBoundMs));
    EXPECT_TRUE(Saw(LINE_REPLY, static_cast<DWORD_PTR>(drop)));
    std::vector<DWORD_PTR> after;
    for (std::size_t i = before; i < events.size(); ++i) {
      if (events[i].message == LINE_CALLSTATE) after.push_back(events[i].param1);
    }
    if (c.state == LINECALLSTATE_CONNECTED) {
      EXPECT_EQ(after, (std::vector<DWORD_PTR>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
      EXPECT_EQ(modem_->Commands().back(), "ATH");
    } else {
      EXPECT_EQ(after, std::vector<DWORD_PTR>{LINECALLSTATE_IDLE});
    }
    EXPECT_EQ(0, api_.deallocate(call));
    for (const Event& event : events) EXPECT_EQ(event.thread, GetCurrentThreadId());
  }
  EXPECT_EQ(0, api_.close(line));
  EXPECT_EQ(0, api_.shutdown(app));
}

}  // namespace
}  // namespace korval::platform::win32
