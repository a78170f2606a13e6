#pragma once
// The dialogue with a Hayes-compatible modem in command mode: commands out, verbose
// result codes back, the modem's echo of our commands ignored.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/hayes/hayes_text.h"
#include "platform/posix/modem_device.h"

namespace korval::platform::posix {

using hayes::ModemReply;
using hayes::ReplyScanner;

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
