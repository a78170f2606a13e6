#include "platform/sim/sim_telephony.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_platform.h"

namespace korval::platform::sim {
namespace {

struct Seen {
  std::uint32_t device;
  std::uint32_t message;
  std::uintptr_t param1;
  std::uintptr_t param2;
  std::uintptr_t param3;
  std::uint64_t at_ms;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << "{dev " << s.device << " msg " << s.message << " " << std::hex << s.param1 << " "
             << s.param2 << " " << s.param3 << std::dec << " @" << s.at_ms << "}";
}

class SimTelephonyTest : public ::testing::Test {
 public:
  // Initialises the provider with a callback that checks where it is called from.
  void Initialize() {
    const std::thread::id main = std::this_thread::get_id();
    LineCallback callback = [this, main](std::uint32_t device, std::uint32_t message,
                                         std::uintptr_t, std::uintptr_t p1, std::uintptr_t p2,
                                         std::uintptr_t p3) {
      EXPECT_TRUE(pumping_) << "line event outside PumpMessage";
      EXPECT_EQ(std::this_thread::get_id(), main);
      seen.push_back({device, message, p1, p2, p3, sim.world.Now()});
      if (on_event) on_event(device, message, p1);
    };
    ASSERT_EQ(tel.lineInitialize(&app, 0, callback, "TAPIProcess", &devices), 0);
  }
  void OpenLine(std::size_t device = 0) {
    ASSERT_EQ(tel.lineOpen(app, static_cast<std::uint32_t>(device), &line, kApiVersion14, 0, 0,
                           kCallPrivilegeOwner | kCallPrivilegeMonitor, kMediaModeDataModem),
              0);
  }
  std::int32_t MakeCall() {
    Record params(kCallParamsSize);
    return tel.lineMakeCall(line, &call, "T0123", 0, params);
  }
  void PumpUntil(std::uint64_t at_ms) {
    while (sim.world.Now() < at_ms) {
      pumping_ = true;
      sim.windows.PumpMessage();
      pumping_ = false;
    }
  }
  // Asks for a port handle the way the program does (growing read of a VARSTRING).
  PortHandle GetPort(std::uint32_t select) {
    Record id(kVarStringSize);
    const std::uint32_t l = select == kCallSelectLine ? line : 0;
    const std::uint32_t c = select == kCallSelectCall ? call : 0;
    if (tel.lineGetID(l, 0, c, select, id, kDataModemClass) != 0) return kNoPort;
    Record sized(id.NeededSize());
    if (tel.lineGetID(l, 0, c, select, sized, kDataModemClass) != 0) return kNoPort;
    return sized.Get32(sized.Get32(field::kVarStringOffset));
  }

  SimPlatform sim;
  SimTelephony& tel = sim.telephony;
  std::uint32_t app = 0;
  std::uint32_t devices = 0;
  std::uint32_t line = 0;
  std::uint32_t call = 0;
  std::vector<Seen> seen;
  std::function<void(std::uint32_t, std::uint32_t, std::uintptr_t)> on_event;

