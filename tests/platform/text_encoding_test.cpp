#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace korval::platform {
namespace {

TEST(TextEncodingTest, EveryCp1252ByteSurvivesTheRoundTrip) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << "byte " << b;
  }
}

TEST(TextEncodingTest, Conversions) {
  const struct {
    const char* what;
    std::string cp1252;
    std::string utf8;
    bool both_ways;
  } cases[] = {
      {"ascii and NUL", std::string("A\0z", 3), std::string("A\0z", 3), true},
      {"euro", "\x80", "\xE2\x82\xAC", true},
      {"undefined bytes are C1 controls", "\x81\x8D\x8F\x90\x9D",
       "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D", true},
      {"high punctuation", "\x8C\x92\x9F", "\xC5\x92\xE2\x80\x99\xC5\xB8", true},
      {"Latin-1 half", "\xA0Relev\xE9\xFF", "\xC2\xA0Relev\xC3\xA9\xC3\xBF", true},
      {"control without a byte", "?", "\xC2\x80", false},
      {"Latin Extended-A, CJK", "??", "\xC4\x80\xE4\xB8\xAD", false},
      {"outside the BMP is one character", "a?z", "a\xF0\x9F\x98\x80z", false},
      {"Latin-1 text is left alone", "caf\xE9", "caf\xE9", false},
      {"truncated sequence", "\xE2\x82", "\xE2\x82", false},
      {"lead byte before ascii", "\303A", "\303A", false},
      {"overlong forms", "\xC0\x80\xE0\x80\xAF", "\xC0\x80\xE0\x80\xAF", false},
      {"surrogate", "\xED\xA0\x80", "\xED\xA0\x80", false},
      {"past U+10FFFF", "\xF4\x90\x80\x80", "\xF4\x90\x80\x80", false},
      {"stray continuations", "\x80\xBF", "\x80\xBF", false},
      {"malformed, then well-formed", "\xFF\xE9", "\xFF\xC3\xA9", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252) << c.what;
    if (c.both_ways) {
      EXPECT_EQ(Cp1252ToUtf8(c.cp1252), c.utf8) << c.what;
    }
  }
}

}  // namespace
}  // namespace korval::platform
