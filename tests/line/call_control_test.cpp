#include "line/call_control.h"

#include <gtest/gtest.h>

#include "harness/line_harness.h"
#include "platform/sim/sim_telephony.h"

namespace korval::line {
namespace {

namespace sim = platform::sim;
using platform::sim::SimLineDevice;
using testing::LineHarness;

constexpr const char* kUnreachable = "La ligne de votre correspondant ne peut pas \xEAtre jointe !";

void Script(LineHarness& h, sim::SimCallScript script) {
  h.telephony.ModifyDevice(0, [&](SimLineDevice& d) { d.script = std::move(script); });
}

TEST(PlaceCallTest, DialsTheTranslatedNumberWithToneDialling) {
  LineHarness h;
  ASSERT_EQ(h.Start(), 0);
  std::string number = "0123";
  ASSERT_EQ(PlaceCall(h.process, number, 0), 1);
  EXPECT_EQ(h.telephony.Calls("lineTranslateAddress")[0].text, "+33 (0) 0123");
  const auto make_call = h.telephony.Calls("lineMakeCall")[0];
  EXPECT_EQ(make_call.text, "T0123");
  // bearer voice, data modem, idle flag, address by id, address 0, 112 bytes
  EXPECT_EQ(std::vector<std::uint64_t>(make_call.args.begin() + 2, make_call.args.begin() + 8),
            (std::vector<std::uint64_t>{1, 0x10, 0x2, 1, 0, 112}));
}

TEST(PlaceCallTest, LettersAreDialledAsKeypadDigitsInTheCallersText) {
  LineHarness h;
  ASSERT_EQ(h.Start(), 0);
  std::string number = "1 AZ";
  ASSERT_EQ(PlaceCall(h.process, number, 0), 1);
  EXPECT_EQ(number, "1 21");
  EXPECT_EQ(h.telephony.Calls("lineTranslateAddress")[0].text, "+33 (0) 1 21");
}

TEST(PlaceCallTest, EachCallBuildsItsOwnDialString) {
  LineHarness h;
  ASSERT_EQ(h.Start(), 0);
  std::string first = "0123", second = "45";
  ASSERT_EQ(PlaceCall(h.process, first, 0), 1);
  h.PumpFor(10);
  HangUp(h.process);
  ASSERT_EQ(PlaceCall(h.process, second, 0), 1);
  const auto calls = h.telephony.Calls("lineMakeCall");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].text, "T45");
}

TEST(PlaceCallTest, RefusalsShowTheirMessages) {
  struct Case {
    const char* name;
    std::function<void(SimLineDevice&)> setup;
    std::vector<std::string> boxes;
  };
  const std::vector<Case> cases = {
      {"translation fails",
       [](SimLineDevice& d) { d.faults.translate_address.code = platform::kLineErrInvalAddress; },
       {" LINEERR_INVALADDRESS", "Erreur"}},
      {"dialable string too long for the dial buffer",
       [](SimLineDevice& d) { d.dialable = "00" + std::string(60, '1'); },
       {" LINEERR_INVALADDRESS", "Erreur"}},
      {"make call refused",
       [](SimLineDevice& d) { d.faults.make_call.code = platform::kLineErrResourceUnavail; },
       {" LINEERR_RESOURCEUNAVAIL", "Erreur"}},
      {"address cannot make calls",
       [](SimLineDevice& d) {
         d.addresses = {{platform::kCallFeatureAnswer, 0, 0}};
       },
       {"La ligne/adresse ne supporte pas lineMakeCall"}},
  };
  for (const Case& c : cases) {
    LineHarness h;
    h.telephony.ModifyDevice(0, c.setup);
    ASSERT_EQ(h.Start(), 0);
    EXPECT_EQ(h.Call(), 0) << c.name;
    EXPECT_EQ(h.BoxTexts(), c.boxes) << c.name;
    EXPECT_EQ(h.process.call.call_state, 0u) << c.name;
  }
  LineHarness h;  // the titles, which are swapped with the texts
  h.telephony.ModifyDevice(0, cases[0].setup);
  ASSERT_EQ(h.Start(), 0);
  h.Call();
  EXPECT_EQ(h.sim.windows.MessageBoxes()[1].title, "Erreur dans la traduction d'adresse");
}

