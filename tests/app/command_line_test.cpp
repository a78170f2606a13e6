#include "app/command_line.h"

#include <gtest/gtest.h>

namespace korval::app {
namespace {

struct CommandLineCase {
  const char* arguments;
  const char* job_file_path;
  const char* display_name;
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, TakesJobFileAndDisplayName) {
  const CommandLineCase& c = GetParam();
  const CommandLine parsed = ParseCommandLine(c.arguments);
  EXPECT_EQ(parsed.job_file_path, c.job_file_path) << c.arguments;
  EXPECT_EQ(parsed.display_name, c.display_name) << c.arguments;
}

INSTANTIATE_TEST_SUITE_P(
    Markers, CommandLineTest,
    ::testing::Values(
        // The path runs up to "/N:", blank included.
        CommandLineCase{"/B:C:\\JOBS\\J1.INI /N:Compta", "C:\\JOBS\\J1.INI ", "Compta"},
        CommandLineCase{"/N:Service Paie~ /B:C:\\J1.INI", "C:\\J1.INI", "Service Paie"},
        CommandLineCase{"/N:Service Paie /B:C:\\J1.INI", "C:\\J1.INI", "Service"},
        CommandLineCase{"/B:C:\\J1.INI", "C:\\J1.INI", ""},
        CommandLineCase{"/b:C:\\J1.INI /n:Compta", "", ""},
        CommandLineCase{"/B:C:\\J1.INI /N:~Compta", "C:\\J1.INI ", ""},
        CommandLineCase{"/B:C:\\J1.INI /N: Compta", "C:\\J1.INI ", ""},
        CommandLineCase{"x /B:", "", ""}, CommandLineCase{"", "", ""},
        // Only the first occurrence of each marker counts.
        CommandLineCase{"/B:a /B:b", "a /B:b", ""}, CommandLineCase{"/N:one /N:two", "", "one"},
        CommandLineCase{"junk /B:C:\\Mes Jobs\\J 1.INI", "C:\\Mes Jobs\\J 1.INI", ""},
        CommandLineCase{"/N:Paie~/B:C:\\J1.INI", "C:\\J1.INI", "Paie"}));

}  // namespace
}  // namespace korval::app
