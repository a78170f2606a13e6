#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "netemu_rig.h"

namespace korval::netemu::testing {
namespace {

const std::string kCard = Pad("CARTE", 80);

struct ViolationCase {
  const char* name;
  void (*apply)(Options&);
  bool profile7;
  std::string card;                 // sent as the card, then the signal
  std::function<void(Rig&)> after;  // the program's doing once the card is accepted
  const char* expected;             // in the one violation reported
};

class NetemuViolation : public ::testing::TestWithParam<ViolationCase> {};

TEST_P(NetemuViolation, IsReportedOnce) {
  const ViolationCase& c = GetParam();
  Options o = FastOptions();
  c.apply(o);
  Rig rig(o);
  ASSERT_TRUE(DialUp(rig));
  ASSERT_TRUE(PadDialogue(rig, CallLine{c.profile7, "", "175010123", ""}));
  rig.Send(c.card);
  EndRecord(rig, Signal{c.profile7, false});
  ASSERT_TRUE(rig.Expect(E("OK "), 5000));
  c.after(rig);
  rig.Advance(5000);
  const Report& r = rig.report();
  ASSERT_EQ(r.violations.size(), 1u);
  EXPECT_NE(r.violations[0].what.find(c.expected), std::string::npos) << r.violations[0].what;
}

void Records(Rig& rig, int count, std::size_t length = 160) {
  for (int i = 0; i < count; ++i) SendRecord(rig, Pad("R", length), Signal{});
}

void NoFault(Options&) {}

INSTANTIATE_TEST_SUITE_P(
    Cases, NetemuViolation,
    ::testing::Values(
        ViolationCase{"ShortCard", NoFault, false, E(Pad("CARTE", 79)), [](Rig&) {},
                      "parameter card of 79 bytes"},
        ViolationCase{"CardWithInvalidByte", NoFault, false, E(Pad("CARTE", 79)) + "\x4A",
                      [](Rig&) {}, "first 0x4A at offset 79"},
        ViolationCase{"WrongRecordLength", NoFault, false, E(kCard),
                      [](Rig& rig) { SendRecord(rig, Pad("R", 150), Signal{}); },
                      "150 bytes, 160 or 560 expected"},
        ViolationCase{"DeclaredLengthDiffers", [](Options& o) { o.record_length = 560; }, false,
                      E(kCard), [](Rig& rig) { Records(rig, 1); }, "160 bytes, 560 expected"},
        ViolationCase{"LengthChanges", NoFault, false, E(kCard),
                      [](Rig& rig) {
                        Records(rig, 1, 560);
                        Records(rig, 1, 160);
                      },
                      "record 2 of 160 bytes, 560 expected"},
        ViolationCase{"InvalidByte", NoFault, false, E(kCard),
                      [](Rig& rig) {
                        std::string record = E(Pad("R", 160));
                        record[7] = '\xFF';
                        rig.Send(record + "\r");
                        rig.Advance(100);
                      },
                      "record 1: 1 byte(s) that no ANSI character converts to, first 0xFF"},
        ViolationCase{"MissingSignal", NoFault, false, E(kCard),
                      [](Rig& rig) {
                        rig.Send(E(Pad("R", 560)));
                        rig.Advance(200);
                        Records(rig, 1, 560);
                      },
                      "record 1 not followed by an end-of-record signal"},
        ViolationCase{"ShortQuiet", [](Options& o) { o.record_length = 160; }, false, E(kCard),
                      [](Rig& rig) {
                        SendRecord(rig, Pad("R", 160), Signal{}, 30);
                        Records(rig, 1);
                      },
                      "only 30 ms of quiet after record 1, 100 required"},
        ViolationCase{"ShortQuietBeforeTheEndRecord", [](Options& o) { o.record_length = 160; },
                      false, E(kCard),
                      [](Rig& rig) {
                        SendRecord(rig, Pad("R", 160), Signal{}, 99);
                        rig.Send(E(kEndRecord) + "\r");
                      },
                      "only 99 ms of quiet after record 1"},
        ViolationCase{"BytesAfterTheEndRecord", NoFault, false, E(kCard),
                      [](Rig& rig) {
                        rig.Send(E(kEndRecord) + "\r");
                        rig.Expect(E("OKF"), 1000);
                        rig.Send(E("MORE"));
                      },
                      "while bank done with the file"},
        ViolationCase{"StraySignal", NoFault, false, E(kCard),
                      [](Rig& rig) {
                        Records(rig, 1);
                        rig.Send("\r");
                      },
                      "end-of-record signal with no record before it"},
        ViolationCase{"CarriageReturnUnderProfile7", [](Options& o) { o.record_length = 160; },
                      true, E(kCard), [](Rig& rig) { rig.Send(E(Pad("R", 160)) + "\r"); },
                      "record 1 ended by a carriage return under profile 7"},
        ViolationCase{"BreakWithoutProfile7", NoFault, false, E(kCard),
                      [](Rig& rig) {
                        rig.Send(E(Pad("R", 160)));
                        rig.Break(true);
                        rig.Advance(100);
                        rig.Break(false);
                      },
                      "record 1 ended by a break without profile 7"}),
    [](const ::testing::TestParamInfo<ViolationCase>& info) { return info.param.name; });

TEST(NetemuViolations, BytesDuringTheStatement) {
  Options o = FastOptions();
  o.mode = BankMode::kSendStatement;
  o.statement = std::string(2000, 'S');
  Rig rig(o);
  ASSERT_TRUE(ConnectAndSendCard(rig, CallLine{}, kCard, Signal{}));
  rig.Advance(300);
  rig.Send(E(kAckRecord) + "\r");  // too early
  ASSERT_EQ(rig.report().violations.size(), 1u);
  EXPECT_NE(rig.report().violations[0].what.find("while bank sending the statement"),
            std::string::npos);
}

TEST(NetemuViolations, CardMissingItsSignalIsStillAnswered) {
  Rig rig(FastOptions());
  ASSERT_TRUE(DialUp(rig));
  ASSERT_TRUE(PadDialogue(rig, CallLine{}));
  rig.Send(E(kCard));
  EXPECT_TRUE(rig.Expect(E("OK "), 5000));
  ASSERT_EQ(rig.report().violations.size(), 1u);
  EXPECT_NE(rig.report().violations[0].what.find("parameter card not followed"), std::string::npos);
  EXPECT_EQ(rig.report().card_info.eor, EorKind::kNone);
}

}  // namespace
}  // namespace korval::netemu::testing
