#include "platform/posix/posix_paths.h"

#include "platform/text_encoding.h"

namespace korval::platform {

std::string TrimTrailingBlanks(std::string_view path) {
  while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.remove_suffix(1);
  return std::string(path);
}

std::string FileSystemPath(std::string_view path) { return Cp1252ToUtf8(TrimTrailingBlanks(path)); }

}  // namespace korval::platform