TEST(LineCallbackTest, CallStatesAndDisconnectModes) {
  struct Case {
    const char* name;
    sim::SimCallScript script;
    std::uint32_t state;
    std::vector<std::string> boxes;
    bool dropped;  // the program hung up
  };
  const std::vector<Case> cases = {
      {"busy as a call state", sim::BusyCall(500), platform::kCallStateDisconnected, {}, false},
      {"busy as a disconnect mode",
       sim::DisconnectedCall(platform::kDisconnectBusy, 500),
       platform::kCallStateIdle,
       {kUnreachable},
       true},
      {"no answer",
       sim::DisconnectedCall(platform::kDisconnectNoAnswer, 500),
       platform::kCallStateIdle,
       {kUnreachable},
       true},
      {"bad address",
       sim::DisconnectedCall(platform::kDisconnectBadAddress, 500),
       platform::kCallStateIdle,
       {kUnreachable},
       true},
      {"incompatible",
       sim::DisconnectedCall(platform::kDisconnectIncompatible, 500),
       platform::kCallStateIdle,
       {kUnreachable},
       true},
      {"normal end by the far end",
       sim::FarEndHangsUp(200, 500),
       platform::kCallStateDisconnected,
       {},
       false},
      {"reply failure after an accepted request",
       sim::FailedReplyCall(),
       platform::kCallStateDisconnected,
       {" LINEERR_CALLUNAVAIL"},
       false},
      {"line out of service",
       sim::OutOfServiceLine(500),
       platform::kCallStateDisconnected,
       {},
       false},
      {"connected", sim::ConnectingCall(500), platform::kCallStateConnected, {}, false},
      {"line closed by the provider in mid-call",
       sim::Combine(sim::ConnectingCall(500), {sim::LineCloseEvent(1500)}),
       platform::kCallStateDisconnected,
       {},
       false},
  };
  for (const Case& c : cases) {
    LineHarness h;
    Script(h, c.script);
    ASSERT_EQ(h.Start(), 0);
    ASSERT_EQ(h.Call(), 1);
    h.PumpFor(3000);
    EXPECT_EQ(h.process.call.call_state, c.state) << c.name;
    EXPECT_EQ(h.BoxTexts(), c.boxes) << c.name;
    EXPECT_EQ(h.CallsOf("lineDrop") > 0, c.dropped) << c.name;
    EXPECT_FALSE(h.process.call.link_active && c.state != platform::kCallStateConnected) << c.name;
  }
}

// Providers differ in when the handle reaches the program: at once, only with the
// request's completion, with or without a privilege in the call's events.
TEST(LineCallbackTest, TheCallsHandleIsKnownWhateverTheProviderGrants) {
  auto without_privilege = [](sim::SimCallScript script) {
    for (sim::SimCallEvent& event : script) event.param3 = 0;
    return script;
  };
  struct Case {
    const char* name;
    bool handle_at_reply;
    sim::SimCallScript script;
  };
  const std::vector<Case> cases = {
      {"at once, owner privilege", false, sim::ConnectingCall(500)},
      {"at completion, owner privilege", true, sim::ConnectingCall(500)},
      {"at completion, no privilege", true, without_privilege(sim::ConnectingCall(500))},
      {"at once, no privilege", false, without_privilege(sim::ConnectingCall(500))},
      {"states before the reply, no privilege",
       true,
       {sim::CallStateEvent(2, platform::kCallStateDialing, 0, 0),
        sim::CallStateEvent(4, platform::kCallStateConnected, 0, 0), sim::ReplyEvent(10, 0)}},
      {"connected alone, before the reply",
       true,
       {sim::CallStateEvent(2, platform::kCallStateConnected, 0, 0), sim::ReplyEvent(10, 0)}},
  };
  for (const Case& c : cases) {
    LineHarness h;
    h.telephony.ModifyDevice(0, [&](SimLineDevice& d) {
      d.script = c.script;
      d.handle_at_reply = c.handle_at_reply;
    });
    ASSERT_EQ(h.Start(), 0);
    ASSERT_EQ(h.Call(), 1) << c.name;
    h.PumpFor(1000);
    const std::uint64_t made = h.telephony.Calls("lineMakeCall")[0].args.back();
    EXPECT_EQ(h.process.call.call_state, platform::kCallStateConnected) << c.name;
    EXPECT_EQ(h.process.call.call_handle, made) << c.name;
    HangUp(h.process);
    ASSERT_EQ(h.CallsOf("lineDrop"), 1u) << c.name;
    EXPECT_EQ(h.telephony.Calls("lineDrop")[0].args[0], made) << c.name;
  }
}

