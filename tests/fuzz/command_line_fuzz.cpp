// The command line: any text is taken apart without a crash, and what comes out is
// what followed its marker.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view arguments(reinterpret_cast<const char*>(data), size);
  const korval::app::CommandLine line = korval::app::ParseCommandLine(arguments);
  auto fail = [](const char* what) {
    std::fprintf(stderr, "command line: %s\n", what);
    std::abort();
  };
  const std::size_t job = arguments.find("/B:");
  if (job == std::string_view::npos ? !line.job_file_path.empty()
                                    : arguments.substr(job + 3).find(line.job_file_path) != 0) {
    fail("the job file's path is not what followed /B:");
  }
  if (line.job_file_path.find("/N:") != std::string::npos) fail("the path runs into /N:");
  const std::size_t name = arguments.find("/N:");
  if (name == std::string_view::npos ? !line.display_name.empty()
                                     : arguments.substr(name + 3).find(line.display_name) != 0) {
    fail("the display name is not what followed /N:");
  }
  if (line.display_name.find('~') != std::string::npos) fail("the name holds its closing ~");
  return 0;
}
