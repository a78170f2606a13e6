#pragma once
#include <string>

#include "platform/file_system.h"

namespace korval::exchange {

// Why a file could not be opened, in French; empty when the platform cannot tell.
std::string OpenProblemText(platform::OpenProblem problem);

// Why OpenForReading(path) has just failed: what is at path when that says it (no
// file, a folder, a device), else the system's own reason, which tells a file held
// by another program from one we may not read; empty when neither is known.
std::string OpenFailureText(platform::FileSystem& files, const std::string& path);

}  // namespace korval::exchange
