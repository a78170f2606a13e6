// What the bank and the PAD rely on but cannot tell us when it goes wrong: the
// pauses and the break measured on the simulated line in virtual time, stale answers
// that must not count, the dial number, the exact progress lines and the boxes.

#include <gtest/gtest.h>

#include <functional>

#include "exchange/connect_to_site.h"
#include "harness/exchange_harness.h"
#include "link/ebcdic.h"

namespace korval::exchange {
namespace {

using platform::sim::SimPortOp;
using platform::sim::SimPortRecord;
using testing::ExchangeHarness;
using testing::kDataFile;
using testing::RecordsOf;

// Virtual times of what went out on the line.
struct Wire {
  std::vector<SimPortRecord> writes, breaks_on, breaks_off, closes;
  explicit Wire(const ExchangeHarness& h)
      : writes(h.telephony.Port().Records(SimPortOp::kWrite)),
        breaks_on(h.telephony.Port().Records(SimPortOp::kBreakSet)),
        breaks_off(h.telephony.Port().Records(SimPortOp::kBreakClear)),
        closes(h.telephony.Port().Records(SimPortOp::kClose)) {}
  // The first write holding text, and the write after it.
  const SimPortRecord* Find(const std::string& text) const {
    for (const SimPortRecord& w : writes) {
      if (w.bytes.find(text) != std::string::npos) return &w;
    }
    return nullptr;
  }
  const SimPortRecord* After(const SimPortRecord* record) const {
    for (std::size_t i = 0; i + 1 < writes.size(); ++i) {
      if (&writes[i] == record) return &writes[i + 1];
    }
    return nullptr;
  }
};

std::string Ebcdic(std::string text) {
  link::ToEbcdic(text);
  return text;
}

struct GuardCase {
  const char* name;
  const char* type_action;
  std::function<void(ExchangeHarness&)> setup;
  int status;
  std::function<void(ExchangeHarness&, const Wire&)> check;
};

class DialogueGuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(DialogueGuardTest, Holds) {
  const GuardCase& c = GetParam();
  ExchangeHarness h;
  h.sim.version.platform_id = 1;
  h.sim.files.Put(kDataFile, RecordsOf(2, 160));
  c.setup(h);
  EXPECT_EQ(h.RunJob(c.type_action), c.status);
  c.check(h, Wire(h));
}

constexpr std::uint64_t kSlackMs = 100;  // the pump's turns around a pause

// Under profile 7 every record ends with 2000 ms of quiet, a 2000 ms break, and the
// quiet after it.
// The exchange's boxes, in order: each titled "Communication", with its style.
void ExpectCommunicationBoxes(ExchangeHarness& h, const std::vector<std::uint32_t>& styles) {
  const auto& boxes = h.sim.windows.MessageBoxes();
  ASSERT_EQ(boxes.size(), styles.size());
  for (std::size_t i = 0; i < styles.size(); ++i) {
    EXPECT_EQ(boxes[i].title, "Communication") << i;
    EXPECT_EQ(boxes[i].style, styles[i]) << i;
  }
}

void BreaksFramedByQuiet(ExchangeHarness& h, const Wire& wire) {
  ASSERT_EQ(wire.breaks_on.size(), 4u);  // the card, two records, the end record
  ASSERT_EQ(wire.breaks_off.size(), 4u);
  for (std::size_t i = 0; i < wire.breaks_on.size(); ++i) {
    const std::uint64_t on = wire.breaks_on[i].at_ms;
    const std::uint64_t off = wire.breaks_off[i].at_ms;
    std::uint64_t last_write = 0;
    std::optional<std::uint64_t> next_write;
    for (const SimPortRecord& w : wire.writes) {
      if (w.at_ms <= on) last_write = w.at_ms;
      if (w.at_ms >= off && !next_write) next_write = w.at_ms;
    }
    EXPECT_GE(on - last_write, 2000u) << "quiet before break " << i;
    EXPECT_LT(on - last_write, 2000u + kSlackMs) << "quiet before break " << i;
    EXPECT_GE(off - on, 2000u) << "break " << i;
    EXPECT_LT(off - on, 2000u + kSlackMs) << "break " << i;
    if (i + 1 < wire.breaks_on.size() && i > 0) {
      ASSERT_TRUE(next_write) << "record after break " << i;
      EXPECT_GE(*next_write - off, 100u) << "quiet after break " << i;
    }
  }
  EXPECT_TRUE(h.BankSaw().violations.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, DialogueGuardTest,
    ::testing::Values(
        GuardCase{"ProfileSevenBreak", "L",
                  [](ExchangeHarness& h) { h.WinIni("[175000123]\r\nPROFIL7=O\r\n"); },
                  app::kExitSucceeded, BreaksFramedByQuiet},
        GuardCase{"PauseAfterProf7", "L",
                  [](ExchangeHarness& h) { h.WinIni("[175000123]\r\nPROFIL7=O\r\n"); },
                  app::kExitSucceeded,
                  [](ExchangeHarness&, const Wire& wire) {
                    const SimPortRecord* prof7 = wire.Find("PROF7");
                    ASSERT_NE(prof7, nullptr);
                    const SimPortRecord* cr = wire.After(prof7);
                    const SimPortRecord* call = wire.After(cr);
                    ASSERT_NE(call, nullptr);
                    EXPECT_GE(call->at_ms - cr->at_ms, 500u);
                    EXPECT_LT(call->at_ms - cr->at_ms, 500u + kSlackMs);
                  }},
        GuardCase{"NtPausesBeforeCardAndEndRecord", "L",
                  [](ExchangeHarness& h) { h.sim.version.platform_id = 2; }, app::kExitSucceeded,
                  [](ExchangeHarness& h, const Wire& wire) {
                    const SimPortRecord* card = wire.Find(Ebcdic("CARTE L"));
                    const SimPortRecord* end = wire.Find(Ebcdic("FF" + std::string(18, ' ')));
                    ASSERT_NE(card, nullptr);
                    ASSERT_NE(end, nullptr);
                    const auto& bank = h.BankSaw();
                    // COM went out com_delay_ms after the call line's carriage return.
                    const SimPortRecord* call = wire.Find("175000123");
                    const std::uint64_t com_ms = wire.After(call)->at_ms + h.options.com_delay_ms;
                    EXPECT_GE(card->at_ms - com_ms, 2000u);
                    EXPECT_LT(card->at_ms - com_ms, 2000u + kSlackMs);
                    ASSERT_EQ(bank.records.size(), 2u);
                    EXPECT_GE(end->at_ms - bank.records.back().eor_ms, 2100u);
                    EXPECT_LT(end->at_ms - bank.records.back().eor_ms, 2100u + kSlackMs);
                  }},
        GuardCase{"NoNtPausesOn95", "L", [](ExchangeHarness&) {}, app::kExitSucceeded,
                  [](ExchangeHarness& h, const Wire& wire) {
                    const SimPortRecord* end = wire.Find(Ebcdic("FF" + std::string(18, ' ')));
                    ASSERT_NE(end, nullptr);
                    EXPECT_LT(end->at_ms - h.BankSaw().records.back().eor_ms, 2000u);
                  }},
        // "OK " from the PAD before the card must not be taken for the bank's verdict.
        GuardCase{"StaleAcceptanceBeforeTheCard", "L",
                  [](ExchangeHarness& h) {
                    h.Bank().com_text = "\r\nCOM\r\nOK 00000000\r\n";
                    h.Bank().verdict = "NOK";
                  },
                  app::kExitFailed,
                  [](ExchangeHarness& h, const Wire&) {
                    EXPECT_EQ(h.BoxTexts(),
                              std::vector<std::string>{"Carte param\xE8tre non valide !"});
                  }},
        // An "OKF" inside the card's answer must not stand for the end record's.
        GuardCase{"StaleOkfBeforeTheEndRecord", "L",
                  [](ExchangeHarness& h) {
                    h.WinIni("[KORVAL]\r\nDelaiReponse=20\r\n");
                    h.Bank().code1 = "OKF ";
                    h.Bank().silent_at = netemu::Step::kOkf;
                  },
                  app::kExitFailed,
                  [](ExchangeHarness& h, const Wire&) { EXPECT_EQ(h.JobKey("Retour"), "0"); }},
        GuardCase{"ConnectionJustInsideSixtySeconds", "L",
                  [](ExchangeHarness& h) {
                    h.telephony.ModifyDevice(0, [](platform::sim::SimLineDevice& d) {
                      d.script = platform::sim::ConnectingCall(59'000);
                    });
                  },
                  app::kExitSucceeded, [](ExchangeHarness&, const Wire&) {}},
        GuardCase{"ConnectionGivenUpAtSixtySeconds", "L",
                  [](ExchangeHarness& h) {
                    h.telephony.ModifyDevice(0, [](platform::sim::SimLineDevice& d) {
                      d.script = platform::sim::ConnectingCall(61'500);
                    });
                  },
                  app::kExitFailed,
                  [](ExchangeHarness& h, const Wire&) {
                    const auto& boxes = h.sim.windows.MessageBoxes();
                    ASSERT_EQ(boxes.size(), 1u);
                    EXPECT_EQ(boxes[0].text,
                              "Impossible de faire la connexion avec le site destinataire !");
                    EXPECT_EQ(boxes[0].title, "Communication");
                    EXPECT_EQ(boxes[0].style, platform::kMbIconInformation);
                    const std::uint64_t dialled = h.telephony.Calls("lineMakeCall")[0].at_ms;
                    EXPECT_GE(boxes[0].at_ms - dialled, 60'000u);
                    EXPECT_LT(boxes[0].at_ms - dialled, 60'000u + 2 * kSlackMs + 2000);
                  }},
        GuardCase{"DefaultAccessNumberWhenAbsent", "L", [](ExchangeHarness&) {},
                  app::kExitSucceeded,
                  [](ExchangeHarness& h, const Wire&) {
                    EXPECT_NE(h.telephony.Calls("lineMakeCall")[0].text.find("0836064545"),
                              std::string::npos);
                  }},
        GuardCase{"DefaultAccessNumberWhenEmpty", "L",
                  [](ExchangeHarness& h) { h.WinIni("[KORVAL]\r\nNUMTRANSPAC=\r\n"); },
                  app::kExitSucceeded,
                  [](ExchangeHarness& h, const Wire&) {
                    EXPECT_NE(h.telephony.Calls("lineMakeCall")[0].text.find("0836064545"),
                              std::string::npos);
                  }},
        // The whole log of a plain send: no line for an absent NUI or complement.
        GuardCase{"ExactProgressLines", "L", [](ExchangeHarness&) {}, app::kExitSucceeded,
                  [](ExchangeHarness& h, const Wire&) {
                    EXPECT_EQ(h.Log(),
                              (std::vector<std::string>{
                                  "Syst\xE8me = Windows 95/98: (1)", "Envoi fichier L.C.R !",
                                  "Connexion avec site destinataire r\xE9ussie. ",
                                  "Envoi carte param\xE8tre !", "Carte param\xE8tre valide !",
                                  "Envoi du contenu du fichier !",
                                  "Envoi du fichier termin\xE9 normalement !", ""}));
                  }},
        GuardCase{"TranspacBox", "L",
                  [](ExchangeHarness& h) { h.Bank().drop_at = netemu::Step::kBanner; },
                  app::kExitFailed,
                  [](ExchangeHarness& h, const Wire&) {
                    ExpectCommunicationBoxes(h, {platform::kMbIconQuestion});
                    ASSERT_FALSE(h.sim.windows.MessageBoxes().empty());
                    EXPECT_EQ(h.sim.windows.MessageBoxes()[0].owner, platform::kNoWindow);
                  }},
        GuardCase{"SiteBox", "L", [](ExchangeHarness& h) { h.Bank().drop_at = netemu::Step::kCom; },
                  app::kExitFailed,
                  [](ExchangeHarness& h, const Wire&) {
                    ExpectCommunicationBoxes(h, {platform::kMbIconQuestion});
                  }},
        GuardCase{"CardBoxes", "L",
                  [](ExchangeHarness& h) { h.Bank().drop_at = netemu::Step::kCard; },
                  app::kExitFailed,
                  [](ExchangeHarness& h, const Wire&) {
                    ExpectCommunicationBoxes(h, {platform::kMbOkCancel | platform::kMbIconQuestion,
                                                 platform::kMbOk | platform::kMbIconQuestion});
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// A reply wait that ends with the call closes the port then, not at the line's
// shut-down.
TEST(DialoguePortReleaseTest, PortClosedWhenTheWaitEndsWithTheCall) {
  for (netemu::Step step : {netemu::Step::kBanner, netemu::Step::kCom}) {
    ExchangeHarness h;
    h.Bank().drop_at = step;
    h.Connect();
    ASSERT_EQ(h.Start(), 0);
    std::string dial_number = "0836064545";
    EXPECT_EQ(
        ConnectToSite(h.process, 0, 0, dial_number, testing::kSubscriber, std::string(80, ' ')), 0);
    EXPECT_FALSE(h.process.line.port.open()) << netemu::StepName(step);
    EXPECT_EQ(h.telephony.Port().OpenHandles(), 0u) << netemu::StepName(step);
  }
}

}  // namespace
}  // namespace korval::exchange
