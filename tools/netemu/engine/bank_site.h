// The bank's site behind the PAD: everything here is EBCDIC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "env.h"
#include "record_reader.h"

namespace korval::netemu::detail {

class BankSite {
 public:
  explicit BankSite(Env& env);

  void Start(bool profile7);  // the PAD has reported the connection
  void Stop();                // the call is over
  void OnByte(std::uint8_t byte);
  void OnBreak(bool on);
  void OnTimer();
  std::optional<std::uint64_t> NextDeadline() const;
  const char* PhaseName() const;

 private:
  enum class Phase {
    kIdle,
    kCard,          // reading the parameter card
    kAnswerDue,     // card read, answer on its way
    kDropDue,       // will hang up instead of answering
    kSilent,        // will never answer
    kRefused,       // "NOK" sent; waiting for the hang-up
    kRecords,       // reading file records
    kOkfDue,        // end record read, "OKF" on its way
    kFileDone,      // "OKF" (or nothing) sent
    kStatementDue,  // answer sent, statement to start
    kStatement,     // sending the statement
    kNoEnd,         // statement sent without its end record
    kAwaitAck,      // waiting for "OKF"
    kDone,          // acknowledgement received
  };

  void Enter(Phase phase);
  bool IsComplete(std::string_view record) const;
  void OnRecord(ReadRecord&& record);
  void OnCard(const ReadRecord& record);
  void OnFileRecord(const ReadRecord& record);
  void OnAck(const ReadRecord& record);
  void Answer();
  void SendOkf();
  void SendChunk();
  void CheckSignal(const ReadRecord& record, const std::string& what);
  void CheckQuietBefore(const ReadRecord& record);
  std::size_t CountInvalid(const std::string& bytes, const std::string& what);
  void Unexpected(std::uint8_t byte);

  Env& env_;
  Phase phase_ = Phase::kIdle;
  bool profile7_ = false;
  std::optional<RecordReader> reader_;
  std::optional<std::uint64_t> timer_;
  std::size_t record_length_ = 0;  // 0 until known
  std::string stream_;             // statement and end record, in EBCDIC
  std::size_t data_size_ = 0;      // statement part of stream_
  std::size_t sent_ = 0;
  bool unexpected_reported_ = false;
};

// The fixed 20-character records of the dialogue, in ANSI.
std::string EndRecordText();  // "FF" and 18 blanks
std::string AckRecordText();  // "OKF" and 17 blanks
std::string AnswerRecordText(const std::string& verdict, const std::string& code1,
                             const std::string& code2);

}  // namespace korval::netemu::detail
