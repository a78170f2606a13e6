#pragma once
// Display names of the telephony line error codes. A failed request is shown
// to the user by the name of its code, not by a translated sentence.

#include <cstdint>

namespace korval::line {

// Codes that the line subsystem tests for by value.
inline constexpr std::uint32_t kLineErrCallUnavail = 0x80000005;
inline constexpr std::uint32_t kLineErrAllocated = 0x80000001;
inline constexpr std::uint32_t kLineErrInUse = 0x8000000F;
inline constexpr std::uint32_t kLineErrInvalAddress = 0x80000010;
inline constexpr std::uint32_t kLineErrNoDevice = 0x80000042;
inline constexpr std::uint32_t kLineErrNoMem = 0x80000044;
inline constexpr std::uint32_t kLineErrOperationFailed = 0x80000048;
inline constexpr std::uint32_t kLineErrResourceUnavail = 0x8000004B;
inline constexpr std::uint32_t kLineErrReinit = 0x80000052;

// The text shown for a line error code, a space followed by the constant's
// name (" LINEERR_INUSE"), or nullptr when the value has no name: 0, a positive
// request identifier, 0x80000004, 0x80000031 or anything outside
// 0x80000001..0x80000056.
const char* LineErrorName(std::uint32_t code);

}  // namespace korval::line
