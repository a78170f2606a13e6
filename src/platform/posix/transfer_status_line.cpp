#include "platform/posix/transfer_status_line.h"

#include <cstdio>

namespace korval::platform::posix {
namespace {

// Thousands apart, the French way: 153 600.
std::string Grouped(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ' ';
    grouped += digits[i];
  }
  return grouped;
}

// mm:ss, or h:mm:ss from one hour on.
std::string Duration(std::uint64_t ms) {
  const std::uint64_t s = ms / 1000;
  char text[32];
  if (s >= 3600) {
    std::snprintf(
        text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
        static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%02llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
  }
  return text;
}

std::string Rate(std::uint64_t bytes, std::uint32_t elapsed_ms) {
  if (elapsed_ms == 0) return "-- o/s";
  const std::uint64_t per_second = bytes * 1000 / elapsed_ms;
  if (per_second < 10000) return Grouped(per_second) + " o/s";
  const std::uint64_t tenths_of_kib = per_second * 10 / 1024;
  return Grouped(tenths_of_kib / 10) + "," + std::to_string(tenths_of_kib % 10) + " Ko/s";
}

}  // namespace

std::string FormatTransferStatus(const TransferProgress& progress) {
  const std::string elapsed = "\351coul\xE9 " + Duration(progress.elapsed_ms);
  const std::string rate = Rate(progress.bytes, progress.elapsed_ms);
  if (progress.direction == TransferProgress::Direction::kReceiving) {
    return "R\351ception : " + Grouped(progress.bytes) + " octets, " + rate + ", " + elapsed;
  }
  std::string left = "--:--";
  if (progress.records_done > 0 && progress.records_done <= progress.records_total) {
    // The records still to go take as long, each, as those already sent.
    left = Duration(static_cast<std::uint64_t>(progress.elapsed_ms) *
                    (progress.records_total - progress.records_done) / progress.records_done);
  }
  return "Envoi : " + std::to_string(progress.records_done) + "/" +
         std::to_string(progress.records_total) + " enregistrements, " + rate + ", " + elapsed +
         ", reste " + left;
}

}  // namespace korval::platform::posix
