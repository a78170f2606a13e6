#pragma once
// The system's reason for a failed file operation, in French: FormatMessage's texts
// follow the system's language and may be English among the French lines.

#include <cstdint>
#include <string>

namespace korval::platform::win32 {

// Ours, not the system's (bit 29 marks an application's codes): a name that opens
// something other than a disk file.
inline constexpr std::uint32_t kNotADiskFileError = 0x20000001;

// In Windows-1252, as every text of the program; a code without a text of its own is
// said by its number.
std::string SystemErrorText(std::uint32_t error);

}  // namespace korval::platform::win32
