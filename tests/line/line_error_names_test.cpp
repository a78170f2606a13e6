#include "line/line_error_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

namespace korval::line {
namespace {

constexpr std::uint32_t kBase = 0x80000000;

TEST(LineErrorNameTest, Rows) {
  EXPECT_STREQ(LineErrorName(kLineErrInUse), " LINEERR_INUSE");
  EXPECT_STREQ(LineErrorName(kLineErrReinit), " LINEERR_REINIT");

  // Positions counted in the telephony API's numbering; code = base + position.
  // Includes the first and last rows and every code with an exported constant.
  struct Case {
    std::uint32_t position;
    const char* name;
  };
  const Case cases[] = {
      {1, " LINEERR_ALLOCATED"},
      {2, " LINEERR_BADDEVICEID"},
      {3, " LINEERR_BEARERMODEUNAVAIL"},
      {5, " LINEERR_CALLUNAVAIL"},
      {15, " LINEERR_INUSE"},
      {16, " LINEERR_INVALADDRESS"},
      {48, " LINEERR_INVALMESSAGEID"},
      {50, " LINEERR_INVALPARAM"},
      {66, " LINEERR_NODEVICE"},
      {68, " LINEERR_NOMEM"},
      {72, " LINEERR_OPERATIONFAILED"},
      {75, " LINEERR_RESOURCEUNAVAIL"},
      {82, " LINEERR_REINIT"},
      {85, " LINEERR_INVALFEATURE"},
      {86, " LINEERR_NOMULTIPLEINSTANCE"},
  };
  for (const Case& c : cases) {
    const char* name = LineErrorName(kBase + c.position);
    ASSERT_NE(name, nullptr) << c.position;
    EXPECT_STREQ(name, c.name) << c.position;
  }
}

TEST(LineErrorNameTest, ValuesWithoutRow) {
  const std::uint32_t codes[] = {
      0,          1,          5,          0x7FFFFFFF, 0x80000000, 0x80000004,
      0x80000031, 0x80000057, 0x80000100, 0x8000FF0F, 0xC000000F, 0xFFFFFFFF,
  };
  for (std::uint32_t code : codes) {
    EXPECT_EQ(LineErrorName(code), nullptr) << std::hex << code;
  }
}

TEST(LineErrorNameTest, EightyFourDistinctRowsInRange) {
  std::set<std::string> names;
  for (std::uint32_t code = 0x7FFFFF00; code != 0x80000200; ++code) {
    const char* name = LineErrorName(code);
    if (name == nullptr) continue;
    EXPECT_GE(code, 0x80000001u);
    EXPECT_LE(code, 0x80000056u);
    const std::string text = name;
    EXPECT_EQ(text.rfind(" LINEERR_", 0), 0u) << text;
    EXPECT_GT(text.size(), std::string(" LINEERR_").size()) << text;
    names.insert(text);
  }
  EXPECT_EQ(names.size(), 84u);
}

}  // namespace
}  // namespace korval::line
