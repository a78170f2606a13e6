#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "netemu_rig.h"

namespace korval::netemu::testing {
namespace {

const std::string kCard = Pad("LCR 0001 CARTE PARAMETRE", 80);

std::string Record(std::size_t length, int index) {
  std::string text = "ENREG " + std::to_string(index) + " Durand & Fils, 12 rue de l'Eglise";
  return Pad(text, length, '.');
}

struct FileCase {
  const char* name;
  std::size_t record_length;  // on the wire
  std::size_t option_length;  // Options::record_length
  int count;
  Signal signal;
};

class NetemuFileReception : public ::testing::TestWithParam<FileCase> {};

TEST_P(NetemuFileReception, RecordsEndRecordAndOkf) {
  const FileCase& c = GetParam();
  Options o = FastOptions();
  o.record_length = c.option_length;
  o.breaks_visible = c.signal.break_visible;
  Rig rig(o);
  ASSERT_TRUE(
      ConnectAndSendCard(rig, CallLine{c.signal.profile7, "", "175010123", ""}, kCard, c.signal));
  std::string sent;
  for (int i = 0; i < c.count; ++i) {
    sent += Record(c.record_length, i + 1);
    SendRecord(rig, Record(c.record_length, i + 1), c.signal);
  }
  rig.TakeUnread();
  rig.Send(E(kEndRecord));
  EndRecord(rig, c.signal);
  ASSERT_TRUE(rig.Expect(E(kAckRecord), 10000));

  const Report& r = rig.report();
  EXPECT_TRUE(r.card_received);
  EXPECT_EQ(r.card, kCard);
  EXPECT_EQ(r.card_info.length, 80u);
  const EorKind expected_eor = !c.signal.profile7       ? EorKind::kCarriageReturn
                               : c.signal.break_visible ? EorKind::kBreak
                                                        : EorKind::kSilence;
  EXPECT_EQ(r.card_info.eor, expected_eor);
  ASSERT_EQ(r.records.size(), static_cast<std::size_t>(c.count));
  for (const RecordInfo& info : r.records) {
    EXPECT_EQ(info.length, c.record_length);
    EXPECT_EQ(info.eor, expected_eor);
    ASSERT_TRUE(info.quiet_after_ms.has_value());
    EXPECT_GE(*info.quiet_after_ms, 100u);
    EXPECT_EQ(info.invalid_bytes, 0u);
  }
  EXPECT_EQ(r.received_file, DecodeEbcdic(E(sent)));
  EXPECT_TRUE(r.end_record_received);
  EXPECT_TRUE(r.okf_sent);
  EXPECT_TRUE(r.violations.empty()) << r.violations[0].what;
  rig.Close();
  EXPECT_TRUE(r.hung_up_by_program);
  EXPECT_EQ(r.ended_in, "bank done with the file");
}

INSTANTIATE_TEST_SUITE_P(
    Files, NetemuFileReception,
    ::testing::Values(FileCase{"Short3", 160, 0, 3, {}}, FileCase{"Long2", 560, 0, 2, {}},
                      FileCase{"Short3Declared", 160, 160, 3, {}},
                      FileCase{"Long2Declared", 560, 560, 2, {}},
                      FileCase{"NoRecord", 160, 0, 0, {}},
                      FileCase{"Profile7Silence", 160, 0, 3, {true, false}},
                      FileCase{"Profile7SilenceLong", 560, 0, 2, {true, false}},
                      FileCase{"Profile7Break", 160, 0, 2, {true, true}}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return info.param.name; });

TEST(NetemuBank, CarriageReturnsInsideARecordAreData) {
  Rig rig(FastOptions());
  ASSERT_TRUE(ConnectAndSendCard(rig, CallLine{}, kCard, Signal{}));
  std::string first = Record(160, 1);
  first[50] = '\r';
  first[159] = '\r';  // the last byte, right before the signal
  SendRecord(rig, first, Signal{});
  std::string second = Record(160, 2);
  second[0] = '\r';
  second[100] = '\r';
  second[101] = '\n';
  SendRecord(rig, second, Signal{});
  const Report& r = rig.report();
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[0].length, 160u);
  EXPECT_EQ(r.records[1].length, 160u);
  ASSERT_EQ(r.received_file.size(), 320u);
  for (std::size_t at : {50u, 159u, 160u, 260u}) EXPECT_EQ(r.received_file[at], '\r') << at;
  EXPECT_EQ(r.received_file[261], ' ');  // a line feed has no EBCDIC code here
  EXPECT_TRUE(r.violations.empty()) << r.violations[0].what;
}

// Once the length is known, a carriage return right after it is the signal.
TEST(NetemuBank, CarriageReturnAtTheKnownLengthEndsTheRecord) {
  Rig rig(FastOptions());
  ASSERT_TRUE(ConnectAndSendCard(rig, CallLine{}, kCard, Signal{}));
  SendRecord(rig, Record(160, 1), Signal{});
  std::string longer = Record(560, 2);
  longer[160] = '\r';
  SendRecord(rig, longer, Signal{});
  const Report& r = rig.report();
  ASSERT_EQ(r.records.size(), 3u);
  EXPECT_EQ(r.records[1].length, 160u);
  EXPECT_EQ(r.records[2].length, 399u);
  EXPECT_FALSE(r.violations.empty());
}

TEST(NetemuBank, LongRecordWithACarriageReturnAt160) {
  Rig rig(FastOptions());
  ASSERT_TRUE(ConnectAndSendCard(rig, CallLine{}, kCard, Signal{}));
  std::string record = Record(560, 1);
  record[160] = '\r';
  SendRecord(rig, record, Signal{});
  ASSERT_EQ(rig.report().records.size(), 1u);
  EXPECT_EQ(rig.report().records[0].length, 560u);
  EXPECT_TRUE(rig.report().violations.empty());
}

struct AnswerCase {
  const char* verdict;
  const char* code1;
  const char* code2;
  const char* record;
};

class NetemuAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(NetemuAnswer, IsTwentyEbcdicBytes) {
  const AnswerCase& c = GetParam();
  Options o = FastOptions();
  o.verdict = c.verdict;
  o.code1 = c.code1;
  o.code2 = c.code2;
  Rig rig(o);
  ASSERT_TRUE(DialUp(rig));
  ASSERT_TRUE(PadDialogue(rig, CallLine{}));
  rig.Send(E(kCard));
  rig.Send("\r");
  rig.Advance(199);
  EXPECT_EQ(rig.TakeUnread(), "");
  rig.Advance(1);
  const std::string answer = rig.TakeUnread();
  EXPECT_EQ(answer, E(c.record));
  EXPECT_EQ(answer.size(), 20u);
  EXPECT_EQ(rig.report().answer, c.record);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NetemuAnswer,
    ::testing::Values(AnswerCase{"OK ", "0000", "0000", "OK 00000000         "},
                      AnswerCase{"OK ", "1234", "ABCD", "OK 1234ABCD         "},
                      AnswerCase{"NOK", "E012", "0007", "NOKE0120007         "},
                      AnswerCase{"OK ", "    ", "    ", "OK                  "},
                      AnswerCase{"NOK", "12", "", "NOK12               "}));

std::string Statement(std::size_t size) {
  std::string out;
  for (int line = 1; out.size() < size; ++line) {
    out += "RELEVE 0012345 LIGNE " + std::to_string(line) + " SOLDE 1.234,56 EUR\r\n";
  }
  out.resize(size);
  return out;
}

struct StatementCase {
  const char* name;
  std::size_t size;
  std::size_t chunk;
  std::uint64_t pace;
  Signal signal;
};

class NetemuStatement : public ::testing::TestWithParam<StatementCase> {};

TEST_P(NetemuStatement, ChunksThenEndRecordThenAck) {
  const StatementCase& c = GetParam();
  Options o = FastOptions();
  o.mode = BankMode::kSendStatement;
  o.statement = Statement(c.size);
  o.chunk_size = c.chunk;
  o.chunk_pace_ms = c.pace;
  o.breaks_visible = c.signal.break_visible;
  Rig rig(o);
  ASSERT_TRUE(
      ConnectAndSendCard(rig, CallLine{c.signal.profile7, "", "175010123", ""}, kCard, c.signal));
  const std::string wire = E(o.statement) + E(kEndRecord);
  ASSERT_TRUE(rig.Expect(E(kEndRecord), 600000));
  EXPECT_EQ(rig.all_output().substr(rig.all_output().size() - wire.size()), wire);

  // Every write but the last is one chunk, one pace after the other.
  auto answer = std::find_if(rig.actions().begin(), rig.actions().end(),
                             [](const Action& a) { return a.bytes == E("OK 00000000         "); });
  ASSERT_NE(answer, rig.actions().end());
  std::vector<Action> chunks(answer + 1, rig.actions().end());
  ASSERT_EQ(chunks.size(), (wire.size() + c.chunk - 1) / c.chunk);
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].bytes.size(), std::min(c.chunk, wire.size() - i * c.chunk));
    if (i > 0) {
      EXPECT_EQ(chunks[i].at_ms - chunks[i - 1].at_ms, c.pace);
    }
  }
  const Report& r = rig.report();
  EXPECT_EQ(r.statement_bytes_sent, E(o.statement).size());
  EXPECT_TRUE(r.statement_end_sent);
  EXPECT_FALSE(r.ack_received);

  rig.Send(E(kAckRecord));
  EndRecord(rig, c.signal);
  rig.Advance(2000);
  EXPECT_TRUE(r.ack_received);
  EXPECT_EQ(r.ack_info.length, 20u);
  EXPECT_EQ(r.ack_info.eor, !c.signal.profile7       ? EorKind::kCarriageReturn
                            : c.signal.break_visible ? EorKind::kBreak
                                                     : EorKind::kSilence);
  EXPECT_TRUE(r.violations.empty()) << r.violations[0].what;
  EXPECT_EQ(rig.far_end().Phase(), "bank done with the statement");
}

