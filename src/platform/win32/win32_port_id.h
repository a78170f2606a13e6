#pragma once
// lineGetID("comm/datamodem") answers with the port's HANDLE at the start of its
// string part: 8 bytes on Win64, where the line code reads 32 bits.

#include <cstdint>

#include "platform/telephony_records.h"

namespace korval::platform::win32 {

// Copies the answer `wide`, whose handle is handle_bytes long, into `id`, the record
// the caller gave, with the handle's low (significant) 32 bits and the sizes made to
// match. An answer that holds no handle keeps only its sizes.
void NarrowPortId(const Record& wide, Record& id, std::uint32_t handle_bytes);

}  // namespace korval::platform::win32
