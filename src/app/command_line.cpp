#include "app/command_line.h"

namespace korval::app {
namespace {

// The text after the first occurrence of marker, or nothing when it is absent.
bool TakeAfter(std::string_view text, std::string_view marker, std::string_view* rest) {
  const std::size_t at = text.find(marker);
  if (at == std::string_view::npos) return false;
  *rest = text.substr(at + marker.size());
  return true;
}

std::string_view CutBefore(std::string_view text, std::string_view end) {
  const std::size_t at = text.find(end);
  return at == std::string_view::npos ? text : text.substr(0, at);
}

}  // namespace

CommandLine ParseCommandLine(std::string_view arguments) {
  CommandLine result;
  std::string_view rest;
  if (TakeAfter(arguments, "/B:", &rest)) {
    result.job_file_path = std::string(CutBefore(rest, "/N:"));
  }
  if (TakeAfter(arguments, "/N:", &rest)) {
    // A name with blanks is closed by "~"; without one, the name ends at a blank.
    const std::size_t tilde = rest.find('~');
    result.display_name =
        std::string(tilde != std::string_view::npos ? rest.substr(0, tilde) : CutBefore(rest, " "));
  }
  return result;
}

bool IsCheckRequest(std::string_view arguments) {
  if (arguments.substr(0, kCheckMarker.size()) != kCheckMarker) return false;
  return arguments.size() == kCheckMarker.size() || arguments[kCheckMarker.size()] == ' ';
}

}  // namespace korval::app
