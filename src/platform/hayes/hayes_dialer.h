#pragma once
// The dialogue of one outgoing data call with a Hayes-compatible modem in command
// mode: the init command and its OK, ATD and the modem's verdict, stopping a dial,
// and hanging up with the escape's guard times. It runs over any port the back-end
// adapts to HayesPort, on the clock it is given; it reports nothing itself.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/hayes/hayes_port.h"
#include "platform/hayes/hayes_text.h"

namespace korval::platform::hayes {

struct DialTimings {
  std::uint32_t reply_ms = 5000;          // for OK after a command
  std::uint32_t dial_timeout_ms = 60000;  // for the verdict after ATD
  std::uint32_t guard_ms = 1000;          // silence before and after "+++"
  std::uint32_t dtr_drop_ms = 500;        // DTR held low to hang up
};

struct ModemAnswer {
  HayesPort::Result result = HayesPort::Result::kFailed;  // kDone: reply is a result code
  ModemReply reply = ModemReply::kNone;
  std::string line;
};

class HayesDialer {
 public:
  HayesDialer(HayesPort& port, Clock& clock, DialTimings timings)
      : port_(port), clock_(clock), timings_(timings) {}

  HayesPort::Result Send(std::string_view text) { return port_.Write(text); }
  // Reads until a result code other than RING, at most timeout_ms.
  ModemAnswer Await(std::uint32_t timeout_ms);
  // command + CR, then its answer.
  ModemAnswer Command(std::string_view command, std::uint32_t timeout_ms);
  ModemAnswer Initialise(std::string_view init) { return Command(init, timings_.reply_ms); }
  // "ATD" + number + CR; what the modem said before it is forgotten.
  HayesPort::Result Dial(std::string_view number);
  // The modem's verdict on the dial, within the dial time-out.
  ModemAnswer AwaitVerdict();
  // After CONNECT: what came after its line, the start of the data stream.
  std::string TakeData() { return scanner_.TakeRest(); }
  // Any character stops a dialling modem; one that connected meanwhile is hung up.
  void AbortDial();
  // DTR low, then the escape and ATH for a modem that ignores DTR, all within
  // HangUpBoundMs: a modem that ignores the escape must not hold every job's end,
  // nor a stop, for the length of its reply time-outs.
  void HangUp();
  // About 3 s with the usual timings, and the last command's short wait beyond it.
  static std::uint32_t HangUpBoundMs(const DialTimings& timings);
  static constexpr std::uint32_t kLastCommandMs = 200;

 private:
  std::uint32_t LeftMs(std::uint32_t deadline);

  HayesPort& port_;
  Clock& clock_;
  const DialTimings timings_;
  ReplyScanner scanner_;
};

}  // namespace korval::platform::hayes