 private:
  bool pumping_ = false;
};

struct GrowCase {
  const char* name;
  std::uint32_t initial;
  // Reads into the record; the provider's answer.
  std::function<std::int32_t(SimTelephonyTest&, Record&)> read;
  // A field that only the filled answer sets, and what it holds then.
  std::function<std::string(const Record&)> data;
  std::string expected;
};

class SimTelephonyGrowTest : public SimTelephonyTest,
                             public ::testing::WithParamInterface<GrowCase> {};

TEST_P(SimTelephonyGrowTest, FirstReadAsksForMoreSecondReadFills) {
  const GrowCase& c = GetParam();
  Initialize();
  OpenLine();
  const std::size_t handles = tel.Port().OpenHandles();

  Record small(c.initial);
  ASSERT_EQ(c.read(*this, small), 0);
  const std::uint32_t needed = small.NeededSize();
  EXPECT_GT(needed, c.initial);
  EXPECT_EQ(small.TotalSize(), c.initial);
  EXPECT_NE(c.data(small), c.expected);
  EXPECT_EQ(tel.Port().OpenHandles(), handles);  // an answer that did not fit hands out nothing

  Record sized(needed);
  ASSERT_EQ(c.read(*this, sized), 0);
  EXPECT_EQ(sized.NeededSize(), needed);
  EXPECT_EQ(c.data(sized), c.expected);
}

std::string Field32(const Record& r, std::uint32_t offset) {
  return std::to_string(r.Get32(offset));
}

std::string VarString(const Record& r) {
  return r.Bytes(r.Get32(field::kVarStringOffset), r.Get32(field::kVarStringSize));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimTelephonyGrowTest,
    ::testing::Values(
        GrowCase{"DevCaps", kDevCapsSize,
                 [](SimTelephonyTest& t, Record& r) {
                   return t.tel.lineGetDevCaps(t.app, 0, kApiVersion14, 0, r);
                 },
                 [](const Record& r) { return Field32(r, field::kDevMediaModes); },
                 std::to_string(kMediaModeDataModem)},
        GrowCase{"AddressCaps", kAddressCapsSize,
                 [](SimTelephonyTest& t, Record& r) {
                   return t.tel.lineGetAddressCaps(t.app, 0, 0, kApiVersion14, 0, r);
                 },
                 [](const Record& r) { return Field32(r, field::kAddrCallFeatures); },
                 std::to_string(kCallFeatureAnswer)},
        GrowCase{"TranslateCaps", kTranslateCapsSize,
                 [](SimTelephonyTest& t, Record& r) {
                   return t.tel.lineGetTranslateCaps(t.app, kApiVersion14, r);
                 },
                 [](const Record& r) { return Field32(r, field::kUsedSize); },
                 std::to_string(kTranslateCapsSize + SimRecordExtra{}.translate_caps)},
        GrowCase{
            "LineDevStatus", kLineDevStatusSize,
            [](SimTelephonyTest& t, Record& r) { return t.tel.lineGetLineDevStatus(t.line, r); },
            [](const Record& r) { return Field32(r, field::kUsedSize); },
            std::to_string(kLineDevStatusSize + SimRecordExtra{}.line_dev_status)},
        GrowCase{
            "AddressStatus", kAddressStatusSize,
            [](SimTelephonyTest& t, Record& r) { return t.tel.lineGetAddressStatus(t.line, 0, r); },
            [](const Record& r) { return Field32(r, field::kAddrStatusFeatures); },
            std::to_string(kAddrFeatureMakeCall)},
        GrowCase{"DevConfig", kVarStringSize,
                 [](SimTelephonyTest& t, Record& r) {
                   return t.tel.lineGetDevConfig(0, r, kDataModemClass);
                 },
                 VarString, DefaultDevConfig()},
        GrowCase{"PortId", kVarStringSize,
                 [](SimTelephonyTest& t, Record& r) {
                   return t.tel.lineGetID(t.line, 0, 0, kCallSelectLine, r, kDataModemClass);
                 },
                 [](const Record& r) {
                   const std::string s = VarString(r);
                   return s.size() < 4 ? std::string() : s.substr(4);
                 },
                 std::string("Modem standard") + '\0'}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTelephonyTest, EveryLineGetIdHandsOutANewHandleToTheDevicesPort) {
  Initialize();
  OpenLine();
  const PortHandle first = GetPort(kCallSelectLine);
  const PortHandle second = GetPort(kCallSelectLine);
  ASSERT_NE(first, kNoPort);
  ASSERT_NE(second, kNoPort);
  EXPECT_NE(first, second);
  EXPECT_EQ(tel.Port().OpenHandles(), 2u);

  ASSERT_TRUE(sim.serial.CloseHandle(first));
  Record props(kCommPropFirstSize);
  EXPECT_FALSE(sim.serial.GetCommProperties(first, props));
  EXPECT_EQ(sim.serial.LastError(), kErrorInvalidHandle);
  EXPECT_EQ(props.Get32(field::kPropProvCapabilities), 0u);
  ASSERT_TRUE(sim.serial.GetCommProperties(second, props));
  EXPECT_EQ(props.Get32(field::kPropProvCapabilities) & kPcfIntTimeouts, kPcfIntTimeouts);
  EXPECT_FALSE(sim.serial.CloseHandle(first));
  EXPECT_EQ(sim.serial.DoubleCloses(), 1u);

  // Through the call: valid while the call exists, not once it has been released.
  ASSERT_GT(MakeCall(), 0);
  const PortHandle by_call = GetPort(kCallSelectCall);
  EXPECT_NE(by_call, kNoPort);
  EXPECT_NE(by_call, second);
  tel.lineDrop(call, "");
  PumpUntil(100);
  ASSERT_EQ(tel.lineDeallocateCall(call), 0);
  EXPECT_EQ(GetPort(kCallSelectCall), kNoPort);
}

TEST_F(SimTelephonyTest, ConnectingScriptLandsAtItsTimesThroughPumpMessage) {
  Initialize();
  OpenLine();
  PumpUntil(500);
  const std::int32_t request = MakeCall();
  ASSERT_GT(request, 0);
  const std::uint32_t c = call;
  PumpUntil(4000);

  const std::uintptr_t owner = kCallPrivilegeOwner;
  const std::vector<Seen> expected = {
      {0, kLineReply, static_cast<std::uintptr_t>(request), 0, 0, 510},
      {c, kLineCallState, kCallStateDialtone, 0, owner, 600},
      {c, kLineCallState, kCallStateDialing, 0, owner, 800},
      {c, kLineCallState, kCallStateProceeding, 0, owner, 1500},
      {c, kLineCallState, kCallStateConnected, 0, owner, 3500},
  };
  // Each event is dispatched on the turn after the one its time came in.
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    Seen want = expected[i];
    EXPECT_GE(seen[i].at_ms, want.at_ms);
    EXPECT_LE(seen[i].at_ms, want.at_ms + 1);
    want.at_ms = seen[i].at_ms;
    EXPECT_EQ(seen[i], want);
  }
  EXPECT_TRUE(tel.Port().Carrier());
  EXPECT_EQ(tel.CallStateOf(c), kCallStateConnected);
}

struct ScriptCase {
  const char* name;
  SimCallScript script;
  std::uint32_t last_message;
  std::uintptr_t last_param1;
  std::uintptr_t last_param2;
  std::uint64_t last_at_ms;
  std::uint32_t state_after;  // the sim's view of the call; 0: the call no longer exists
};

class SimTelephonyScriptTest : public SimTelephonyTest,
                               public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(SimTelephonyScriptTest, ReadyMadeScriptsEndAsTheyShould) {
  const ScriptCase& c = GetParam();
  tel.ModifyDevice(0, [&](SimLineDevice& d) { d.script = c.script; });
  Initialize();
  OpenLine();
  const std::int32_t request = MakeCall();
  ASSERT_GT(request, 0);
  PumpUntil(10000);

  ASSERT_FALSE(seen.empty());
  const Seen& last = seen.back();
  EXPECT_EQ(last.message, c.last_message);
  EXPECT_EQ(last.param1,
            c.last_message == kLineReply ? static_cast<std::uintptr_t>(request) : c.last_param1);
  EXPECT_EQ(last.param2, c.last_param2);
  EXPECT_LE(last.at_ms - c.last_at_ms, 1u);
  EXPECT_EQ(tel.CallStateOf(call), c.state_after);
  EXPECT_FALSE(tel.Port().Carrier());
  for (const Seen& s : seen) EXPECT_NE(s.param1, kCallStateConnected) << s;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimTelephonyScriptTest,
    ::testing::Values(
        ScriptCase{"Busy", BusyCall(2000), kLineCallState, kCallStateBusy, 0, 2000, kCallStateBusy},
        ScriptCase{"DisconnectedBusy", DisconnectedCall(kDisconnectBusy, 2500), kLineCallState,
                   kCallStateDisconnected, kDisconnectBusy, 2500, kCallStateDisconnected},
        ScriptCase{"NoAnswer", DisconnectedCall(kDisconnectNoAnswer), kLineCallState,
                   kCallStateDisconnected, kDisconnectNoAnswer, 2000, kCallStateDisconnected},
        ScriptCase{"BadAddress", DisconnectedCall(kDisconnectBadAddress), kLineCallState,
                   kCallStateDisconnected, kDisconnectBadAddress, 2000, kCallStateDisconnected},
        ScriptCase{"Incompatible", DisconnectedCall(kDisconnectIncompatible), kLineCallState,
                   kCallStateDisconnected, kDisconnectIncompatible, 2000, kCallStateDisconnected},
        ScriptCase{"Normal", DisconnectedCall(kDisconnectNormal), kLineCallState,
                   kCallStateDisconnected, kDisconnectNormal, 2000, kCallStateDisconnected},
        ScriptCase{"FailedReply", FailedReplyCall(kLineErrCallUnavail, 50), kLineReply, 0,
                   0x80000005u, 50, 0},
        ScriptCase{"OutOfService", OutOfServiceLine(1000), kLineLineDevState,
                   kLineDevStateOutOfService, 0, 1000, kCallStateDialing}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTelephonyTest, AnIncomingCallIsOfferedOnAHandleOfItsOwn) {
  tel.ModifyDevice(0, [](SimLineDevice& d) { d.script = IncomingCall(5000); });
  Initialize();
  OpenLine();
  ASSERT_GT(MakeCall(), 0);
  PumpUntil(8000);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, kLineCallState);
  EXPECT_EQ(seen[0].param1, kCallStateOffering);
  EXPECT_EQ(seen[0].param3, kCallPrivilegeOwner);
  EXPECT_NE(seen[0].device, call);
  EXPECT_EQ(tel.CallStateOf(seen[0].device), kCallStateOffering);
}

class RecordingFarEnd : public SimFarEnd {
 public:
  void OnConnect(SimSerialPort&, std::uint64_t at_ms) override {
    log.push_back("connect @" + std::to_string(at_ms));
  }
  void OnHangUp(SimSerialPort&, std::uint64_t at_ms) override {
    log.push_back("hang-up @" + std::to_string(at_ms));
  }
  std::vector<std::string> log;
};

struct DropCase {
  const char* name;
  bool goes_idle;
  std::uint64_t drop_at_ms;  // the default script connects at 3000
  std::vector<std::uintptr_t> states_after_drop;
  std::vector<std::string> far_end;
};

class SimTelephonyDropTest : public SimTelephonyTest,
                             public ::testing::WithParamInterface<DropCase> {};

TEST_P(SimTelephonyDropTest, DropEndsTheCallAndTheLinkAtOnce) {
  const DropCase& c = GetParam();
  tel.ModifyDevice(0, [&](SimLineDevice& d) { d.drop_goes_idle = c.goes_idle; });
  RecordingFarEnd far_end;
  tel.Port().SetFarEnd(&far_end);
  Initialize();
  OpenLine();
  ASSERT_GT(MakeCall(), 0);
  PumpUntil(c.drop_at_ms);
  const std::size_t before = seen.size();
  EXPECT_GT(tel.lineDrop(call, ""), 0);
  EXPECT_FALSE(tel.Port().Carrier());
  tel.Port().Deliver("after the drop");
  EXPECT_EQ(tel.Port().Queued(), 0u);
  PumpUntil(c.drop_at_ms + 2500);

  std::vector<std::uintptr_t> states;
  for (std::size_t i = before; i < seen.size(); ++i) {
    if (seen[i].message == kLineCallState) {
      states.push_back(seen[i].param1);
      EXPECT_LE(seen[i].at_ms - c.drop_at_ms, 6u);  // a few ms, not seconds
    }
  }
  EXPECT_EQ(states, c.states_after_drop);
  EXPECT_EQ(far_end.log, c.far_end);
  EXPECT_EQ(tel.lineDeallocateCall(call), c.goes_idle ? 0 : kLineErrInvalCallState);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimTelephonyDropTest,
    ::testing::Values(DropCase{"Connected",
                               true,
                               5000,
                               {kCallStateDisconnected, kCallStateIdle},
                               {"connect @3000", "hang-up @5000"}},
                      DropCase{
                          "WhileDialing", true, 900, {kCallStateDisconnected, kCallStateIdle}, {}},
                      DropCase{"NeverIdle",
                               false,
                               5000,
                               {kCallStateDisconnected},
                               {"connect @3000", "hang-up @5000"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTelephonyTest, AFarEndHangUpWaitsForTheDropToGoIdle) {
  tel.ModifyDevice(0, [](SimLineDevice& d) { d.script = FarEndHangsUp(4000); });
  Initialize();
  OpenLine();
  ASSERT_GT(MakeCall(), 0);
  PumpUntil(6999);
  sim.serial.SetSettleLimit(std::chrono::milliseconds(5));  // no reader in this test
  tel.Port().Deliver("during");
  EXPECT_EQ(tel.Port().Queued(), 6u);
  PumpUntil(9000);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().param1, kCallStateDisconnected);
  EXPECT_EQ(seen.back().param2, kDisconnectNormal);
  EXPECT_LE(seen.back().at_ms - 7000, 1u);
  EXPECT_FALSE(tel.Port().Carrier());
  EXPECT_EQ(tel.Port().Queued(), 0u);  // what was not read went with the call
  EXPECT_EQ(tel.lineDeallocateCall(call), kLineErrInvalCallState);

  const std::size_t before = seen.size();
  EXPECT_GT(tel.lineDrop(call, ""), 0);
  PumpUntil(9100);
  ASSERT_EQ(seen.size(), before + 2);  // the drop's reply, then IDLE only
  EXPECT_EQ(seen.back().param1, kCallStateIdle);
  EXPECT_EQ(tel.lineDeallocateCall(call), 0);
}

TEST_F(SimTelephonyTest, ARefusedRequestLeavesNoCallToDrop) {
  tel.ModifyDevice(0, [](SimLineDevice& d) { d.script = FailedReplyCall(); });
  Initialize();
  OpenLine();
  ASSERT_GT(MakeCall(), 0);
  PumpUntil(200);
  EXPECT_EQ(tel.lineDrop(call, ""), kLineErrInvalCallHandle);
  PumpUntil(2500);
  EXPECT_EQ(seen.size(), 1u);
}

struct TranslateCase {
  const char* name;
  std::string canonical;
  std::optional<std::string> scripted;
  SimFault fault;
  std::int32_t result;
  std::string dialable;
};

class SimTelephonyTranslateTest : public SimTelephonyTest,
                                  public ::testing::WithParamInterface<TranslateCase> {};

TEST_P(SimTelephonyTranslateTest, DialableStringComesWithItsNul) {
  const TranslateCase& c = GetParam();
  tel.ModifyDevice(0, [&](SimLineDevice& d) {
    d.dialable = c.scripted;
    d.faults.translate_address = c.fault;
  });
  Initialize();
  Record out(kTranslateOutputSize);
  ASSERT_EQ(tel.lineTranslateAddress(app, 0, kApiVersion14, c.canonical, 0, 0, out), c.result);
  if (c.result != 0) {
    EXPECT_EQ(out.Get32(field::kDialableSize), 0u);
    return;
  }
  const std::uint32_t size = out.Get32(field::kDialableSize);
  const std::uint32_t offset = out.Get32(field::kDialableOffset);
  EXPECT_EQ(size, c.dialable.size() + 1);
  EXPECT_EQ(out.Bytes(offset, size), c.dialable + '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimTelephonyTranslateTest,
    ::testing::Values(
        TranslateCase{"Local", "+33 (0) 0123", {}, {}, 0, "000123"},
        TranslateCase{"LocalNumber", "+33 (0) 3613", {}, {}, 0, "003613"},
        TranslateCase{"OtherArea", "+33 (1) 45678901", {}, {}, 0, "0145678901"},
        TranslateCase{"Abroad",
                      "+44 (20) 79460000",
                      {},
                      {},
                      0,
                      "0044207946"
                      "0000"},
        // A form the program never builds: the local rule of the modem providers.
        TranslateCase{"NoArea", "+33 3613", {}, {}, 0, "3613"},
        TranslateCase{"NotCanonical", "3613", {}, {}, 0, "3613"},
        TranslateCase{"Scripted", "+33 (0) 0123", "9W0123", {}, 0, "9W0123"},
        TranslateCase{"Malformed", "+ (0) 1", {}, {}, kLineErrInvalAddress, ""},
        TranslateCase{
            "Fails", "+33 (0) 0123", {}, {kLineErrInvalAddress}, kLineErrInvalAddress, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTelephonyTest, ReinitAnswersComeFirstThenTheScriptedOutcome) {
  tel.ScriptInitialize(2);
  std::uint32_t n = 0;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(tel.lineInitialize(&app, 0, {}, "TAPIProcess", &n), kLineErrReinit);
  }
  EXPECT_EQ(tel.lineInitialize(&app, 0, {}, "TAPIProcess", &n), 0);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(tel.lineShutdown(app), 0);
  EXPECT_EQ(tel.lineShutdown(app), kLineErrInvalAppHandle);

  tel.ScriptInitialize(1, kLineErrResourceUnavail);
  EXPECT_EQ(tel.lineInitialize(&app, 0, {}, "TAPIProcess", &n), kLineErrReinit);
  EXPECT_EQ(tel.lineInitialize(&app, 0, {}, "TAPIProcess", &n), kLineErrResourceUnavail);
}

TEST_F(SimTelephonyTest, NoEventReachesTheProgramAfterShutdown) {
  tel.ModifyDevice(0, [](SimLineDevice& d) { d.script = ConnectingCall(100); });
  Initialize();
  OpenLine();
  ASSERT_GT(MakeCall(), 0);
  while (sim.world.Now() < 100) sim.world.AdvanceIdle(100);  // all posted, none dispatched
  EXPECT_TRUE(tel.Port().Carrier());
  tel.lineShutdown(app);
  EXPECT_FALSE(tel.Port().Carrier());
  PumpUntil(1000);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(tel.DroppedEvents(), 5u);
}

// The program's pattern: its reader starts in the callback on CONNECTED and takes its
// own handle through the call; a far end greets right after the connection.
TEST_F(SimTelephonyTest, AReaderStartedOnConnectedSeesTheFirstBytesOnTime) {
  class Greeter : public SimFarEnd {
   public:
    void OnConnect(SimSerialPort& port, std::uint64_t at_ms) override {
      port.DeliverAt(at_ms + 20, "TRANSPAC");
    }
  } greeter;
  tel.Port().SetFarEnd(&greeter);
  std::atomic<bool> run{true};
  std::mutex mutex;
  std::string received;
  std::thread reader;
  on_event = [&](std::uint32_t, std::uint32_t message, std::uintptr_t state) {
    if (message != kLineCallState || state != kCallStateConnected) return;
    reader = std::thread([&] {
      const PortHandle port = GetPort(kCallSelectCall);
      char buffer[200];
      while (run) {
        std::size_t got = 0;
        sim.serial.Read(port, buffer, sizeof buffer, &got, IoMode::kPlain);
        std::lock_guard lock(mutex);
        received.append(buffer, got);
      }
      sim.serial.CloseHandle(port);
    });
  };
  Initialize();
  OpenLine();
  ASSERT_GT(MakeCall(), 0);
  PumpUntil(3019);
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(received, "");
  }
  PumpUntil(3021);
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(received, "TRANSPAC");
  }
  run = false;
  reader.join();
  EXPECT_EQ(sim.serial.SettleTimeouts(), 0u);
  EXPECT_FALSE(tel.Calls("lineGetID").back().main_thread);
  EXPECT_EQ(sim.serial.DoubleCloses(), 0u);
}

}  // namespace
}  // namespace korval::platform::sim
