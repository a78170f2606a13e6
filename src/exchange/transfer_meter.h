#pragma once
// The figures of a long transfer, handed to the front-end's status line.

#include <cstdint>

#include "platform/window_system.h"

namespace korval {
struct Process;
}

namespace korval::exchange {

// Times the transfer from its construction; the status line goes when the meter
// does, by whatever path the transfer ends.
class TransferMeter {
 public:
  using Direction = platform::TransferProgress::Direction;
  TransferMeter(Process& process, Direction direction, std::uint64_t records_total = 0);
  ~TransferMeter();
  TransferMeter(const TransferMeter&) = delete;
  TransferMeter& operator=(const TransferMeter&) = delete;

  void Sent(std::uint64_t records, std::uint64_t bytes);
  void Received(std::uint64_t bytes);

 private:
  void Show();

  Process& process_;
  platform::TransferProgress progress_;
  std::uint32_t start_;
};

}  // namespace korval::exchange
