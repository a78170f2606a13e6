#pragma once
// What a Hayes-compatible modem says in command mode, read without any port: the
// result codes, the rate of a connection, and the cutting of its text into lines.
// Shared by every back-end that talks to such a modem.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korval::platform::hayes {

enum class ModemReply {
  kNone,  // echo, blank line, or anything that is not a result code
  kOk,
  kConnect,
  kRing,
  kNoCarrier,
  kError,
  kNoDialtone,
  kBusy,
  kNoAnswer,
  kDelayed,  // the modem refuses to dial that number again for now
};

ModemReply ClassifyReply(std::string_view line);
// The rate of "CONNECT 9600/ARQ": 9600; 0 when the line gives none.
std::uint32_t ConnectRate(std::string_view line);
// The disconnect mode of a reply that ends a dial attempt; 0 for OK, CONNECT, none.
std::uint32_t DisconnectModeOf(ModemReply reply);

// Cuts what the modem sends into lines, ended by CR, LF or both.
class ReplyScanner {
 public:
  void Feed(std::string_view bytes) { pending_.append(bytes.data(), bytes.size()); }
  // The next complete, non-empty line without its end; nothing until one is complete.
  std::optional<std::string> NextLine();
  // Everything after the last line taken (the start of the data stream after a
  // CONNECT), without the LF that completes a CR ending.
  std::string TakeRest();
  // The last line ended with a CR that was the last byte received: an LF may follow.
  bool AwaitingLineFeed() const { return last_cr_ && pending_.empty(); }
  void Clear();

 private:
  std::string pending_;
  bool last_cr_ = false;  // the last line taken ended with CR
};

}  // namespace korval::platform::hayes