INSTANTIATE_TEST_SUITE_P(
    Statements, NetemuStatement,
    ::testing::Values(StatementCase{"Small", 300, 128, 20, {}},
                      StatementCase{"SplitEndRecord", 1000, 7, 5, {}},
                      StatementCase{"OneChunk", 50, 4096, 20, {}},
                      StatementCase{"Empty", 0, 128, 20, {}},
                      StatementCase{"Profile7Silence", 700, 256, 50, {true, false}},
                      StatementCase{"Profile7Break", 700, 256, 50, {true, true}}),
    [](const ::testing::TestParamInfo<StatementCase>& info) { return info.param.name; });

TEST(NetemuBank, StatementCanRideWithTheAnswer) {
  Options o = FastOptions();
  o.mode = BankMode::kSendStatement;
  o.statement = Statement(40);
  o.statement_delay_ms = 0;
  Rig rig(o);
  ASSERT_TRUE(DialUp(rig));
  ASSERT_TRUE(PadDialogue(rig, CallLine{}));
  rig.Send(E(kCard) + "\r");
  rig.Advance(200);
  EXPECT_EQ(rig.actions().back().bytes, E("OK 00000000         ") + E(o.statement) + E(kEndRecord));
}

struct AckCase {
  std::string sent;
  bool counted;
  const char* violation;
};

TEST(NetemuBank, OnlyTheExactAcknowledgementIsClean) {
  for (const AckCase& c : {AckCase{E("OKF"), true, "17 blanks"},
                           AckCase{E(Pad("NOK", 20)), false, "instead of the acknowledgement"}}) {
    Options o = FastOptions();
    o.mode = BankMode::kSendStatement;
    o.statement = Statement(100);
    Rig rig(o);
    ASSERT_TRUE(ConnectAndSendCard(rig, CallLine{}, kCard, Signal{}));
    ASSERT_TRUE(rig.Expect(E(kEndRecord)));
    rig.Send(c.sent + "\r");
    rig.Advance(100);
    EXPECT_EQ(rig.report().ack_received, c.counted);
    ASSERT_EQ(rig.report().violations.size(), 1u);
    EXPECT_NE(rig.report().violations[0].what.find(c.violation), std::string::npos);
  }
}

}  // namespace
}  // namespace korval::netemu::testing
