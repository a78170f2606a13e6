// What the emulated far end does, and which faults it plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korval::netemu {

// The steps at which a fault can be played.
enum class Step {
  kNone,
  kBanner,  // the PAD's banner
  kProf7,   // right after "PROF7" (drop only)
  kCom,     // the PAD's "COM" after the call line
  kCard,    // the bank's answer to the parameter card
  kOkf,     // the bank's "OKF" after a received file's end record
  kEnd,     // the bank's end record after a statement (silence only)
};

enum class DialResult { kConnect, kBusy, kNoAnswer, kNoCarrier, kNoDialtone, kError };

enum class BankMode {
  kReceiveFile,    // the program sends records
  kSendStatement,  // the program receives a statement
};

struct Options {
  // Hayes modem. Without it, OnConnected stands for the carrier coming up.
  bool modem = true;
  DialResult dial_result = DialResult::kConnect;
  std::string access_number;  // digits the program must dial; empty: any
  std::string connect_text = "CONNECT 9600";
  std::uint64_t dial_delay_ms = 2000;
  std::uint64_t escape_guard_ms = 1000;

  // PAD.
  std::string banner = "\r\n\r\nTRANSPAC\r\n";
  std::string com_text = "\r\nCOM\r\n";
  std::string clear_text = "\r\nLIB 0D 00\r\n";
  std::string bank_number;  // the bank's subscriber number; empty: any
  std::uint64_t banner_delay_ms = 500;
  std::uint64_t com_delay_ms = 300;
  std::uint64_t clear_drop_delay_ms = 100;

  // Bank site.
  BankMode mode = BankMode::kReceiveFile;
  std::size_t record_length = 0;  // 0: 160 or 560, learnt from the first record
  std::string verdict = "OK ";    // "OK " or "NOK"
  std::string code1 = "0000";     // cut or padded with blanks to 4
  std::string code2 = "0000";
  std::uint64_t answer_delay_ms = 200;
  std::uint64_t okf_delay_ms = 200;
  std::string statement;                   // ANSI text sent in EBCDIC
  std::uint64_t statement_delay_ms = 200;  // 0: the first chunk rides with the answer
  std::size_t chunk_size = 128;
  std::uint64_t chunk_pace_ms = 20;

  // Record framing on the bank side.
  std::uint64_t silence_eor_ms = 1500;  // profile 7: this much quiet ends a record
  std::uint64_t missing_eor_ms = 3000;  // otherwise: give up waiting for the signal
  std::uint64_t frame_gap_ms = 50;      // a carriage return followed by this much quiet is a signal
  std::uint64_t min_quiet_ms = 100;     // required quiet after each record
  bool breaks_visible = false;          // the host reports breaks: silence is no signal then

  // Faults.
  Step silent_at = Step::kNone;                   // kBanner, kCom, kCard, kOkf, kEnd
  Step garbage_at = Step::kNone;                  // kBanner, kCom, kCard, kOkf
  Step drop_at = Step::kNone;                     // kBanner, kProf7, kCom, kCard, kOkf
  std::optional<std::size_t> drop_after_records;  // bank receiving: after N data records
  std::optional<std::size_t> drop_after_bytes;    // bank sending: after K bytes
};

const char* StepName(Step step);
std::optional<Step> ParseStep(std::string_view name);

}  // namespace korval::netemu
