#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli.h"

namespace korval::netemu {
namespace {

CliConfig Parse(const std::vector<std::string>& args) {
  CliConfig config;
  const auto error = ParseCommandLine(args, config);
  EXPECT_FALSE(error.has_value()) << *error;
  return config;
}

TEST(NetemuCli, Defaults) {
  const CliConfig c = Parse({});
  EXPECT_EQ(c.engine.mode, BankMode::kReceiveFile);
  EXPECT_EQ(c.engine.dial_result, DialResult::kConnect);
  EXPECT_TRUE(c.engine.modem);
  EXPECT_FALSE(c.once || c.timeout_ms || c.engine.drop_after_records);
}

TEST(NetemuCli, ValuesBothSpacedAndAfterEquals) {
  const CliConfig c = Parse({"--bank-number",
                             "175010123",
                             "--answer=NOK",
                             "--code1",
                             "E001",
                             "--code2=    ",
                             "--statement",
                             "/tmp/s.txt",
                             "--chunk-size",
                             "64",
                             "--chunk-pace-ms=15",
                             "--received",
                             "/tmp/r.bin",
                             "--report",
                             "/tmp/t.txt",
                             "--silent-at",
                             "end",
                             "--garbage-at",
                             "banner",
                             "--drop-at",
                             "prof7",
                             "--drop-after-bytes",
                             "1000",
                             "--once",
                             "--timeout",
                             "2.5",
                             "--record-length",
                             "560",
                             "--answer-delay-ms",
                             "10",
                             "--silence-ms",
                             "1600",
                             "--no-modem"});
  const Options& o = c.engine;
  EXPECT_EQ(o.bank_number, "175010123");
  EXPECT_EQ(o.verdict, "NOK");
  EXPECT_EQ(o.code1, "E001");
  EXPECT_EQ(o.code2, "    ");
  EXPECT_EQ(o.mode, BankMode::kSendStatement);
  EXPECT_EQ(c.statement_path, "/tmp/s.txt");
  EXPECT_EQ(o.chunk_size, 64u);
  EXPECT_EQ(o.chunk_pace_ms, 15u);
  EXPECT_EQ(c.received_path, "/tmp/r.bin");
  EXPECT_EQ(c.report_path, "/tmp/t.txt");
  EXPECT_EQ(o.silent_at, Step::kEnd);
  EXPECT_EQ(o.garbage_at, Step::kBanner);
  EXPECT_EQ(o.drop_at, Step::kProf7);
  EXPECT_EQ(o.drop_after_bytes, 1000u);
  EXPECT_TRUE(c.once);
  EXPECT_EQ(c.timeout_ms, 2500u);
  EXPECT_EQ(o.record_length, 560u);
  EXPECT_EQ(o.answer_delay_ms, 10u);
  EXPECT_EQ(o.silence_eor_ms, 1600u);
  EXPECT_FALSE(o.modem);
  EXPECT_EQ(Parse({"--answer", "OK"}).engine.verdict, "OK ");
  EXPECT_EQ(Parse({"--drop-after-records", "0"}).engine.drop_after_records, 0u);
}

TEST(NetemuCli, DialResultFlags) {
  const std::pair<const char*, DialResult> flags[] = {{"--busy", DialResult::kBusy},
                                                      {"--no-answer", DialResult::kNoAnswer},
                                                      {"--no-carrier", DialResult::kNoCarrier},
                                                      {"--no-dialtone", DialResult::kNoDialtone},
                                                      {"--dial-error", DialResult::kError}};
  for (const auto& [flag, result] : flags) EXPECT_EQ(Parse({flag}).engine.dial_result, result);
}

struct BadCase {
  std::vector<std::string> args;
  const char* reason;
};

class NetemuCliBad : public ::testing::TestWithParam<BadCase> {};

TEST_P(NetemuCliBad, IsRefused) {
  CliConfig config;
  const auto error = ParseCommandLine(GetParam().args, config);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find(GetParam().reason), std::string::npos) << *error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NetemuCliBad,
    ::testing::Values(
        BadCase{{"--frobnicate"}, "unknown option"}, BadCase{{"--report"}, "needs a value"},
        BadCase{{"--once=1"}, "takes no value"}, BadCase{{"--answer", "YES"}, "\"OK \" or \"NOK\""},
        BadCase{{"--code1", "12345"}, "at most 4"}, BadCase{{"--chunk-size", "0"}, "at least 1"},
        BadCase{{"--chunk-pace-ms", "-5"}, "whole number"}, BadCase{{"--timeout", "0"}, "positive"},
        BadCase{{"--record-length", "80"}, "160 or 560"},
        BadCase{{"--silent-at", "prof7"}, "not allowed"},
        BadCase{{"--garbage-at", "end"}, "not allowed"},
        BadCase{{"--drop-at", "nowhere"}, "not allowed"},
        BadCase{{"--drop-after-bytes", "5"}, "--statement"},
        BadCase{{"--statement", "f", "--drop-after-records", "1"}, "receives a file"},
        BadCase{{"--silent-at", "end"}, "sends a statement"}));

TEST(NetemuCli, HelpListsEveryOption) {
  const std::string help = HelpText();
  for (const char* option :
       {"--bank-number",      "--answer",       "--code1",         "--code2",
        "--statement",        "--chunk-size",   "--chunk-pace-ms", "--received",
        "--report",           "--busy",         "--no-answer",     "--no-carrier",
        "--no-dialtone",      "--silent-at",    "--drop-at",       "--drop-after-records",
        "--drop-after-bytes", "--once",         "--timeout",       "--garbage-at",
        "--no-modem",         "--record-length"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_TRUE(Parse({"--help"}).help);
}

}  // namespace
}  // namespace korval::netemu
