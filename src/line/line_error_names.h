#pragma once
// Display names of the telephony line error codes. A failed request is shown
// to the user by the name of its code, not by a translated sentence.

#include <cstdint>

#include "platform/telephony_errors.h"

namespace korval::line {

// Codes that the line subsystem tests for by value.
using platform::kLineErrAllocated;
using platform::kLineErrCallUnavail;
using platform::kLineErrInUse;
using platform::kLineErrInvalAddress;
using platform::kLineErrNoDevice;
using platform::kLineErrNoMem;
using platform::kLineErrOperationFailed;
using platform::kLineErrReinit;
using platform::kLineErrResourceUnavail;

// The text shown for a line error code, a space followed by the constant's
// name (" LINEERR_INUSE"), or nullptr when the value has no name: 0, a positive
// request identifier, 0x80000004, 0x80000031 or anything outside
// 0x80000001..0x80000056.
const char* LineErrorName(std::uint32_t code);

}  // namespace korval::line
