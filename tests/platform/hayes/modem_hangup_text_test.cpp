#include "platform/hayes/modem_hangup_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korval::platform::hayes {
namespace {

struct Piece {
  std::string bytes;
  std::int64_t at_ms;
  bool carrier_up = false;
};

struct HangUpCase {
  const char* name;
  std::vector<Piece> pieces;
  std::string data;  // what reaches the far end's stream, all pieces taken
  bool hung_up;
};

class HangUpTextTest : public testing::TestWithParam<HangUpCase> {};

TEST_P(HangUpTextTest, TheModemsTextNeverReachesTheData) {
  ModemHangUpText text(50);
  std::string data;
  bool hung_up = false;
  for (const Piece& piece : GetParam().pieces) {
    ModemHangUpText::Result result = text.Feed(piece.bytes, piece.at_ms, piece.carrier_up);
    data += result.data;
    hung_up = hung_up || result.hung_up;
  }
  EXPECT_EQ(data, GetParam().data);
  EXPECT_EQ(hung_up, GetParam().hung_up);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, HangUpTextTest,
    testing::Values(
        HangUpCase{"Whole", {{"abc\r\nNO CARRIER\r\n", 0}}, "abc", true},
        HangUpCase{"SplitEverywhere",
                   {{"abc\r", 0}, {"\nNO C", 10}, {"ARRIER", 20}, {"\r", 30}, {"\n", 40}},
                   "abc",
                   true},
        HangUpCase{"NothingAfterItIsData", {{"x\r\nNO CARRIER\r\nOK\r\n", 0}}, "x", true},
        HangUpCase{
            "BeginningThatTurnsOut", {{"COM\r\n", 0}, {"NO CARGO", 5}}, "COM\r\nNO CARGO", false},
        HangUpCase{"HeldUntilQuiet", {{"COM\r\n", 0}, {"", 49}, {"", 50}}, "COM\r\n", false},
        HangUpCase{"QuietCountsFromTheLastByte",
                   {{"\r\nNO", 0}, {" CA", 40}, {"", 80}, {"RRIER\r\n", 85}},
                   "",
                   true},
        HangUpCase{"AnEndLineInTheMiddle", {{"a\r\nb\r\nc", 0}}, "a\r\nb\r\nc", false},
        HangUpCase{"FarEndsTextWhileTheCarrierIsUp",
                   {{"a\r\nNO CA", 0, true}, {"RRIER\r\nb", 5, true}},
                   "a\r\nNO CARRIER\r\nb",
                   false},
        HangUpCase{"HeldBytesGoOutWhenTheCarrierTurnsOutUp",
                   {{"a\r\nNO", 0}, {" CARRIER\r\n", 5, true}},
                   "a\r\nNO CARRIER\r\n",
                   false},
        HangUpCase{"BinaryData",
                   {{std::string("\x0D\x25\x00\xFF", 4), 0}},
                   std::string("\x0D\x25\x00\xFF", 4),
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HangUpTextFinish, WhatIsHeldAtTheEndIsDataUnlessItIsTheModemsWords) {
  ModemHangUpText text(50);
  EXPECT_EQ(text.Feed("end\r\n", 0).data, "end");
  EXPECT_EQ(text.Finish(), "\r\n");
  EXPECT_EQ(text.Feed("\r\nNO CARRIER\r", 0).data, "");
  EXPECT_EQ(text.Finish(), "");
}

TEST(HangUpTextHold, CoversTheTextAtSlowRates) {
  EXPECT_LE(HangUpTextHoldMs(9600), 60u);  // a line end is not held for long
  EXPECT_EQ(HangUpTextHoldMs(0), HangUpTextHoldMs(9600));
  EXPECT_GE(HangUpTextHoldMs(1200), 2 * 14 * 10 * 1000 / 1200u);
}

}  // namespace
}  // namespace korval::platform::hayes
