#pragma once
// The dialogue with a Hayes-compatible modem in command mode: commands out, verbose
// result codes back, the modem's echo of our commands ignored.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/modem_device.h"

namespace korval::platform::posix {

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

struct ChatOutcome {
  enum class Kind { kDone, kTimeout, kInterrupted, kFailed };
  Kind kind = Kind::kFailed;
  ModemReply reply = ModemReply::kNone;
  std::string line;
  int error = 0;  // errno, for kFailed
};

class ModemChat {
 public:
  // Waits end early when wake_fd (-1 for none) becomes readable and interrupted()
  // then says so.
  ModemChat(ModemDevice& device, int wake_fd, std::function<bool()> interrupted);

  ChatOutcome Send(std::string_view text);
  // Reads until a result code other than RING, at most timeout_ms.
  ChatOutcome Await(std::uint32_t timeout_ms);
  // Send(command + CR), then Await.
  ChatOutcome Command(std::string_view command, std::uint32_t timeout_ms);
  ReplyScanner& scanner() { return scanner_; }

 private:
  bool Interrupted() const { return interrupted_ && interrupted_(); }

  ModemDevice& device_;
  int wake_fd_;
  std::function<bool()> interrupted_;
  ReplyScanner scanner_;
};

}  // namespace korval::platform::posix
