#include "bank_site.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "ebcdic.h"

namespace korval::netemu::detail {
namespace {

constexpr std::size_t kCardLength = 80;
constexpr std::size_t kShortRecord = 160;
constexpr std::size_t kLongRecord = 560;

std::string Fit(const std::string& text, std::size_t width) {
  std::string out = text.substr(0, std::min(text.size(), width));
  out.resize(width, ' ');
  return out;
}

// Bytes that decode to neither verdict word nor "OKF".
std::string BankGarbage() {
  std::string out("\x00\xFF\x25\x15\x3F\x07", 6);
  out += EncodeEbcdic("?? *#* ??");
  return out;
}

std::string Hex(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte));
  return text;
}

}  // namespace

std::string EndRecordText() { return "FF" + std::string(18, ' '); }
std::string AckRecordText() { return "OKF" + std::string(17, ' '); }
std::string AnswerRecordText(const std::string& verdict, const std::string& code1,
                             const std::string& code2) {
  return Fit(verdict, 3) + Fit(code1, 4) + Fit(code2, 4) + std::string(9, ' ');
}

BankSite::BankSite(Env& env) : env_(env) {}

void BankSite::Enter(Phase phase) {
  phase_ = phase;
  timer_.reset();
  unexpected_reported_ = false;
}

void BankSite::Start(bool profile7) {
  profile7_ = profile7;
  record_length_ = env_.options.record_length;
  sent_ = 0;
  RecordReader::Config config;
  config.profile7 = profile7;
  config.silence_is_signal = profile7 && !env_.options.breaks_visible;
  config.silence_ms = env_.options.silence_eor_ms;
  config.missing_eor_ms = env_.options.missing_eor_ms;
  config.frame_gap_ms = env_.options.frame_gap_ms;
  reader_.emplace(
      config, [this](std::string_view record) { return IsComplete(record); },
      [this](ReadRecord&& record) { OnRecord(std::move(record)); });
  Enter(Phase::kCard);
}

void BankSite::Stop() {
  reader_.reset();
  Enter(Phase::kIdle);
}

const char* BankSite::PhaseName() const {
  switch (phase_) {
    case Phase::kIdle: return "bank idle";
    case Phase::kCard: return "bank reading the parameter card";
    case Phase::kAnswerDue: return "bank about to answer the card";
    case Phase::kDropDue: return "bank about to hang up after the card";
    case Phase::kSilent: return "bank not answering the card";
    case Phase::kRefused: return "bank refused the card";
    case Phase::kRecords: return "bank reading records";
    case Phase::kOkfDue: return "bank about to acknowledge the end record";
    case Phase::kFileDone: return "bank done with the file";
    case Phase::kStatementDue: return "bank about to send the statement";
    case Phase::kStatement: return "bank sending the statement";
    case Phase::kNoEnd: return "bank sent the statement without an end record";
    case Phase::kAwaitAck: return "bank waiting for the acknowledgement";
    case Phase::kDone: return "bank done with the statement";
  }
  return "?";
}

bool BankSite::IsComplete(std::string_view record) const {
  switch (phase_) {
    case Phase::kCard: return record.size() == kCardLength;
    case Phase::kRecords:
      if (record.size() == 20 && record == EncodeEbcdic(EndRecordText())) return true;
      // Until the length is known a carriage return at 160 may still be data.
      return record.size() == (record_length_ ? record_length_ : kLongRecord);
    case Phase::kAwaitAck: return record.size() == 20;
    default: return false;
  }
}

void BankSite::Unexpected(std::uint8_t byte) {
  if (unexpected_reported_) return;
  unexpected_reported_ = true;
  env_.Violate(std::string("unexpected byte ") + Hex(byte) + " while " + PhaseName());
}

void BankSite::OnByte(std::uint8_t byte) {
  switch (phase_) {
    case Phase::kCard:
    case Phase::kRecords:
    case Phase::kAwaitAck: reader_->OnByte(byte, env_.now); return;
    case Phase::kIdle: return;
    default: Unexpected(byte);
  }
}

void BankSite::OnBreak(bool on) {
  if (reader_) reader_->OnBreak(on, env_.now);
}

std::size_t BankSite::CountInvalid(const std::string& bytes, const std::string& what) {
  std::size_t count = 0;
  std::size_t first = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (!IsProducibleEbcdic(static_cast<std::uint8_t>(bytes[i]))) {
      if (count++ == 0) first = i;
    }
  }
  if (count) {
    env_.Violate(what + ": " + std::to_string(count) +
                 " byte(s) that no ANSI character converts to, first " +
                 Hex(static_cast<std::uint8_t>(bytes[first])) + " at offset " +
                 std::to_string(first));
  }
  return count;
}

