#pragma once
#include <string>

namespace korval::platform::win32 {

// The text after the program's name in a whole command line (GetCommandLineA), as
// the C runtime's lpCmdLine gives it: the name, quoted or not, and the blanks after
// it are skipped; the rest is kept verbatim, trailing blanks included.
std::string ArgumentsAfterProgramName(const char* command_line);

// The executable's file name without its folder and extension.
std::string ApplicationNameOf(const std::string& module_path);

}  // namespace korval::platform::win32
