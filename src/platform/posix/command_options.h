#pragma once
// The options of the Linux program that run no job: --journal and --check.

#include <optional>

namespace korval::platform::posix {

// The exit status when argv asks for one of them (after it has run), else nothing.
std::optional<int> RunCommandOption(int argc, char** argv);

}  // namespace korval::platform::posix
