#include "line/telephony_setup.h"

#include <gtest/gtest.h>

#include "harness/line_harness.h"
#include "line/line_error_names.h"
#include "platform/sim/sim_telephony.h"

namespace korval::line {
namespace {

using platform::sim::SimLineDevice;
using testing::LineHarness;

SimLineDevice VoiceOnly() {
  SimLineDevice device;
  device.media_modes = 0x4;
  return device;
}

TEST(StartTelephonyTest, ChoosesTheFirstDataModemDevice) {
  struct Case {
    std::vector<SimLineDevice> devices;
    std::uint32_t chosen;
  };
  SimLineDevice old_version;
  old_version.supports_v14 = false;
  const std::vector<Case> cases = {
      {{VoiceOnly(), SimLineDevice{}}, 1},
      {{old_version, VoiceOnly(), SimLineDevice{}}, 2},
      {{VoiceOnly(), VoiceOnly()}, 0},  // none qualifies: device 0 all the same
  };
  for (const Case& c : cases) {
    LineHarness h;
    h.telephony.SetDevices(c.devices);
    ASSERT_EQ(h.Start(), 0);
    EXPECT_EQ(h.process.line.device_id, c.chosen);
    const auto config_reads = h.telephony.Calls("lineGetDevConfig");
    ASSERT_FALSE(config_reads.empty());
    EXPECT_EQ(config_reads.back().args[0], c.chosen);
    EXPECT_TRUE(h.BoxTexts().empty());
  }
}

TEST(StartTelephonyTest, GrowsRecordsToTheNeededSize) {
  LineHarness h;
  ASSERT_EQ(h.Start(), 0);
  const auto caps = h.telephony.Calls("lineGetDevCaps");
  ASSERT_EQ(caps.size(), 2u);
  EXPECT_EQ(caps[0].args[4], platform::kDevCapsSize);
  EXPECT_GT(caps[1].args[4], platform::kDevCapsSize);
  EXPECT_EQ(h.telephony.Calls("lineGetDevConfig")[0].args[1], platform::kVarStringSize);
}

// The telephony system learns which program it serves from the instance handle.
TEST(StartTelephonyTest, GivesTheProgramsInstanceAndName) {
  LineHarness h;
  ASSERT_EQ(line::StartTelephony(h.process, 0, 0x400000), 0);
  const auto initialize = h.telephony.Calls("lineInitialize");
  ASSERT_EQ(initialize.size(), 1u);
  EXPECT_EQ(initialize[0].args[0], 0x400000u);
  EXPECT_EQ(initialize[0].text, "TAPIProcess");
}

TEST(StartTelephonyTest, RetriesWhileReinitialisingUntilCancel) {
  struct Case {
    unsigned reinit_answers;
    std::vector<int> answers;
    int result;
    std::size_t initialize_calls;
  };
  const int retry = platform::kIdRetry, cancel = platform::kIdCancel;
  for (const Case& c : {Case{2, {retry, retry}, 0, 3}, Case{5, {retry, cancel}, 0, 2}}) {
    LineHarness h;
    h.telephony.ScriptInitialize(c.reinit_answers);
    h.sim.windows.ScriptAnswers(c.answers);
    const int result = h.Start();
    EXPECT_EQ(h.CallsOf("lineInitialize"), c.initialize_calls);
    const auto boxes = h.sim.windows.MessageBoxes();
    ASSERT_EQ(boxes.size(), c.answers.size());
    EXPECT_EQ(boxes[0].title, "Erreur");
    EXPECT_EQ(boxes[0].style, platform::kMbRetryCancel);
    EXPECT_EQ(boxes[0].text,
              "Syst\xE8me de t\xE9l\xE9phonie en r\xE9initialisation \t\t\t\t\t   - "
              "Cliquer Annuler pour abandonner");
    if (c.answers.back() == cancel) {
      EXPECT_EQ(result, kLineErrReinit);
      EXPECT_FALSE(IsTelephonyReady(h.process));
    } else {
      EXPECT_EQ(result, c.result);
    }
  }
}

TEST(StartTelephonyTest, FailureShowsOneBoxAndLeavesTheJobFileAlone) {
  LineHarness h;
  h.telephony.ModifyDevice(0, [](SimLineDevice& d) {
    d.faults.get_dev_config.code = platform::kLineErrOperationFailed;
  });
  h.JobFile(testing::KorvalSection({"TypeAction=L", "Retour=1"}));
  const std::string before = h.JobText();
  EXPECT_EQ(h.Run(), app::kExitNoTelephony);
  EXPECT_EQ(h.JobText(), before);
  ASSERT_EQ(h.sim.windows.MessageBoxes().size(), 1u);
  const auto& box = h.sim.windows.MessageBoxes()[0];
  EXPECT_EQ(box.text, "Initialisation de TAPI impossible !");
  EXPECT_EQ(box.title, "korvalcom");
  EXPECT_EQ(box.style, platform::kMbOk | platform::kMbIconExclamation);
  EXPECT_EQ(h.sim.windows.LastWindowOf(102), platform::kNoWindow);
  EXPECT_EQ(h.CallsOf("lineSetDevConfig"), 0u);  // nothing was read, nothing written back
}

TEST(ShutdownTelephonyTest, WritesTheConfigurationBackOnceAndIsSafeTwice) {
  LineHarness h;
  ASSERT_EQ(h.Start(), 0);
  const std::string saved = h.telephony.CurrentDevConfig();
  ASSERT_EQ(h.Call(), 1);  // opens the line: the port goes to 8N1
  ShutdownTelephony(h.process);
  h.process.job.detail1 = "ABCD";
  ShutdownTelephony(h.process);
  const auto writes = h.telephony.Calls("lineSetDevConfig");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].text, saved);
  EXPECT_EQ(h.CallsOf("lineShutdown"), 1u);
  EXPECT_EQ(h.CallsOf("lineClose"), 1u);
  EXPECT_EQ(h.process.job.detail1, "9999");
  EXPECT_FALSE(h.process.line.line_open);
  EXPECT_EQ(h.serial.DoubleCloses(), 0u);
}

