#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/record_reader.h"

namespace korval::netemu::detail {
namespace {

struct Event {
  std::uint64_t at;
  std::string bytes;
  int brk = -1;  // 1: break on, 0: off
};

struct Expected {
  std::string bytes;
  EorKind eor;
};

struct ReaderCase {
  const char* name;
  bool profile7;
  std::vector<Event> events;
  std::uint64_t until;
  std::vector<Expected> records;
};

std::vector<ReadRecord> Feed(const ReaderCase& c, std::size_t complete_at = 8) {
  RecordReader::Config config;
  config.profile7 = c.profile7;
  config.silence_is_signal = c.profile7;
  std::vector<ReadRecord> out;
  RecordReader reader(
      config, [complete_at](std::string_view r) { return r.size() == complete_at; },
      [&out](ReadRecord&& r) { out.push_back(std::move(r)); });
  std::uint64_t now = 0;
  auto run_timers = [&](std::uint64_t to) {
    while (auto due = reader.NextDeadline()) {
      if (*due > to) break;
      now = std::max(now, *due);
      reader.OnTimer(now);
    }
    now = to;
  };
  for (const Event& e : c.events) {
    run_timers(e.at);
    if (e.brk >= 0) {
      reader.OnBreak(e.brk == 1, e.at);
    } else {
      for (char b : e.bytes) reader.OnByte(static_cast<std::uint8_t>(b), e.at);
    }
  }
  run_timers(c.until);
  return out;
}

class NetemuRecordReader : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(NetemuRecordReader, Frames) {
  const ReaderCase& c = GetParam();
  const auto records = Feed(c);
  ASSERT_EQ(records.size(), c.records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].bytes, c.records[i].bytes) << i;
    EXPECT_EQ(records[i].eor, c.records[i].eor) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NetemuRecordReader,
    ::testing::Values(
        ReaderCase{"CrInsideIsData",
                   false,
                   {{0, "AB\rCD"}, {10, "\r"}},
                   100,
                   {{"AB\rCD", EorKind::kCarriageReturn}}},
        ReaderCase{"CrThenLateByteEnds",
                   false,
                   {{0, "AB\r"}, {60, "CD\r"}},
                   200,
                   {{"AB", EorKind::kCarriageReturn}, {"CD", EorKind::kCarriageReturn}}},
        ReaderCase{"CompleteWithoutSignal",
                   false,
                   {{0, "ABCDEFGH"}, {200, "IJKLMNOP\r"}},
                   300,
                   {{"ABCDEFGH", EorKind::kNone}, {"IJKLMNOP", EorKind::kCarriageReturn}}},
        ReaderCase{"CompleteCrAfterAPause",
                   false,
                   {{0, "ABCDEFGH"}, {400, "\r"}},
                   500,
                   {{"ABCDEFGH", EorKind::kCarriageReturn}}},
        ReaderCase{"NothingEverEnds", false, {{0, "ABC"}}, 3000, {{"ABC", EorKind::kNone}}},
        ReaderCase{"NotYetGivenUp", false, {{0, "ABC"}}, 2999, {}},
        ReaderCase{"Profile7Silence",
                   true,
                   {{0, "ABC"}, {1600, "DEF"}},
                   3200,
                   {{"ABC", EorKind::kSilence}, {"DEF", EorKind::kSilence}}},
        ReaderCase{"Profile7NotSilentEnough", true, {{0, "ABC"}, {1499, "DEF"}}, 2000, {}},
        ReaderCase{"Profile7CrIsData",
                   true,
                   {{0, "AB\r"}, {100, "C"}},
                   1700,
                   {{"AB\rC", EorKind::kSilence}}},
        ReaderCase{"Break",
                   true,
                   {{0, "ABC"}, {1000, "", 1}, {3000, "", 0}},
                   4000,
                   {{"ABC", EorKind::kBreak}}},
        ReaderCase{"BreakAfterSilence",
                   true,
                   {{0, "ABC"}, {2000, "", 1}, {4000, "", 0}},
                   5000,
                   {{"ABC", EorKind::kSilence}, {"", EorKind::kBreak}}}),
    [](const ::testing::TestParamInfo<ReaderCase>& info) { return info.param.name; });

}  // namespace
}  // namespace korval::netemu::detail
