#pragma once
#include <string>
#include <string_view>

namespace korval::app {

struct CommandLine {
  std::string job_file_path;  // after "/B:", verbatim: it may end in blanks
  std::string display_name;   // after "/N:"
};

// The arguments after the program's name, taken as one text.
CommandLine ParseCommandLine(std::string_view arguments);

// "/CHECK" first, alone or before blanks: a check of the set-up, not a job. No caller
// sends it by chance, and a path that holds it does not start with it.
inline constexpr std::string_view kCheckMarker = "/CHECK";
bool IsCheckRequest(std::string_view arguments);

}  // namespace korval::app