TEST(LineCallbackTest, ConnectionStartsTheReadThreadAndFarEndHangUpStopsIt) {
  LineHarness h;
  Script(h, sim::FarEndHangsUp(1000, 500));
  ASSERT_EQ(h.Start(), 0);
  ASSERT_EQ(h.Call(), 1);
  h.PumpFor(700);
  EXPECT_TRUE(h.process.call.link_active);
  ASSERT_TRUE(h.process.call.read_thread);
  const auto debug = h.sim.diagnostics.Debug();
  EXPECT_NE(std::find(debug.begin(), debug.end(), "Connexion faite !\n"), debug.end());
  h.PumpFor(1000);
  EXPECT_FALSE(h.process.call.link_active);
  EXPECT_FALSE(h.process.call.read_thread);
  EXPECT_EQ(h.CallsOf("lineDrop"), 0u);  // the exchange hangs up, not the event
}

TEST(LineCallbackTest, IncomingCallIsLoggedAndLeftRinging) {
  LineHarness h;
  Script(h, sim::IncomingCall(300));
  ASSERT_EQ(h.Start(), 0);
  ASSERT_EQ(h.Call(), 1);
  h.PumpFor(1000);
  EXPECT_EQ(h.process.call.call_state, platform::kCallStateOffering);
  // No log window here: the line goes to the debugger output.
  const auto said = h.sim.diagnostics.Debug();
  EXPECT_NE(std::find(said.begin(), said.end(), "Appel entrant !\n"), said.end());
  EXPECT_EQ(h.CallsOf("lineDrop"), 0u);
}

TEST(LineCallbackTest, RingbackAndProceedingChangeNothing) {
  LineHarness h;
  Script(h, {sim::CallStateEvent(100, platform::kCallStateDialing),
             sim::CallStateEvent(200, platform::kCallStateRingback),
             sim::CallStateEvent(300, platform::kCallStateProceeding),
             sim::CallStateEvent(400, platform::kCallStateUnknown)});
  ASSERT_EQ(h.Start(), 0);
  ASSERT_EQ(h.Call(), 1);
  h.PumpFor(1000);
  EXPECT_EQ(h.process.call.call_state, platform::kCallStateDialing);
}

TEST(HangUpTest, GivesUpWaitingForIdleAfterTwoSeconds) {
  LineHarness h;
  h.telephony.ModifyDevice(0, [](SimLineDevice& d) {
    d.script = sim::ConnectingCall(100);
    d.drop_goes_idle = false;
  });
  ASSERT_EQ(h.Start(), 0);
  ASSERT_EQ(h.Call(), 1);
  h.PumpFor(500);
  const std::uint64_t start = h.sim.world.Now();
  HangUp(h.process);
  EXPECT_GE(h.sim.world.Now() - start, 2000u);
  EXPECT_LE(h.sim.world.Now() - start, 2010u);
  EXPECT_EQ(h.process.call.call_handle, 0u);
  EXPECT_EQ(h.process.call.call_state, platform::kCallStateDisconnected);
  EXPECT_FALSE(h.process.call.link_active);
}

TEST(HangUpTest, ReturnsOnceTheCallIsIdle) {
  LineHarness h;
  Script(h, sim::ConnectingCall(100));
  ASSERT_EQ(h.Start(), 0);
  ASSERT_EQ(h.Call(), 1);
  h.PumpFor(500);
  const std::uint64_t start = h.sim.world.Now();
  HangUp(h.process);
  EXPECT_LT(h.sim.world.Now() - start, 100u);
  EXPECT_EQ(h.process.call.call_state, platform::kCallStateIdle);
  EXPECT_EQ(h.CallsOf("lineDeallocateCall"), 1u);
}

}  // namespace
}  // namespace korval::line
