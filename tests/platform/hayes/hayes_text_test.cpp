#include "platform/hayes/hayes_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korval::platform::hayes {
namespace {

TEST(HayesTextTest, ClassifiesResultCodesAndIgnoresEverythingElse) {
  const struct {
    const char* line;
    ModemReply reply;
  } cases[] = {
      {"OK", ModemReply::kOk},
      {" ok ", ModemReply::kOk},
      {"CONNECT", ModemReply::kConnect},
      {"CONNECT 9600", ModemReply::kConnect},
      {"CONNECT 2400/REL", ModemReply::kConnect},
      {"connect 1200", ModemReply::kConnect},
      {"CONNECTED", ModemReply::kNone},
      {"BUSY", ModemReply::kBusy},
      {"NO ANSWER", ModemReply::kNoAnswer},
      {"NO DIALTONE", ModemReply::kNoDialtone},
      {"NO DIAL TONE", ModemReply::kNoDialtone},
      {"NO CARRIER", ModemReply::kNoCarrier},
      {"ERROR", ModemReply::kError},
      {"RING", ModemReply::kRing},
      {"RINGING", ModemReply::kNone},
      {"DELAYED", ModemReply::kDelayed},
      {"BLACKLISTED", ModemReply::kDelayed},
      // The modem's echo of our commands, and what the far end may say.
      {"ATZ", ModemReply::kNone},
      {"ATDT0123", ModemReply::kNone},
      {"ATDTOK", ModemReply::kNone},
      {"TRANSPAC", ModemReply::kNone},
      {"", ModemReply::kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyReply(c.line), c.reply) << c.line;
}

TEST(HayesTextTest, ReadsTheRateOfAConnection) {
  const struct {
    const char* line;
    std::uint32_t rate;
  } cases[] = {
      {"CONNECT", 0},
      {"CONNECT 9600", 9600},
      {"CONNECT 2400/REL", 2400},
      {"CONNECT  1200", 1200},
      {"CONNECT V22", 0},
      {"BUSY", 0},
      {"CONNECT 99999999999", 999999999},
  };
  for (const auto& c : cases) EXPECT_EQ(ConnectRate(c.line), c.rate) << c.line;
}

TEST(HayesTextTest, GivesTheDisconnectModeOfEachFailure) {
  const struct {
    ModemReply reply;
    std::uint32_t mode;
  } cases[] = {
      {ModemReply::kBusy, 0x20},
      {ModemReply::kNoAnswer, 0x40},
      {ModemReply::kNoDialtone, 0x1000},
      {ModemReply::kError, 0x80},
      {ModemReply::kNoCarrier, 0x800},
      {ModemReply::kDelayed, 0x800},
      {ModemReply::kOk, 0},
      {ModemReply::kConnect, 0},
      {ModemReply::kNone, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DisconnectModeOf(c.reply), c.mode) << static_cast<int>(c.reply);
  }
}

std::vector<std::string> Lines(ReplyScanner& scanner) {
  std::vector<std::string> lines;
  while (auto line = scanner.NextLine()) lines.push_back(*line);
  return lines;
}

TEST(HayesTextTest, CutsLinesAtAnyEnding) {
  const struct {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
    std::string rest;
  } cases[] = {
      {{"ATZ\r\r\nOK\r\n"}, {"ATZ", "OK"}, ""},
      {{"\r\nOK\r"}, {"OK"}, ""},
      {{"\nOK\n"}, {"OK"}, ""},
      {{"\r\nCON", "NECT 96", "00\r\n"}, {"CONNECT 9600"}, ""},
      {{"\r\nOK"}, {}, "OK"},
      {{"A\r", "\nB\r\n"}, {"A", "B"}, ""},
  };
  for (const auto& c : cases) {
    ReplyScanner scanner;
    std::vector<std::string> lines;
    for (const std::string& chunk : c.chunks) {
      scanner.Feed(chunk);
      for (std::string& line : Lines(scanner)) lines.push_back(line);
    }
    EXPECT_EQ(lines, c.lines) << c.chunks.front();
    EXPECT_EQ(scanner.TakeRest(), c.rest) << c.chunks.front();
  }
}

TEST(HayesTextTest, KeepsWhatFollowsConnectForTheDataStream) {
  const struct {
    std::vector<std::string> chunks;
    std::string data;
  } cases[] = {
      // The far end's banner in the same read as CONNECT, with 0x11 and 0x13 in it.
      {{"\r\nCONNECT 9600\r\nTRANSPAC\r\n\x11\x13"}, "TRANSPAC\r\n\x11\x13"},
      {{"\r\nCONNECT\r\n"}, ""},
      // The LF of the CR LF ending comes in the next read, with the data.
      {{"\r\nCONNECT 9600\r", "\nTRANSPAC"}, "TRANSPAC"},
      // A modem that ends with CR alone: the data's own LF is kept.
      {{"\r\nCONNECT\rX\n"}, "X\n"},
  };
  for (const auto& c : cases) {
    ReplyScanner scanner;
    scanner.Feed(c.chunks[0]);
    std::optional<std::string> line;
    while ((line = scanner.NextLine()) && ClassifyReply(*line) != ModemReply::kConnect) {
    }
    ASSERT_TRUE(line.has_value());
    for (std::size_t i = 1; i < c.chunks.size(); ++i) {
      EXPECT_TRUE(scanner.AwaitingLineFeed());
      scanner.Feed(c.chunks[i]);
    }
    EXPECT_EQ(scanner.TakeRest(), c.data) << c.chunks[0];
  }
}

TEST(HayesTextTest, ForgetsEverythingWhenCleared) {
  ReplyScanner scanner;
  scanner.Feed("\r\nOK\r");
  ASSERT_EQ(scanner.NextLine(), "OK");
  scanner.Feed("partial");
  scanner.Clear();
  EXPECT_FALSE(scanner.AwaitingLineFeed());
  scanner.Feed("\nBUSY\r\n");
  EXPECT_EQ(Lines(scanner), std::vector<std::string>{"BUSY"});
}

}  // namespace
}  // namespace korval::platform::hayes
