#include <gtest/gtest.h>

#include <string>

#include "netemu_rig.h"

namespace korval::netemu::testing {
namespace {

struct CommandCase {
  const char* sent;
  const char* answer;
};

// One command-mode session: each line's answer depends on the ones before.
TEST(NetemuModem, CommandModeAnswers) {
  const CommandCase session[] = {
      {"AT\r", "AT\r\r\nOK\r\n"},
      {"ATE0\r", "ATE0\r\r\nOK\r\n"},  // echoed before it takes effect
      {"ATL1M0\r", "\r\nOK\r\n"},
      {"xx at&fx4\r\n", "\r\nOK\r\n"},
      {"ATQ\x08V1\r", "\r\nOK\r\n"},  // the backspace removes the Q
      {"AT!\r", "\r\nERROR\r\n"},
      {"ATS12?\r", "\r\n0\r\n\r\nOK\r\n"},
      {"ATO\r", "\r\nNO CARRIER\r\n"},  // no call to go back to
      {"ATV0\r", "0\r"},
      {"ATQ1\r", ""},
      {"ATZ\r", "\r\nOK\r\n"},
      {"AT\r", "AT\r\r\nOK\r\n"},  // ATZ brought back echo and results
  };
  Rig rig(FastOptions());
  rig.Open();
  for (const CommandCase& c : session) {
    rig.Send(c.sent);
    EXPECT_EQ(rig.TakeUnread(), c.answer) << c.sent;
  }
  EXPECT_EQ(rig.report().at_commands[4], "V1");
}

struct DialCase {
  DialResult result;
  const char* text;
};

class NetemuModemDial : public ::testing::TestWithParam<DialCase> {};

TEST_P(NetemuModemDial, GivesTheScriptedResultAfterTheDelay) {
  Options o = FastOptions();
  o.dial_result = GetParam().result;
  o.dial_delay_ms = 1500;
  Rig rig(o);
  rig.Open();
  rig.Send("ATE0\r");
  rig.TakeUnread();
  rig.Send("ATDT 36-13\r");
  EXPECT_EQ(rig.report().dialled, (std::vector<std::string>{"3613"}));
  rig.Advance(1499);
  EXPECT_EQ(rig.TakeUnread(), "");
  rig.Advance(1);
  EXPECT_EQ(rig.TakeUnread(), std::string("\r\n") + GetParam().text + "\r\n");
  EXPECT_FALSE(rig.report().carrier);
  EXPECT_FALSE(rig.Expect("TRANSPAC", 5000));
  rig.Send("AT\r");
  EXPECT_EQ(rig.TakeUnread(), "\r\nOK\r\n");  // back in command mode
}

INSTANTIATE_TEST_SUITE_P(Results, NetemuModemDial,
                         ::testing::Values(DialCase{DialResult::kBusy, "BUSY"},
                                           DialCase{DialResult::kNoAnswer, "NO ANSWER"},
                                           DialCase{DialResult::kNoCarrier, "NO CARRIER"},
                                           DialCase{DialResult::kNoDialtone, "NO DIALTONE"}));

TEST(NetemuModem, ConnectHandsTheLineToThePad) {
  Rig rig(FastOptions());
  ASSERT_TRUE(DialUp(rig));
  EXPECT_TRUE(rig.report().carrier);
  EXPECT_TRUE(rig.Expect("TRANSPAC", 1000));
  EXPECT_EQ(rig.far_end().Phase(), "PAD waiting for a command line");
}

TEST(NetemuModem, AnyByteAbortsTheDial) {
  Rig rig(FastOptions());
  rig.Open();
  rig.Send("ATE0\r");
  rig.TakeUnread();
  rig.Send("ATD3613\r");
  rig.Send("x");
  EXPECT_EQ(rig.TakeUnread(), "\r\nNO CARRIER\r\n");
  rig.Advance(5000);
  EXPECT_FALSE(rig.report().carrier);
}

TEST(NetemuModem, WrongAccessNumberIsAViolation) {
  Options o = FastOptions();
  o.access_number = "3613";
  Rig rig(o);
  rig.Open();
  rig.Send("ATE0\r");
  rig.Send("ATDT0836150000\r");
  EXPECT_TRUE(rig.Expect("NO ANSWER", 5000));
  ASSERT_EQ(rig.report().violations.size(), 1u);
  EXPECT_NE(rig.report().violations[0].what.find("0836150000"), std::string::npos);
}

TEST(NetemuModem, EscapeNeedsGuardTimeOnBothSides) {
  Rig rig(FastOptions());
  ASSERT_TRUE(DialUp(rig));
  ASSERT_TRUE(rig.Expect("TRANSPAC\r\n"));
  rig.Advance(1000);
  rig.Send("+++");
  rig.Advance(999);
  EXPECT_EQ(rig.TakeUnread(), "");
  rig.Advance(1);
  EXPECT_EQ(rig.TakeUnread(), "\r\nOK\r\n");
  rig.Send("ATH\r");
  EXPECT_EQ(rig.TakeUnread(), "\r\nOK\r\n");
  EXPECT_TRUE(rig.report().call_ended);
  EXPECT_TRUE(rig.report().hung_up_by_program);
  EXPECT_FALSE(rig.report().dropped_by_far_end);
  EXPECT_EQ(rig.report().ended_in, "PAD waiting for a command line");
  EXPECT_FALSE(rig.dropped());
}

struct EscapeCase {
  const char* name;
  std::uint64_t quiet_before;
  std::uint64_t gap_between;
  const char* after;  // sent right after the third plus
};

class NetemuModemNoEscape : public ::testing::TestWithParam<EscapeCase> {};

// The pluses then reach the PAD as data: its command line gets them.
TEST_P(NetemuModemNoEscape, PlusesAreData) {
  const EscapeCase& c = GetParam();
  Rig rig(FastOptions());
  ASSERT_TRUE(DialUp(rig));
  ASSERT_TRUE(rig.Expect("TRANSPAC"));
  rig.Send("1");
  rig.Advance(c.quiet_before);
  for (int i = 0; i < 3; ++i) {
    rig.Send("+");
    rig.Advance(c.gap_between);
  }
  rig.Send(c.after);
  rig.Advance(3000);
  rig.Send("\r");
  EXPECT_EQ(rig.TakeUnread().find("OK"), std::string::npos);
  ASSERT_EQ(rig.report().pad_lines.size(), 1u);
  EXPECT_EQ(rig.report().pad_lines[0].substr(0, 4), "1+++");
}

INSTANTIATE_TEST_SUITE_P(Cases, NetemuModemNoEscape,
                         ::testing::Values(EscapeCase{"TooLittleQuietBefore", 500, 0, ""},
                                           EscapeCase{"TooSlowBetween", 1200, 1000, ""},
                                           EscapeCase{"ByteRightAfter", 1200, 0, "2"},
                                           EscapeCase{"FourthPlus", 1200, 0, "+"}),
                         [](const ::testing::TestParamInfo<EscapeCase>& info) {
                           return info.param.name;
                         });

TEST(NetemuModem, FarEndHangUpSaysNoCarrier) {
  Options o = FastOptions();
  o.drop_at = Step::kBanner;
  Rig rig(o);
  ASSERT_TRUE(DialUp(rig));
  EXPECT_TRUE(rig.Expect("\r\nNO CARRIER\r\n", 5000));
  EXPECT_TRUE(rig.dropped());
  EXPECT_TRUE(rig.report().dropped_by_far_end);
  ASSERT_EQ(rig.actions().back().kind, Action::Kind::kDropLine);
  rig.Send("AT\r");
  EXPECT_TRUE(rig.Expect("OK", 10));  // command mode again
}

}  // namespace
}  // namespace korval::netemu::testing
