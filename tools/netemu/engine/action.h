#pragma once

#include <cstdint>
#include <string>

namespace korval::netemu {

// Something the far end does towards the program. at_ms is when it fell
// due: the time of the event that caused it, or of the deadline it waited
// for, never later than the time given in the call that released it.
struct Action {
  enum class Kind {
    kSend,      // write bytes to the program
    kDropLine,  // the far end has hung up (the modem has said so already)
  };
  std::uint64_t at_ms = 0;
  Kind kind = Kind::kSend;
  std::string bytes;
};

}  // namespace korval::netemu
