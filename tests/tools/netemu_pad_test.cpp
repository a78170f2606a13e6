#include <gtest/gtest.h>

#include <string>

#include "engine/pad.h"
#include "netemu_rig.h"

namespace korval::netemu::testing {
namespace {

struct ParseCase {
  const char* line;
  bool ok;
  bool has_nui;
  const char* nui;
  const char* address;
  bool has_complement;
  const char* complement;
};

class NetemuCallLine : public ::testing::TestWithParam<ParseCase> {};

TEST_P(NetemuCallLine, Splits) {
  const ParseCase& c = GetParam();
  PadCall call;
  const auto error = detail::ParseCallLine(c.line, call);
  EXPECT_EQ(!error.has_value(), c.ok) << c.line << ": " << error.value_or("");
  if (!c.ok) return;
  EXPECT_EQ(call.has_nui, c.has_nui);
  EXPECT_EQ(call.nui, c.nui);
  EXPECT_EQ(call.address, c.address);
  EXPECT_EQ(call.has_complement, c.has_complement);
  EXPECT_EQ(call.complement, c.complement);
  EXPECT_EQ(call.line, c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, NetemuCallLine,
    ::testing::Values(ParseCase{"175010123", true, false, "", "175010123", false, ""},
                      ParseCase{"175010123DABC12", true, false, "", "175010123", true, "ABC12"},
                      ParseCase{"NXY77-175010123", true, true, "XY77", "175010123", false, ""},
                      ParseCase{"NXY77-175010123DZ9", true, true, "XY77", "175010123", true, "Z9"},
                      ParseCase{"N1-2D-3", true, true, "1", "2", true, "-3"},
                      ParseCase{"NXY77175010123", false, false, "", "", false, ""},
                      ParseCase{"N-175010123", false, false, "", "", false, ""},
                      ParseCase{"NXY77-", false, false, "", "", false, ""},
                      ParseCase{"175010123D", false, false, "", "", false, ""},
                      ParseCase{"175010123 ", false, false, "", "", false, ""},
                      ParseCase{"17501X0123", false, false, "", "", false, ""},
                      ParseCase{"D123", false, false, "", "", false, ""},
                      ParseCase{"prof7", false, false, "", "", false, ""}));

struct DialogueCase {
  const char* name;
  CallLine call;
  const char* line;
};

class NetemuPadDialogue : public ::testing::TestWithParam<DialogueCase> {};

TEST_P(NetemuPadDialogue, ReachesTheBank) {
  const DialogueCase& c = GetParam();
  Rig rig(FastOptions());
  ASSERT_TRUE(DialUp(rig));
  ASSERT_TRUE(PadDialogue(rig, c.call));
  const Report& r = rig.report();
  EXPECT_TRUE(r.banner_sent);
  EXPECT_EQ(r.profile7, c.call.profile7);
  EXPECT_TRUE(r.call.seen);
  EXPECT_EQ(r.call.line, c.line);
  EXPECT_EQ(r.call.has_nui, !c.call.nui.empty());
  EXPECT_EQ(r.call.nui, c.call.nui);
  EXPECT_EQ(r.call.address, c.call.address);
  EXPECT_EQ(r.call.has_complement, !c.call.complement.empty());
  EXPECT_EQ(r.call.complement, c.call.complement);
  EXPECT_TRUE(r.com_sent);
  EXPECT_TRUE(r.violations.empty()) << r.violations[0].what;
  EXPECT_EQ(rig.far_end().Phase(), "bank reading the parameter card");
}

INSTANTIATE_TEST_SUITE_P(
    Calls, NetemuPadDialogue,
    ::testing::Values(
        DialogueCase{"Plain", {false, "", "175010123", ""}, "175010123"},
        DialogueCase{"Profile7", {true, "", "175010123", ""}, "175010123"},
        DialogueCase{"Nui", {false, "AB12", "175010123", ""}, "NAB12-175010123"},
        DialogueCase{"Complement", {false, "", "175010123", "C0MPL"}, "175010123DC0MPL"},
        DialogueCase{"Everything", {true, "AB12", "175010123", "XYZ"}, "NAB12-175010123DXYZ"}),
    [](const ::testing::TestParamInfo<DialogueCase>& info) { return info.param.name; });

TEST(NetemuPad, OtherAddressIsClearedAndDropped) {
  Rig rig(FastOptions());
  ASSERT_TRUE(DialUp(rig));
  ASSERT_TRUE(rig.Expect("TRANSPAC"));
  rig.Send("175019999\r");
  rig.Advance(2000);
  const std::string out = rig.TakeUnread();
  EXPECT_NE(out.find("LIB"), std::string::npos);
  EXPECT_EQ(out.find("COM"), std::string::npos);
  EXPECT_NE(out.find("NO CARRIER"), std::string::npos);
  EXPECT_TRUE(rig.dropped());
  EXPECT_TRUE(rig.report().call_cleared);
  EXPECT_FALSE(rig.report().com_sent);
  EXPECT_EQ(rig.report().violations.size(), 1u);
}

struct PadFaultCase {
  const char* name;
  const char* before_banner;  // sent before the banner
  const char* lines;          // sent after it
  std::size_t violations;
  bool com;
};

class NetemuPadUnexpected : public ::testing::TestWithParam<PadFaultCase> {};

TEST_P(NetemuPadUnexpected, IsReported) {
  const PadFaultCase& c = GetParam();
  Rig rig(FastOptions());
  ASSERT_TRUE(DialUp(rig));
  rig.Send(c.before_banner);
  ASSERT_TRUE(rig.Expect("TRANSPAC"));
  rig.Send(c.lines);
  const bool com = rig.Expect("COM", 5000);
  EXPECT_EQ(com, c.com);
  EXPECT_EQ(rig.report().violations.size(), c.violations);
  for (const Violation& v : rig.report().violations) EXPECT_FALSE(v.what.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NetemuPadUnexpected,
    ::testing::Values(PadFaultCase{"BytesBeforeBanner", "175010123\r", "175010123\r", 1, true},
                      PadFaultCase{"UnknownLine", "", "HELLO\r175010123\r", 1, true},
                      PadFaultCase{"EmptyLine", "", "\r175010123\r", 1, true},
                      PadFaultCase{"Prof7Twice", "", "PROF7\rPROF7\r175010123\r", 1, true},
                      PadFaultCase{"BytesBeforeCom", "", "175010123\rX", 1, true},
                      PadFaultCase{"LineFeedsAreIgnored", "", "\n1750\n10123\r", 0, true},
                      PadFaultCase{"LineFeedAfterTheCallLine", "", "175010123\r\n", 1, true},
                      PadFaultCase{"NuiWithoutDash", "", "NAB12175010123\r", 1, false}),
    [](const ::testing::TestParamInfo<PadFaultCase>& info) { return info.param.name; });

TEST(NetemuPad, ErrAnswersALineNotUnderstood) {
  Rig rig(FastOptions());
  ASSERT_TRUE(DialUp(rig));
  ASSERT_TRUE(rig.Expect("TRANSPAC\r\n"));
  rig.Send("ZZZ\r");
  EXPECT_EQ(rig.TakeUnread(), "\r\nERR\r\n");
}

TEST(NetemuPad, WithoutModemTheOpenBringsTheBanner) {
  Options o = FastOptions();
  o.modem = false;
  Rig rig(o);
  rig.Open();
  ASSERT_TRUE(PadDialogue(rig, CallLine{}));
  rig.Close();
  EXPECT_TRUE(rig.report().call_ended);
  EXPECT_TRUE(rig.report().hung_up_by_program);
}

}  // namespace
}  // namespace korval::netemu::testing
