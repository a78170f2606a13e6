#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/ebcdic.h"

namespace korval::netemu {
namespace {

struct Span {
  unsigned lo, hi;
};

std::set<unsigned> Expand(const std::vector<Span>& spans) {
  std::set<unsigned> out;
  for (const Span& s : spans) {
    for (unsigned c = s.lo; c <= s.hi; ++c) out.insert(c);
  }
  return out;
}

struct RangeCase {
  unsigned lo, hi, first_out;
};

TEST(NetemuEbcdic, ToEbcdicLetterAndDigitRanges) {
  const RangeCase cases[] = {
      {0x61, 0x69, 0x81}, {0x6A, 0x72, 0x91}, {0x73, 0x7A, 0xA2}, {0x41, 0x49, 0xC1},
      {0x4A, 0x52, 0xD1}, {0x53, 0x5A, 0xE2}, {0x30, 0x39, 0xF0},
  };
  for (const RangeCase& c : cases) {
    for (unsigned b = c.lo; b <= c.hi; ++b) {
      EXPECT_EQ(AnsiToEbcdic(static_cast<std::uint8_t>(b)), c.first_out + (b - c.lo))
          << std::hex << b;
    }
  }
}

TEST(NetemuEbcdic, ToEbcdicSingleValues) {
  const std::pair<unsigned, unsigned> cases[] = {
      {0x0D, 0x0D}, {0x09, 0x09}, {0x21, 0x5A}, {0x22, 0x7F}, {0x23, 0x7B}, {0x24, 0x5B},
      {0x25, 0x6C}, {0x26, 0x50}, {0x27, 0x7D}, {0x28, 0x4D}, {0x29, 0x5D}, {0x2A, 0x5C},
      {0x2B, 0x4E}, {0x2C, 0x6B}, {0x2D, 0x60}, {0x2E, 0x4B}, {0x2F, 0x61}, {0x3A, 0x7A},
      {0x3B, 0x5E}, {0x3C, 0x4C}, {0x3D, 0x7E}, {0x3E, 0x6E}, {0x3F, 0x6F}, {0x40, 0x7C},
      {0x5B, 0xAD}, {0x5C, 0xE0}, {0x5D, 0xBD}, {0x5F, 0x6D}, {0x7B, 0xC0}, {0x7C, 0x6A},
      {0x7D, 0xD0}, {0x7E, 0xA1}, {0xE0, 0x81}, {0xE2, 0x81}, {0xE7, 0x83}, {0xE8, 0x85},
      {0xE9, 0x85}, {0xEA, 0x85}, {0xEB, 0x85}, {0xF4, 0x96}, {0xF6, 0x96}, {0xF9, 0xA4},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(AnsiToEbcdic(static_cast<std::uint8_t>(in)), out) << std::hex << in;
  }
}

// Walks all 256 values against the document's list of bytes that become a blank.
TEST(NetemuEbcdic, ToEbcdicBlanksExactlyTheListedBytes) {
  const std::set<unsigned> blanks = Expand({{0x00, 0x08},
                                            {0x0A, 0x0C},
                                            {0x0E, 0x20},
                                            {0x5E, 0x5E},
                                            {0x60, 0x60},
                                            {0x7F, 0xDF},
                                            {0xE1, 0xE1},
                                            {0xE3, 0xE6},
                                            {0xEC, 0xF3},
                                            {0xF5, 0xF5},
                                            {0xF7, 0xF8},
                                            {0xFA, 0xFF}});
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned out = AnsiToEbcdic(static_cast<std::uint8_t>(b));
    EXPECT_NE(out, 0u);
    EXPECT_EQ(out == 0x40, blanks.count(b) == 1) << std::hex << b;
  }
}

TEST(NetemuEbcdic, FromEbcdicRanges) {
  const RangeCase cases[] = {
      {0x81, 0x89, 0x61}, {0x91, 0x99, 0x6A}, {0xA2, 0xA9, 0x73}, {0xC1, 0xC9, 0x41},
      {0xD1, 0xD9, 0x4A}, {0xE2, 0xE9, 0x53}, {0xF0, 0xF9, 0x30},
  };
  for (const RangeCase& c : cases) {
    for (unsigned b = c.lo; b <= c.hi; ++b) {
      EXPECT_EQ(EbcdicToAnsi(static_cast<std::uint8_t>(b)), c.first_out + (b - c.lo))
          << std::hex << b;
    }
  }
}

TEST(NetemuEbcdic, FromEbcdicSingleValues) {
  const std::pair<unsigned, unsigned> cases[] = {
      {0x0D, 0x0D}, {0x4A, 0x80}, {0x4B, 0x2E}, {0x4C, 0x3C}, {0x4D, 0x28}, {0x4E, 0x2B},
      {0x4F, 0x7C}, {0x50, 0x26}, {0x5A, 0x21}, {0x5B, 0x24}, {0x5C, 0x2A}, {0x5D, 0x29},
      {0x5E, 0x3B}, {0x5F, 0xAA}, {0x60, 0x2D}, {0x61, 0x2F}, {0x6A, 0x7C}, {0x6B, 0x2C},
      {0x6C, 0x25}, {0x6D, 0x5F}, {0x6E, 0x3E}, {0x6F, 0x3F}, {0x7A, 0x3A}, {0x7B, 0x23},
      {0x7C, 0x40}, {0x7D, 0x27}, {0x7E, 0x3D}, {0x7F, 0x22}, {0x8B, 0x7B}, {0x8C, 0xF3},
      {0x9B, 0x7D}, {0x9E, 0xF1}, {0x9F, 0xFE}, {0xA1, 0xF8}, {0xAB, 0xC0}, {0xAC, 0xDA},
      {0xAD, 0x5B}, {0xAE, 0xF2}, {0xBB, 0xD9}, {0xBC, 0xBF}, {0xBD, 0x5D}, {0xBE, 0x23},
      {0xBF, 0xC4}, {0xC0, 0x7B}, {0xD0, 0x7D}, {0xE0, 0x5C},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(EbcdicToAnsi(static_cast<std::uint8_t>(in)), out) << std::hex << in;
  }
}

TEST(NetemuEbcdic, FromEbcdicSpacesExactlyTheListedBytes) {
  const std::set<unsigned> spaces = Expand({{0x00, 0x0C},
                                            {0x0E, 0x49},
                                            {0x51, 0x59},
                                            {0x62, 0x69},
                                            {0x70, 0x79},
                                            {0x80, 0x80},
                                            {0x8A, 0x8A},
                                            {0x8D, 0x90},
                                            {0x9A, 0x9A},
                                            {0x9C, 0x9D},
                                            {0xA0, 0xA0},
                                            {0xAA, 0xAA},
                                            {0xAF, 0xBA},
                                            {0xCA, 0xCF},
                                            {0xDA, 0xDF},
                                            {0xE1, 0xE1},
                                            {0xEA, 0xEF},
                                            {0xFA, 0xFF}});
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned out = EbcdicToAnsi(static_cast<std::uint8_t>(b));
    EXPECT_NE(out, 0u);
    EXPECT_EQ(out == 0x20, spaces.count(b) == 1) << std::hex << b;
  }
}

