// Cuts the bank-bound byte stream into records at their end-of-record signals.
//
// A carriage return is a signal only outside profile 7. It ends the record at
// once when the record is complete (a length the caller accepts); elsewhere it
// may be a data byte (the source file had one), so it counts as a signal only
// when quiet follows it. Under profile 7 the break ends a record, or, when the
// host cannot see breaks, a long enough silence after the record's bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "report.h"

namespace korval::netemu::detail {

struct ReadRecord {
  std::string bytes;  // raw EBCDIC; empty for a signal without a record
  EorKind eor = EorKind::kNone;
  std::uint64_t first_byte_ms = 0;
  std::uint64_t eor_ms = 0;
  std::optional<std::uint64_t> quiet_before_ms;  // since the previous signal
};

class RecordReader {
 public:
  struct Config {
    bool profile7 = false;
    bool silence_is_signal = false;  // profile 7 and no visible breaks
    std::uint64_t silence_ms = 1500;
    std::uint64_t missing_eor_ms = 3000;
    std::uint64_t frame_gap_ms = 50;
  };
  using Sink = std::function<void(ReadRecord&&)>;
  using CompleteTest = std::function<bool(std::string_view)>;

  RecordReader(Config config, CompleteTest complete, Sink sink);

  void OnByte(std::uint8_t byte, std::uint64_t now);
  void OnBreak(bool on, std::uint64_t now);
  void OnTimer(std::uint64_t now);
  std::optional<std::uint64_t> NextDeadline() const;

 private:
  void Append(std::uint8_t byte, std::uint64_t at);
  void Finish(EorKind kind, std::uint64_t eor_ms);
  void ResolvePendingCr();
  std::uint64_t SilenceLimit() const;

  Config config_;
  CompleteTest complete_;
  Sink sink_;
  std::string current_;
  std::uint64_t first_ms_ = 0;
  std::uint64_t last_ms_ = 0;
  std::optional<std::uint64_t> quiet_before_;
  std::optional<std::uint64_t> pending_cr_;
  std::optional<std::uint64_t> quiet_since_;
  bool break_on_ = false;
};

}  // namespace korval::netemu::detail
