// The Hayes modem between the program and the network: AT commands, dialling,
// the data phase and the "+++" escape.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "env.h"

namespace korval::netemu::detail {

class HayesModem {
 public:
  struct Hooks {
    std::function<void()> call_up;              // carrier: the PAD takes over
    std::function<void(std::uint8_t)> deliver;  // a data byte for the PAD
    std::function<void()> program_hung_up;      // ATH, ATZ or the line closed
  };

  HayesModem(Env& env, Hooks hooks);

  void Attach();  // the program has opened the line
  void Detach();  // the program has closed it
  void OnByte(std::uint8_t byte);
  void OnTimer();
  std::optional<std::uint64_t> NextDeadline() const;
  void CarrierLost();  // the far end has hung up
  const char* PhaseName() const;
  bool online() const { return phase_ == Phase::kOnline; }
  bool call_up() const { return phase_ == Phase::kOnline || phase_ == Phase::kOnlineCommand; }

 private:
  enum class Phase { kDetached, kCommand, kDialing, kOnline, kOnlineCommand };
  enum class Result { kOk, kConnect, kNoCarrier, kError, kNoDialtone, kBusy, kNoAnswer };

  void Reset();
  void CommandByte(std::uint8_t byte);
  void OnlineByte(std::uint8_t byte);
  void Execute(const std::string& line);
  void Dial(const std::string& dial_string);
  void HangUp();
  void SendResult(Result result);
  void FlushHeldPlus();

  Env& env_;
  Hooks hooks_;
  Phase phase_ = Phase::kDetached;

  // Settings the program can change.
  bool echo_ = true;
  bool verbose_ = true;
  bool quiet_ = false;
  std::uint8_t escape_char_ = '+';
  std::uint64_t guard_ms_ = 1000;
  std::map<int, int> registers_;

  // Command line being typed.
  bool seen_a_ = false;
  bool in_line_ = false;
  bool line_overflow_ = false;
  std::string line_;
  std::string last_line_;

  std::optional<std::uint64_t> dial_due_;

  // Escape detection: pluses are held back until the sequence fails.
  std::uint64_t last_rx_ms_ = 0;
  int plus_count_ = 0;
  std::uint64_t plus_last_ms_ = 0;
};

}  // namespace korval::netemu::detail
