#pragma once
#include <string>

#include "platform/file_system.h"

namespace korval::exchange {

// Why a file could not be opened, in French; empty when the platform cannot tell.
std::string OpenProblemText(platform::OpenProblem problem);

}  // namespace korval::exchange
