#include "platform/win32/win32_command_line.h"

namespace korval::platform::win32 {
namespace {

// The C runtime counts every control character as a blank here.
bool IsBlank(char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::string ArgumentsAfterProgramName(const char* command_line) {
  if (command_line == nullptr) return {};
  const char* at = command_line;
  if (*at == '"') {
    ++at;
    while (*at != '\0' && *at != '"') ++at;
    if (*at == '"') ++at;
  } else {
    while (*at != '\0' && !IsBlank(*at)) ++at;
  }
  while (IsBlank(*at)) ++at;
  return at;
}

std::string ApplicationNameOf(const std::string& module_path) {
  std::string name = module_path;
  if (const std::size_t folder = name.find_last_of("\\/:"); folder != std::string::npos) {
    name.erase(0, folder + 1);
  }
  if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return name;
}

}  // namespace korval::platform::win32
