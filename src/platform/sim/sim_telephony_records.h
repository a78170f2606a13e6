#pragma once
// The simulated provider's half of the records it fills, shared by its calls.

#include <algorithm>
#include <cstdint>

#include "platform/sim/sim_telephony.h"

namespace korval::platform::sim {

inline constexpr std::uint32_t kStringFormatBinary = 4;

// The provider's half of a growing read: 1 when the record is big enough (dwNeededSize
// and dwUsedSize written, fill it), 0 when only dwNeededSize was written, or an error.
inline std::int32_t SizeRecord(Record& record, std::uint32_t needed) {
  const std::uint32_t total = std::min(record.TotalSize(), record.size());
  if (total < 12) return kLineErrStructureTooSmall;
  record.Set32(field::kNeededSize, needed);
  if (total < needed) return 0;
  record.Set32(field::kUsedSize, needed);
  return 1;
}

}  // namespace korval::platform::sim
