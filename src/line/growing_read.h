#pragma once
// Every variable-size telephony record is read the same way: with its fixed size
// first, then again with the size the provider says it needs.

#include <cstdint>
#include <optional>

#include "platform/telephony_records.h"

namespace korval::line {

// A provider never needs more than this for one record; a larger answer is a fault.
inline constexpr std::uint32_t kRecordSizeMax = 1u << 20;
// Each round grows the record, so a few rounds suffice unless the provider lies.
inline constexpr int kGrowRoundsMax = 8;

template <typename ReadFn>
std::int32_t GrowingRead(std::optional<platform::Record>& held, std::uint32_t initial_size,
                         std::int32_t no_memory_result, ReadFn read) {
  held.reset();
  platform::Record record(initial_size);
  for (int round = 0; round < kGrowRoundsMax; ++round) {
    const std::int32_t result = read(record);
    if (result != 0) return result;
    const std::uint32_t needed = record.NeededSize();
    if (record.TotalSize() >= needed) {
      held = std::move(record);
      return 0;
    }
    if (needed > kRecordSizeMax) return no_memory_result;
    record = platform::Record(needed);
  }
  return no_memory_result;
}

}  // namespace korval::line
