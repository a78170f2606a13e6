#pragma once
#include <cstddef>
#include <string_view>

namespace korval {
struct Process;
}

namespace korval::link {

// The one way to send bytes on the link; the bytes written (0 when the link is down).
std::size_t WriteLink(Process& process, const char* bytes, std::size_t count);
inline std::size_t WriteLink(Process& process, std::string_view text) {
  return WriteLink(process, text.data(), text.size());
}

}  // namespace korval::link