void BankSite::CheckSignal(const ReadRecord& record, const std::string& what) {
  switch (record.eor) {
    case EorKind::kCarriageReturn:
      if (profile7_) env_.Violate(what + " ended by a carriage return under profile 7");
      return;
    case EorKind::kBreak:
      if (!profile7_) env_.Violate(what + " ended by a break without profile 7");
      return;
    case EorKind::kSilence: return;  // only produced under profile 7
    case EorKind::kNone: env_.Violate(what + " not followed by an end-of-record signal"); return;
  }
}

void BankSite::CheckQuietBefore(const ReadRecord& record) {
  if (env_.report.records.empty() || !record.quiet_before_ms) return;
  RecordInfo& previous = env_.report.records.back();
  previous.quiet_after_ms = record.quiet_before_ms;
  if (*record.quiet_before_ms < env_.options.min_quiet_ms) {
    env_.Violate("only " + std::to_string(*record.quiet_before_ms) + " ms of quiet after record " +
                 std::to_string(env_.report.records.size()) + ", " +
                 std::to_string(env_.options.min_quiet_ms) + " required");
  }
}

void BankSite::OnRecord(ReadRecord&& record) {
  if (record.bytes.empty()) {
    if (record.eor == EorKind::kBreak) {
      // The break that follows a record already ended by silence confirms it.
      RecordInfo* last = nullptr;
      if (phase_ == Phase::kRecords && !env_.report.records.empty()) {
        last = &env_.report.records.back();
      } else if (phase_ == Phase::kAnswerDue || phase_ == Phase::kSilent ||
                 phase_ == Phase::kDropDue) {
        last = &env_.report.card_info;
      }
      if (last && last->eor == EorKind::kSilence) last->eor = EorKind::kBreak;
      if (!profile7_) env_.Violate("break without profile 7");
      return;
    }
    env_.Violate("end-of-record signal with no record before it");
    return;
  }
  switch (phase_) {
    case Phase::kCard: OnCard(record); return;
    case Phase::kRecords: OnFileRecord(record); return;
    case Phase::kAwaitAck: OnAck(record); return;
    default:
      env_.Violate("record of " + std::to_string(record.bytes.size()) + " bytes while " +
                   PhaseName());
      return;
  }
}

void BankSite::OnCard(const ReadRecord& record) {
  Report& report = env_.report;
  report.card_received = true;
  report.card = DecodeEbcdic(record.bytes);
  report.card_info.length = record.bytes.size();
  report.card_info.eor = record.eor;
  report.card_info.first_byte_ms = record.first_byte_ms;
  report.card_info.eor_ms = record.eor_ms;
  if (record.bytes.size() != kCardLength) {
    env_.Violate("parameter card of " + std::to_string(record.bytes.size()) + " bytes, " +
                 std::to_string(kCardLength) + " expected");
  }
  report.card_info.invalid_bytes = CountInvalid(record.bytes, "parameter card");
  CheckSignal(record, "parameter card");

  const Options& o = env_.options;
  if (o.silent_at == Step::kCard) {
    Enter(Phase::kSilent);
  } else if (o.drop_at == Step::kCard) {
    Enter(Phase::kDropDue);
    timer_ = env_.now + o.answer_delay_ms;
  } else {
    Enter(Phase::kAnswerDue);
    timer_ = env_.now + o.answer_delay_ms;
  }
}

void BankSite::Answer() {
  const Options& o = env_.options;
  if (o.garbage_at == Step::kCard) {
    env_.Send(BankGarbage());
    Enter(Phase::kSilent);
    return;
  }
  const std::string answer = AnswerRecordText(o.verdict, o.code1, o.code2);
  env_.report.answer = answer;
  env_.Send(EncodeEbcdic(answer));
  if (answer.compare(0, 3, "OK ") != 0) {
    Enter(Phase::kRefused);
    return;
  }
  if (o.mode == BankMode::kReceiveFile) {
    Enter(Phase::kRecords);
    if (o.drop_after_records && *o.drop_after_records == 0) env_.RequestDrop();
    return;
  }
  stream_ = EncodeEbcdic(o.statement);
  data_size_ = stream_.size();
  if (o.silent_at != Step::kEnd) stream_ += EncodeEbcdic(EndRecordText());
  Enter(Phase::kStatementDue);
  if (o.statement_delay_ms == 0) {
    SendChunk();  // rides in the same write as the answer
  } else {
    timer_ = env_.now + o.statement_delay_ms;
  }
}

