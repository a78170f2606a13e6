// What the far end saw of one session, for the tests and the report file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korval::netemu {

enum class EorKind {
  kNone,            // no signal: the record just stopped
  kCarriageReturn,  // byte 0x0D
  kBreak,           // a line break reported by the host
  kSilence,         // profile 7 without visible breaks: quiet after the bytes
};

const char* EorKindName(EorKind kind);

struct RecordInfo {
  std::size_t length = 0;
  EorKind eor = EorKind::kNone;
  std::uint64_t first_byte_ms = 0;
  std::uint64_t eor_ms = 0;
  std::optional<std::uint64_t> quiet_after_ms;  // until the next record's first byte
  std::size_t invalid_bytes = 0;
};

struct PadCall {
  bool seen = false;
  std::string line;  // as received, without the carriage return
  bool has_nui = false;
  std::string nui;
  std::string address;
  bool has_complement = false;
  std::string complement;
};

struct Violation {
  std::uint64_t at_ms = 0;
  std::string what;
};

struct Report {
  // Modem.
  std::vector<std::string> at_commands;  // each line after "AT", as received
  std::vector<std::string> dialled;      // numbers dialled, modifiers removed
  bool carrier = false;                  // the call reached the PAD

  // PAD.
  bool banner_sent = false;
  bool profile7 = false;
  std::vector<std::string> pad_lines;  // every line typed to the PAD
  PadCall call;                        // the call line, once understood
  bool com_sent = false;
  bool call_cleared = false;  // wrong address: clearing text instead of COM

  // Bank.
  bool card_received = false;
  std::string card;  // decoded
  RecordInfo card_info;
  std::string answer;  // the 20-character answer record sent, in ANSI
  std::vector<RecordInfo> records;
  std::string received_file;  // the data records decoded, byte for byte
  bool end_record_received = false;
  bool okf_sent = false;
  std::size_t statement_bytes_sent = 0;
  bool statement_end_sent = false;
  bool ack_received = false;
  RecordInfo ack_info;

  // End of the call.
  bool call_ended = false;
  bool dropped_by_far_end = false;
  bool hung_up_by_program = false;
  std::string ended_in;  // the phase at the end

  std::vector<Violation> violations;
};

// The report file's text.
std::string FormatReport(const Report& report);

}  // namespace korval::netemu
