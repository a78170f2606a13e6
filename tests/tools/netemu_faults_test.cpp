#include <gtest/gtest.h>

#include <string>

#include "netemu_rig.h"

namespace korval::netemu::testing {
namespace {

// How far the program's side of the dialogue got.
enum Stage {
  kNothing,
  kConnected,
  kBanner,
  kCom,
  kAnswer,
  kDataDone,  // records sent, or the statement's end record received
  kFinished,  // OKF received, or the acknowledgement sent
};

constexpr std::uint64_t kPatience = 20000;
const std::string kCard = Pad("CARTE", 80);

Stage RunFile(Rig& rig, bool profile7) {
  if (!DialUp(rig)) return kNothing;
  if (!rig.Expect("TRANSPAC", kPatience)) return kConnected;
  if (profile7) rig.Send("PROF7\r");
  rig.Advance(500);
  rig.Send("175010123\r");
  if (!rig.Expect("COM", kPatience)) return kBanner;
  rig.Send(E(kCard) + "\r");
  if (!rig.Expect(E("OK "), kPatience)) return kCom;
  for (int i = 0; i < 3 && !rig.dropped(); ++i) {
    SendRecord(rig, Pad("R" + std::to_string(i), 160), Signal{});
  }
  if (rig.dropped()) return kAnswer;
  rig.Send(E(kEndRecord) + "\r");
  if (!rig.Expect(E("OKF"), kPatience)) return kDataDone;
  return kFinished;
}

Stage RunStatement(Rig& rig) {
  if (!DialUp(rig)) return kNothing;
  if (!rig.Expect("TRANSPAC", kPatience)) return kConnected;
  rig.Send("175010123\r");
  if (!rig.Expect("COM", kPatience)) return kBanner;
  rig.Send(E(kCard) + "\r");
  if (!rig.Expect(E("OK "), kPatience)) return kCom;
  if (!rig.Expect(E(kEndRecord), kPatience)) return kAnswer;
  rig.Send(E(kAckRecord) + "\r");
  rig.Advance(100);
  return rig.report().ack_received ? kFinished : kDataDone;
}

struct FaultCase {
  const char* name;
  void (*apply)(Options&);
  bool statement;
  Stage reached;
  bool dropped;
  const char* ended_in;  // when dropped
};

class NetemuFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(NetemuFault, StopsTheDialogueWhereAsked) {
  const FaultCase& c = GetParam();
  Options o = FastOptions();
  if (c.statement) {
    o.mode = BankMode::kSendStatement;
    o.statement = std::string(500, 'S');
  }
  c.apply(o);
  Rig rig(o);
  const Stage reached = c.statement ? RunStatement(rig) : RunFile(rig, o.drop_at == Step::kProf7);
  EXPECT_EQ(reached, c.reached);
  EXPECT_EQ(rig.dropped(), c.dropped);
  const Report& r = rig.report();
  if (c.dropped) {
    EXPECT_TRUE(r.dropped_by_far_end);
    EXPECT_NE(rig.all_output().find("NO CARRIER"), std::string::npos);
    EXPECT_EQ(r.ended_in, c.ended_in);
  } else {
    EXPECT_FALSE(r.call_ended);
  }
  EXPECT_TRUE(r.violations.empty()) << r.violations[0].what;
  // Garbage is not silence: something that is none of the awaited words came.
  if (o.garbage_at == Step::kBanner || o.garbage_at == Step::kCom) {
    EXPECT_NE(rig.all_output().find("#@!?"), std::string::npos);
  } else if (o.garbage_at != Step::kNone) {
    EXPECT_NE(rig.all_output().find(E("*#*")), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, NetemuFault,
    ::testing::Values(
        FaultCase{"None", [](Options&) {}, false, kFinished, false, ""},
        FaultCase{"NoneStatement", [](Options&) {}, true, kFinished, false, ""},
        FaultCase{"SilentBanner", [](Options& o) { o.silent_at = Step::kBanner; }, false,
                  kConnected, false, ""},
        FaultCase{"GarbageBanner", [](Options& o) { o.garbage_at = Step::kBanner; }, false,
                  kConnected, false, ""},
        FaultCase{"DropBeforeBanner", [](Options& o) { o.drop_at = Step::kBanner; }, false,
                  kConnected, true, "PAD about to hang up"},
        FaultCase{"DropAfterProf7", [](Options& o) { o.drop_at = Step::kProf7; }, false, kBanner,
                  true, "PAD waiting for a command line"},
        FaultCase{"SilentCom", [](Options& o) { o.silent_at = Step::kCom; }, false, kBanner, false,
                  ""},
        FaultCase{"GarbageCom", [](Options& o) { o.garbage_at = Step::kCom; }, false, kBanner,
                  false, ""},
        FaultCase{"DropBeforeCom", [](Options& o) { o.drop_at = Step::kCom; }, false, kBanner, true,
                  "PAD about to hang up"},
        FaultCase{"SilentCard", [](Options& o) { o.silent_at = Step::kCard; }, false, kCom, false,
                  ""},
        FaultCase{"GarbageCard", [](Options& o) { o.garbage_at = Step::kCard; }, false, kCom, false,
                  ""},
        FaultCase{"DropAfterCard", [](Options& o) { o.drop_at = Step::kCard; }, false, kCom, true,
                  "bank about to hang up after the card"},
        FaultCase{"SilentOkf", [](Options& o) { o.silent_at = Step::kOkf; }, false, kDataDone,
                  false, ""},
        FaultCase{"GarbageOkf", [](Options& o) { o.garbage_at = Step::kOkf; }, false, kDataDone,
                  false, ""},
        FaultCase{"DropInsteadOfOkf", [](Options& o) { o.drop_at = Step::kOkf; }, false, kDataDone,
                  true, "bank about to acknowledge the end record"},
        FaultCase{"DropAfterZeroRecords", [](Options& o) { o.drop_after_records = 0; }, false,
                  kAnswer, true, "bank reading records"},
        FaultCase{"DropAfterTwoRecords", [](Options& o) { o.drop_after_records = 2; }, false,
                  kAnswer, true, "bank reading records"},
        FaultCase{"DropMidStatement", [](Options& o) { o.drop_after_bytes = 300; }, true, kAnswer,
                  true, "bank sending the statement"},
        FaultCase{"SilentEndRecord", [](Options& o) { o.silent_at = Step::kEnd; }, true, kAnswer,
                  false, ""},
        FaultCase{"Refused", [](Options& o) { o.verdict = "NOK"; }, false, kCom, false, ""},
        FaultCase{"Busy", [](Options& o) { o.dial_result = DialResult::kBusy; }, false, kNothing,
                  false, ""}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST(NetemuFaults, DropAfterRecordsCountsWholeRecords) {
  Options o = FastOptions();
  o.drop_after_records = 2;
  Rig rig(o);
  RunFile(rig, false);
  EXPECT_EQ(rig.report().records.size(), 2u);
  EXPECT_EQ(rig.report().received_file.size(), 320u);
  EXPECT_FALSE(rig.report().end_record_received);
}

TEST(NetemuFaults, DropAfterBytesSendsExactlyThatMany) {
  Options o = FastOptions();
  o.mode = BankMode::kSendStatement;
  o.statement = std::string(500, 'S');
  o.drop_after_bytes = 300;
  o.chunk_size = 128;
  Rig rig(o);
  RunStatement(rig);
  const std::string out = rig.all_output();
  const std::string answer = E("OK 00000000         ");
  const auto at = out.find(answer);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(out.substr(at + answer.size()), E(std::string(300, 'S')) + "\r\nNO CARRIER\r\n");
  EXPECT_EQ(rig.report().statement_bytes_sent, 300u);
  EXPECT_FALSE(rig.report().statement_end_sent);
}

// A slow peer: every answer comes exactly its delay after what it answers.
TEST(NetemuFaults, SlowPeerDelays) {
  Options o = FastOptions();
  o.dial_delay_ms = 45000;
  o.banner_delay_ms = 8000;
  o.com_delay_ms = 7000;
  o.answer_delay_ms = 6000;
  o.okf_delay_ms = 5000;
  Rig rig(o);
  rig.Open();
  rig.Send("ATE0\r");
  rig.Send("ATD3613\r");
  const std::uint64_t dialled = rig.now();
  ASSERT_TRUE(rig.Expect("CONNECT"));
  EXPECT_EQ(rig.now() - dialled, 45000u);
  ASSERT_TRUE(rig.Expect("TRANSPAC"));
  EXPECT_EQ(rig.now() - dialled, 53000u);
  rig.Send("175010123\r");
  const std::uint64_t called = rig.now();
  ASSERT_TRUE(rig.Expect("COM"));
  EXPECT_EQ(rig.now() - called, 7000u);
  rig.Send(E(kCard) + "\r");
  const std::uint64_t carded = rig.now();
  ASSERT_TRUE(rig.Expect(E("OK ")));
  EXPECT_EQ(rig.now() - carded, 6000u);
  rig.Send(E(kEndRecord) + "\r");
  const std::uint64_t ended = rig.now();
  ASSERT_TRUE(rig.Expect(E("OKF")));
  EXPECT_EQ(rig.now() - ended, 5000u);
}

}  // namespace
}  // namespace korval::netemu::testing