void BankSite::SendChunk() {
  const Options& o = env_.options;
  Enter(Phase::kStatement);
  std::size_t n = std::min(std::max<std::size_t>(o.chunk_size, 1), stream_.size() - sent_);
  if (o.drop_after_bytes)
    n = std::min(n, *o.drop_after_bytes - std::min(sent_, *o.drop_after_bytes));
  env_.Send(std::string_view(stream_).substr(sent_, n));
  sent_ += n;
  env_.report.statement_bytes_sent = std::min(sent_, data_size_);
  if (o.drop_after_bytes && sent_ >= *o.drop_after_bytes) {
    env_.RequestDrop();
    return;
  }
  if (sent_ < stream_.size()) {
    timer_ = env_.now + o.chunk_pace_ms;
    return;
  }
  if (o.silent_at == Step::kEnd) {
    Enter(Phase::kNoEnd);
    return;
  }
  env_.report.statement_end_sent = true;
  Enter(Phase::kAwaitAck);
}

void BankSite::OnFileRecord(const ReadRecord& record) {
  Report& report = env_.report;
  CheckQuietBefore(record);
  if (record.bytes == EncodeEbcdic(EndRecordText())) {
    report.end_record_received = true;
    CheckSignal(record, "end record");
    const Options& o = env_.options;
    if (o.silent_at == Step::kOkf) {
      Enter(Phase::kFileDone);
    } else {
      Enter(Phase::kOkfDue);
      timer_ = env_.now + o.okf_delay_ms;
    }
    return;
  }
  const std::size_t index = report.records.size() + 1;
  const std::string what = "record " + std::to_string(index);
  RecordInfo info;
  info.length = record.bytes.size();
  info.eor = record.eor;
  info.first_byte_ms = record.first_byte_ms;
  info.eor_ms = record.eor_ms;
  if (record_length_ == 0) {
    if (info.length == kShortRecord || info.length == kLongRecord) {
      record_length_ = info.length;
    } else {
      env_.Violate(what + " of " + std::to_string(info.length) + " bytes, 160 or 560 expected");
    }
  } else if (info.length != record_length_) {
    env_.Violate(what + " of " + std::to_string(info.length) + " bytes, " +
                 std::to_string(record_length_) + " expected");
  }
  info.invalid_bytes = CountInvalid(record.bytes, what);
  CheckSignal(record, what);
  report.records.push_back(info);
  report.received_file += DecodeEbcdic(record.bytes);
  if (env_.options.drop_after_records &&
      report.records.size() >= *env_.options.drop_after_records) {
    env_.RequestDrop();
  }
}

void BankSite::OnAck(const ReadRecord& record) {
  Report& report = env_.report;
  const std::string text = DecodeEbcdic(record.bytes);
  if (text.compare(0, 3, "OKF") != 0) {
    env_.Violate("record of " + std::to_string(record.bytes.size()) +
                 " bytes instead of the acknowledgement: \"" + text + "\"");
    return;
  }
  report.ack_received = true;
  report.ack_info.length = record.bytes.size();
  report.ack_info.eor = record.eor;
  report.ack_info.first_byte_ms = record.first_byte_ms;
  report.ack_info.eor_ms = record.eor_ms;
  if (record.bytes != EncodeEbcdic(AckRecordText())) {
    env_.Violate("acknowledgement \"" + text + "\" is not \"OKF\" and 17 blanks");
  }
  report.ack_info.invalid_bytes = CountInvalid(record.bytes, "acknowledgement");
  CheckSignal(record, "acknowledgement");
  Enter(Phase::kDone);
}

void BankSite::SendOkf() {
  const Options& o = env_.options;
  if (o.drop_at == Step::kOkf) {
    env_.RequestDrop();
    return;
  }
  if (o.garbage_at == Step::kOkf) {
    env_.Send(BankGarbage());
  } else {
    env_.Send(EncodeEbcdic(AckRecordText()));
    env_.report.okf_sent = true;
  }
  Enter(Phase::kFileDone);
}

void BankSite::OnTimer() {
  if (reader_) {
    if (auto due = reader_->NextDeadline(); due && *due <= env_.now) reader_->OnTimer(env_.now);
  }
  if (!timer_ || *timer_ > env_.now) return;
  timer_.reset();
  switch (phase_) {
    case Phase::kAnswerDue: Answer(); return;
    case Phase::kDropDue: env_.RequestDrop(); return;
    case Phase::kOkfDue: SendOkf(); return;
    case Phase::kStatementDue:
    case Phase::kStatement: SendChunk(); return;
    default: return;
  }
}

std::optional<std::uint64_t> BankSite::NextDeadline() const {
  std::optional<std::uint64_t> due = timer_;
  if (reader_) due = Earliest(due, reader_->NextDeadline());
  return due;
}

}  // namespace korval::netemu::detail
