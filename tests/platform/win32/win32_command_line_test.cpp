#include "platform/win32/win32_command_line.h"

#include <gtest/gtest.h>

namespace korval::platform::win32 {
namespace {

struct ArgumentsCase {
  const char* command_line;
  const char* arguments;
};

TEST(Win32CommandLineTest, ArgumentsFollowTheProgramName) {
  const ArgumentsCase cases[] = {
      {"korvalcom.exe /B:C:\\JOBS\\J1.INI /N:Compta", "/B:C:\\JOBS\\J1.INI /N:Compta"},
      {"\"C:\\Program Files\\Korval\\korvalcom.exe\"  /N:Service Paie~ /B:C:\\J1.INI",
       "/N:Service Paie~ /B:C:\\J1.INI"},
      // The job file path may end in blanks: they stay.
      {"korvalcom /B:C:\\J1.INI  ", "/B:C:\\J1.INI  "},
      {"\"C:\\a b\\korvalcom.exe\"/B:x", "/B:x"},
      {"korvalcom.exe\t \t/B:x", "/B:x"},
      {"korvalcom.exe", ""},
      {"\"C:\\unterminated /B:x", ""},
      {"", ""},
  };
  for (const ArgumentsCase& c : cases) {
    EXPECT_EQ(ArgumentsAfterProgramName(c.command_line), c.arguments) << c.command_line;
  }
  EXPECT_EQ(ArgumentsAfterProgramName(nullptr), "");
}

TEST(Win32CommandLineTest, ApplicationNameIsTheFileNameWithoutExtension) {
  EXPECT_EQ(ApplicationNameOf("C:\\Program Files\\Korval\\korvalcom.exe"), "korvalcom");
  EXPECT_EQ(ApplicationNameOf("C:\\v1.2\\KORVAL"), "KORVAL");
  EXPECT_EQ(ApplicationNameOf("D:korval.com.exe"), "korval.com");
}

}  // namespace
}  // namespace korval::platform::win32
