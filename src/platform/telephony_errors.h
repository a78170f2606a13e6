#pragma once
// The telephony API's line error codes (LINEERR_*), as its functions return them:
// negative LONG values. The one list for the program, its providers and their tests.

#include <cstdint>

namespace korval::platform {

inline constexpr std::int32_t LineErrorCode(std::uint32_t low) {
  return static_cast<std::int32_t>(0x80000000u | low);
}

inline constexpr std::int32_t kLineErrAllocated = LineErrorCode(0x01);
inline constexpr std::int32_t kLineErrBadDeviceId = LineErrorCode(0x02);
inline constexpr std::int32_t kLineErrCallUnavail = LineErrorCode(0x05);
inline constexpr std::int32_t kLineErrIncompatibleApiVersion = LineErrorCode(0x0C);
inline constexpr std::int32_t kLineErrIncompatibleExtVersion = LineErrorCode(0x0D);
inline constexpr std::int32_t kLineErrInUse = LineErrorCode(0x0F);
inline constexpr std::int32_t kLineErrInvalAddress = LineErrorCode(0x10);
inline constexpr std::int32_t kLineErrInvalAddressId = LineErrorCode(0x11);
inline constexpr std::int32_t kLineErrInvalAddressState = LineErrorCode(0x13);
inline constexpr std::int32_t kLineErrInvalAppHandle = LineErrorCode(0x14);
inline constexpr std::int32_t kLineErrInvalCallHandle = LineErrorCode(0x18);
inline constexpr std::int32_t kLineErrInvalCallSelect = LineErrorCode(0x1B);
inline constexpr std::int32_t kLineErrInvalCallState = LineErrorCode(0x1C);
inline constexpr std::int32_t kLineErrInvalDeviceClass = LineErrorCode(0x23);
inline constexpr std::int32_t kLineErrInvalLineHandle = LineErrorCode(0x2B);
inline constexpr std::int32_t kLineErrInvalLineState = LineErrorCode(0x2C);
inline constexpr std::int32_t kLineErrInvalMediaMode = LineErrorCode(0x2F);
inline constexpr std::int32_t kLineErrInvalParam = LineErrorCode(0x32);
inline constexpr std::int32_t kLineErrInvalPrivSelect = LineErrorCode(0x36);
inline constexpr std::int32_t kLineErrNoDevice = LineErrorCode(0x42);
inline constexpr std::int32_t kLineErrNoMem = LineErrorCode(0x44);
inline constexpr std::int32_t kLineErrOperationFailed = LineErrorCode(0x48);
inline constexpr std::int32_t kLineErrResourceUnavail = LineErrorCode(0x4B);
inline constexpr std::int32_t kLineErrStructureTooSmall = LineErrorCode(0x4D);
inline constexpr std::int32_t kLineErrUninitialized = LineErrorCode(0x50);
inline constexpr std::int32_t kLineErrReinit = LineErrorCode(0x52);

}  // namespace korval::platform
