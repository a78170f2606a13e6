#pragma once
// Paths as the calling applications give them.

#include <string>
#include <string_view>

namespace korval::platform::win32 {

// Paths read from job files often end in blanks. Windows drops trailing spaces from a
// file name itself, but not tabs, which no file name may hold; both are dropped here
// so that such a path names the same file as on the other back-ends.
inline std::string TrimTrailingBlanks(std::string_view path) {
  while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.remove_suffix(1);
  return std::string(path);
}

}  // namespace korval::platform::win32
