// The network's PAD: banner, profile command, call line, connection report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bank_site.h"
#include "env.h"

namespace korval::netemu::detail {

class Pad {
 public:
  Pad(Env& env, BankSite& bank);

  void OnCarrier();  // the modem call is up
  void Stop();       // the call is over
  void OnByte(std::uint8_t byte);
  void OnBreak(bool on);
  void OnTimer();
  std::optional<std::uint64_t> NextDeadline() const;
  const char* PhaseName() const;
  bool connected_to_bank() const { return phase_ == Phase::kBank; }

 private:
  enum class Phase {
    kIdle,
    kBannerDue,  // call up, banner not yet sent
    kCommand,    // reading command lines
    kComDue,     // call line read, COM on its way
    kNoCom,      // call line read, COM will never come
    kClearDue,   // wrong address: clearing text on its way
    kDropDue,    // will hang up
    kBank,       // connected: bytes go to the bank
  };

  void Enter(Phase phase, std::optional<std::uint64_t> delay = std::nullopt);
  void OnLine(const std::string& line);
  void Unexpected(const char* what);

  Env& env_;
  BankSite& bank_;
  Phase phase_ = Phase::kIdle;
  std::optional<std::uint64_t> timer_;
  std::string line_;
  bool line_too_long_ = false;
  bool unexpected_reported_ = false;
};

// Splits "N<nui>-<address>[D<complement>]" or "<address>[D<complement>]".
// Returns the reason when the line is not a call line.
std::optional<std::string> ParseCallLine(const std::string& line, PadCall& call);

}  // namespace korval::netemu::detail