TEST(OpenLineTest, ChoosesTheFirstAddressThatAnswers) {
  LineHarness h;
  h.telephony.ModifyDevice(0, [](SimLineDevice& d) {
    d.addresses = {{0, 0x2, 0}, {0, 0x2, 0}, {platform::kCallFeatureAnswer, 0x2, 0}};
  });
  ASSERT_EQ(h.Start(), 0);
  ASSERT_EQ(h.Call(), 1);
  EXPECT_EQ(h.process.line.address_id, 2u);
  EXPECT_EQ(h.telephony.Calls("lineGetAddressStatus").back().args[1], 2u);
}

TEST(OpenLineTest, NoAddressThatAnswersFailsTheCall) {
  LineHarness h;
  h.telephony.ModifyDevice(0, [](SimLineDevice& d) { d.addresses = {{0, 0x2, 0}}; });
  ASSERT_EQ(h.Start(), 0);
  EXPECT_EQ(h.Call(), 0);
  EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{"Erreur dans l'ouverture de la ligne"});
  EXPECT_EQ(h.process.call.call_state, platform::kCallStateDisconnected);
  EXPECT_FALSE(IsTelephonyReady(h.process));
  EXPECT_EQ(h.CallsOf("lineMakeCall"), 0u);
}

TEST(OpenLineTest, SetsEightNoneOneOnlyWhenNeeded) {
  for (bool already_8n1 : {false, true}) {
    LineHarness h;
    if (already_8n1) {
      h.telephony.ModifyDevice(0, [](SimLineDevice& d) {
        d.port.byte_size = 8;
        d.port.parity = 0;
        d.port.f_parity = false;
      });
    }
    ASSERT_EQ(h.Start(), 0);
    ASSERT_EQ(h.Call(), 1);
    auto& port = h.telephony.Port();
    EXPECT_EQ(port.Count(platform::sim::SimPortOp::kSetCommConfig) > 0, !already_8n1);
    EXPECT_EQ(port.Dcb().byte_size, 8);
    EXPECT_EQ(port.Dcb().parity, 0);
    EXPECT_FALSE(port.Dcb().f_parity());
    const auto setup = port.Records(platform::sim::SimPortOp::kSetupComm);
    ASSERT_FALSE(setup.empty());
    EXPECT_EQ(setup[0].values, (std::vector<std::uint32_t>{4096, 4096}));
    EXPECT_EQ(port.OpenHandles(), 0u);  // each set-up step closed its own handle
  }
}

TEST(OpenLineTest, PortPropertiesFailureShowsTheSystemText) {
  for (int pass : {1, 2}) {
    LineHarness h;
    h.telephony.ModifyDevice(0, [pass](SimLineDevice& d) { d.port.commprop_fail_pass = pass; });
    ASSERT_EQ(h.Start(), 0);
    EXPECT_EQ(h.Call(), 0);
    const auto boxes = h.sim.windows.MessageBoxes();
    ASSERT_EQ(boxes.size(), pass == 1 ? 2u : 1u);
    if (pass == 1) {
      EXPECT_EQ(boxes[0].title, "GetLastError");
      EXPECT_EQ(boxes[0].text, "Erreur syst\xE8me 31.");
      EXPECT_EQ(boxes[0].style, platform::kMbOk | platform::kMbIconInformation);
    }
    EXPECT_EQ(boxes.back().text, "Erreur dans l'ouverture de la ligne");
  }
}

}  // namespace
}  // namespace korval::line
