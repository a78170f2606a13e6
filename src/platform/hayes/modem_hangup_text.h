#pragma once
// While a call is up, a modem that loses the carrier falls back to command mode and
// says so in the data stream ("\r\nNO CARRIER\r\n"). That text is no data: it must
// not reach the statement, and it is the only sign of the drop on a port without
// carrier detect. Bytes that may begin it are held back until the next bytes tell,
// or for as long as the modem could take to finish it.

#include <cstdint>
#include <string>
#include <string_view>

namespace korval::platform::hayes {

class ModemHangUpText {
 public:
  static constexpr std::string_view kText = "\r\nNO CARRIER\r\n";

  // hold_ms: how long a possible beginning is kept after its last byte when no more
  // bytes come.
  explicit ModemHangUpText(std::uint32_t hold_ms = 0) : hold_ms_(hold_ms) {}
  void set_hold_ms(std::uint32_t hold_ms) { hold_ms_ = hold_ms; }

  struct Result {
    std::string data;      // bytes that are the far end's, in order
    bool hung_up = false;  // the modem's text came: the call has ended
  };

  // Bytes just read (possibly none) at now_ms on a steady clock. carrier_up: the
  // port's carrier detect, which follows the carrier, still shows it, so the modem is
  // online and the text, if it comes, is the far end's data.
  Result Feed(std::string_view bytes, std::int64_t now_ms, bool carrier_up = false);
  // The line went down: what is held goes to the data unless it is the modem's text
  // short of its last characters.
  std::string Finish();
  bool holding() const { return !held_.empty(); }
  // While holding: when an empty Feed hands the held bytes out.
  std::int64_t release_at_ms() const { return held_since_ms_ + hold_ms_; }
  void Clear() { held_.clear(); }

 private:
  std::uint32_t hold_ms_;
  std::string held_;
  std::int64_t held_since_ms_ = 0;
};

// Time for the modem to send its text at the port's rate, with a margin.
std::uint32_t HangUpTextHoldMs(std::uint32_t bits_per_second);

}  // namespace korval::platform::hayes
