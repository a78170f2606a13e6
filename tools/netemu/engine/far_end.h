// The far end of the program's modem line: a Hayes modem, the network's PAD
// and the bank's site, as one event-driven state machine.
//
// Time is always passed in (milliseconds, any origin, never decreasing); the
// engine never reads a clock. The host calls the On* methods when something
// happens and OnTick when NextDeadline has been reached, then performs the
// actions taken from TakeActions in order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "action.h"
#include "options.h"
#include "report.h"

namespace korval::netemu {

class FarEnd {
 public:
  explicit FarEnd(Options options);
  ~FarEnd();
  FarEnd(const FarEnd&) = delete;
  FarEnd& operator=(const FarEnd&) = delete;

  // The program has opened the line: a new session and a fresh report. With
  // the modem layer the modem then waits for AT commands; without it this is
  // the moment the call reaches the PAD.
  void OnConnected(std::uint64_t now_ms);
  // The program has closed the line (a DTR drop): any call is hung up.
  void OnHangUp(std::uint64_t now_ms);
  void OnBytes(std::string_view bytes, std::uint64_t now_ms);
  // A line break from the program starts (on) or ends.
  void OnBreak(bool on, std::uint64_t now_ms);
  void OnTick(std::uint64_t now_ms);

  // When OnTick is next wanted; nothing while only input can move things on.
  std::optional<std::uint64_t> NextDeadline() const;
  // Actions due so far, oldest first; each is handed out once.
  std::vector<Action> TakeActions();

  const Report& report() const;
  const Options& options() const;
  // Where the dialogue stands, in words.
  std::string Phase() const;
  // A call has ended (either side hung up) since the line was opened.
  bool call_ended() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korval::netemu
