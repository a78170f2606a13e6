#include "platform/posix/posix_paths.h"

namespace korval::platform {

std::string TrimTrailingBlanks(std::string_view path) {
  while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.remove_suffix(1);
  return std::string(path);
}

}  // namespace korval::platform
