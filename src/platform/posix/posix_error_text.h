#pragma once
// The system's reason for a failure, in French, for lines that are French: the C
// library's own texts follow the locale, English in a batch run.

#include <string>

namespace korval::platform::posix {

// Ours, not the C library's: a name that opens something other than a regular file.
inline constexpr int kNotARegularFile = -1;

// In Windows-1252, as every text of the program.
std::string SystemErrorText(int error);

}  // namespace korval::platform::posix
