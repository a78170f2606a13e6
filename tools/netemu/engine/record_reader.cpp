#include "record_reader.h"

#include <utility>

namespace korval::netemu::detail {

RecordReader::RecordReader(Config config, CompleteTest complete, Sink sink)
    : config_(config), complete_(std::move(complete)), sink_(std::move(sink)) {}

std::uint64_t RecordReader::SilenceLimit() const {
  return config_.silence_is_signal ? config_.silence_ms : config_.missing_eor_ms;
}

void RecordReader::Append(std::uint8_t byte, std::uint64_t at) {
  if (current_.empty()) {
    first_ms_ = at;
    quiet_before_.reset();
    if (quiet_since_ && !break_on_) quiet_before_ = at - *quiet_since_;
  }
  current_.push_back(static_cast<char>(byte));
  last_ms_ = at;
}

void RecordReader::Finish(EorKind kind, std::uint64_t eor_ms) {
  ReadRecord record;
  record.bytes = std::move(current_);
  current_.clear();
  record.eor = kind;
  record.first_byte_ms = first_ms_;
  record.eor_ms = eor_ms;
  record.quiet_before_ms = quiet_before_;
  quiet_since_ = eor_ms;
  sink_(std::move(record));
}

void RecordReader::ResolvePendingCr() {
  const std::uint64_t at = *pending_cr_;
  pending_cr_.reset();
  if (current_.empty()) {
    // A signal with no record before it: reported as an empty record.
    ReadRecord stray;
    stray.eor = EorKind::kCarriageReturn;
    stray.first_byte_ms = stray.eor_ms = at;
    if (quiet_since_) stray.quiet_before_ms = at - *quiet_since_;
    quiet_since_ = at;
    sink_(std::move(stray));
    return;
  }
  Finish(EorKind::kCarriageReturn, at);
}

void RecordReader::OnByte(std::uint8_t byte, std::uint64_t now) {
  if (pending_cr_) {
    if (now - *pending_cr_ >= config_.frame_gap_ms) {
      ResolvePendingCr();
    } else {
      Append(0x0D, *pending_cr_);
      pending_cr_.reset();
    }
  }
  // A complete record followed by quiet and then data bytes had no signal.
  if (byte != 0x0D && !current_.empty() && now - last_ms_ >= config_.frame_gap_ms &&
      complete_(current_)) {
    Finish(EorKind::kNone, last_ms_);
  }
  if (byte == 0x0D) {
    if (!current_.empty() && complete_(current_)) {
      Finish(EorKind::kCarriageReturn, now);
      return;
    }
    if (!config_.profile7) {
      pending_cr_ = now;
      return;
    }
  }
  Append(byte, now);
}

void RecordReader::OnBreak(bool on, std::uint64_t now) {
  if (on == break_on_) return;
  if (on) {
    if (pending_cr_) ResolvePendingCr();
    break_on_ = true;
    if (!current_.empty()) {
      Finish(EorKind::kBreak, now);
    } else {
      ReadRecord stray;  // a break after a record already ended
      stray.eor = EorKind::kBreak;
      stray.first_byte_ms = stray.eor_ms = now;
      sink_(std::move(stray));
    }
    return;
  }
  break_on_ = false;
  quiet_since_ = now;
}

void RecordReader::OnTimer(std::uint64_t now) {
  if (pending_cr_ && now - *pending_cr_ >= config_.frame_gap_ms) ResolvePendingCr();
  if (!current_.empty() && !pending_cr_ && now - last_ms_ >= SilenceLimit()) {
    Finish(config_.silence_is_signal ? EorKind::kSilence : EorKind::kNone, last_ms_);
  }
}

std::optional<std::uint64_t> RecordReader::NextDeadline() const {
  if (pending_cr_) return *pending_cr_ + config_.frame_gap_ms;
  if (!current_.empty()) return last_ms_ + SilenceLimit();
  return std::nullopt;
}

}  // namespace korval::netemu::detail
