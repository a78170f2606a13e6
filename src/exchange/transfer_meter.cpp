#include "exchange/transfer_meter.h"

#include "process/process.h"

namespace korval::exchange {

TransferMeter::TransferMeter(Process& process, Direction direction, std::uint64_t records_total)
    : process_(process), start_(process.os.clock.TickCount()) {
  progress_.direction = direction;
  progress_.records_total = records_total;
  Show();
}

TransferMeter::~TransferMeter() { process_.os.windows.EndTransferProgress(); }

void TransferMeter::Sent(std::uint64_t records, std::uint64_t bytes) {
  progress_.records_done = records;
  progress_.bytes = bytes;
  Show();
}

void TransferMeter::Received(std::uint64_t bytes) {
  progress_.bytes = bytes;
  Show();
}

void TransferMeter::Show() {
  progress_.elapsed_ms = process_.os.clock.TickCount() - start_;
  process_.os.windows.ShowTransferProgress(progress_);
}

}  // namespace korval::exchange