// The bytes a correct sender can put on the wire: the image of the ANSI table.
TEST(NetemuEbcdic, ProducibleBytesAreTheImageOfTheAnsiTable) {
  std::set<unsigned> image;
  for (unsigned b = 0; b < 256; ++b) image.insert(AnsiToEbcdic(static_cast<std::uint8_t>(b)));
  EXPECT_EQ(image.size(), 95u);
  for (unsigned b = 0; b < 256; ++b) {
    EXPECT_EQ(IsProducibleEbcdic(static_cast<std::uint8_t>(b)), image.count(b) == 1)
        << std::hex << b;
  }
  for (unsigned b : {0x00u, 0x05u, 0x15u, 0x25u, 0x4Au, 0x4Fu, 0x5Fu, 0x8Bu, 0xBEu, 0xFFu}) {
    EXPECT_FALSE(IsProducibleEbcdic(static_cast<std::uint8_t>(b))) << std::hex << b;
  }
  for (unsigned b : {0x09u, 0x0Du, 0x40u, 0xA1u, 0xC0u, 0xD0u, 0xE0u, 0x6Au}) {
    EXPECT_TRUE(IsProducibleEbcdic(static_cast<std::uint8_t>(b))) << std::hex << b;
  }
}

TEST(NetemuEbcdic, FixedRecordsOfTheDialogue) {
  EXPECT_EQ(EncodeEbcdic("FF" + std::string(18, ' ')), "\xC6\xC6" + std::string(18, '\x40'));
  EXPECT_EQ(EncodeEbcdic("OKF"), "\xD6\xD2\xC6");
  EXPECT_EQ(EncodeEbcdic("NOK"), "\xD5\xD6\xD2");
  EXPECT_EQ(EncodeEbcdic(std::string("\r\t\n\0", 4)), std::string("\x0D\x09\x40\x40", 4));
}

TEST(NetemuEbcdic, PrintableAsciiRoundTrip) {
  for (unsigned b = 0x21; b <= 0x7E; ++b) {
    const std::string one(1, static_cast<char>(b));
    const auto back = static_cast<unsigned char>(DecodeEbcdic(EncodeEbcdic(one))[0]);
    unsigned expected = b;
    if (b == 0x5E || b == 0x60) expected = 0x20;
    if (b == 0x7E) expected = 0xF8;
    EXPECT_EQ(back, expected) << std::hex << b;
  }
}

}  // namespace
}  // namespace korval::netemu
