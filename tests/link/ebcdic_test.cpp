#include "link/ebcdic.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korval::link {
namespace {

struct Span {
  int first;
  int last;
};

// Letters and digits as the site's EBCDIC lays them out: each ANSI string maps
// onto consecutive EBCDIC bytes from the given one.
struct LetterRun {
  const char* ansi;
  std::uint8_t ebcdic_first;
};

constexpr LetterRun kLetterRuns[] = {
    {"abcdefghi", 0x81}, {"jklmnopqr", 0x91}, {"stuvwxyz", 0xA2},   {"ABCDEFGHI", 0xC1},
    {"JKLMNOPQR", 0xD1}, {"STUVWXYZ", 0xE2},  {"0123456789", 0xF0},
};

struct BytePair {
  std::uint8_t in;
  std::uint8_t out;
};

constexpr BytePair kToEbcdicOthers[] = {
    {'\r', 0x0D},
    {'\t', 0x09},
    {'!', 0x5A},
    {'"', 0x7F},
    {'#', 0x7B},
    {'$', 0x5B},
    {'%', 0x6C},
    {'&', 0x50},
    {'\'', 0x7D},
    {'(', 0x4D},
    {')', 0x5D},
    {'*', 0x5C},
    {'+', 0x4E},
    {',', 0x6B},
    {'-', 0x60},
    {'.', 0x4B},
    {'/', 0x61},
    {':', 0x7A},
    {';', 0x5E},
    {'<', 0x4C},
    {'=', 0x7E},
    {'>', 0x6E},
    {'?', 0x6F},
    {'@', 0x7C},
    {'[', 0xAD},
    {'\\', 0xE0},
    {']', 0xBD},
    {'_', 0x6D},
    {'{', 0xC0},
    {'|', 0x6A},
    {'}', 0xD0},
    {'~', 0xA1},
    // à â ç è é ê ë ô ö ù in code page 1252.
    {0xE0, 0x81},
    {0xE2, 0x81},
    {0xE7, 0x83},
    {0xE8, 0x85},
    {0xE9, 0x85},
    {0xEA, 0x85},
    {0xEB, 0x85},
    {0xF4, 0x96},
    {0xF6, 0x96},
    {0xF9, 0xA4},
};

constexpr Span kToEbcdicSpace[] = {
    {0x00, 0x08}, {0x0A, 0x0C}, {0x0E, 0x20}, {0x5E, 0x5E}, {0x60, 0x60}, {0x7F, 0xDF},
    {0xE1, 0xE1}, {0xE3, 0xE6}, {0xEC, 0xF3}, {0xF5, 0xF5}, {0xF7, 0xF8}, {0xFA, 0xFF},
};

constexpr BytePair kFromEbcdicOthers[] = {
    {0x0D, 0x0D}, {0x4A, 0x80}, {0x4B, '.'},  {0x4C, '<'},  {0x4D, '('},  {0x4E, '+'},
    {0x4F, '|'},  {0x50, '&'},  {0x5A, '!'},  {0x5B, '$'},  {0x5C, '*'},  {0x5D, ')'},
    {0x5E, ';'},  {0x5F, 0xAA}, {0x60, '-'},  {0x61, '/'},  {0x6A, '|'},  {0x6B, ','},
    {0x6C, '%'},  {0x6D, '_'},  {0x6E, '>'},  {0x6F, '?'},  {0x7A, ':'},  {0x7B, '#'},
    {0x7C, '@'},  {0x7D, '\''}, {0x7E, '='},  {0x7F, '"'},  {0x8B, '{'},  {0x8C, 0xF3},
    {0x9B, '}'},  {0x9E, 0xF1}, {0x9F, 0xFE}, {0xA1, 0xF8}, {0xAB, 0xC0}, {0xAC, 0xDA},
    {0xAD, '['},  {0xAE, 0xF2}, {0xBB, 0xD9}, {0xBC, 0xBF}, {0xBD, ']'},  {0xBE, '#'},
    {0xBF, 0xC4}, {0xC0, '{'},  {0xD0, '}'},  {0xE0, '\\'},
};

constexpr Span kFromEbcdicSpace[] = {
    {0x00, 0x0C}, {0x0E, 0x49}, {0x51, 0x59}, {0x62, 0x69}, {0x70, 0x79}, {0x80, 0x80},
    {0x8A, 0x8A}, {0x8D, 0x90}, {0x9A, 0x9A}, {0x9C, 0x9D}, {0xA0, 0xA0}, {0xAA, 0xAA},
    {0xAF, 0xBA}, {0xCA, 0xCF}, {0xDA, 0xDF}, {0xE1, 0xE1}, {0xEA, 0xEF}, {0xFA, 0xFF},
};

using Expected = std::array<std::optional<std::uint8_t>, 256>;

// Assembles the expected table and fails if the lists above overlap or leave
// a byte out, so that a slip in the test data cannot hide a fault.
template <std::size_t P, std::size_t S>
Expected Assemble(bool to_ebcdic, const BytePair (&others)[P], const Span (&spaces)[S],
                  std::uint8_t space) {
  Expected table;
  auto set = [&](int in, std::uint8_t out) {
    EXPECT_FALSE(table[in].has_value()) << "byte listed twice: " << in;
    table[in] = out;
  };
  for (const LetterRun& run : kLetterRuns) {
    std::uint8_t ebcdic = run.ebcdic_first;
    for (const char* c = run.ansi; *c != '\0'; ++c, ++ebcdic) {
      const auto ansi = static_cast<std::uint8_t>(*c);
      to_ebcdic ? set(ansi, ebcdic) : set(ebcdic, ansi);
    }
  }
  for (const BytePair& pair : others) set(pair.in, pair.out);
  for (const Span& span : spaces) {
    for (int in = span.first; in <= span.last; ++in) set(in, space);
  }
  for (int in = 0; in < 256; ++in) {
    EXPECT_TRUE(table[in].has_value()) << "byte not listed: " << in;
  }
  return table;
}

struct Direction {
  const char* name;
  std::uint8_t (*convert)(std::uint8_t);
  Expected expected;
};

std::vector<Direction> Directions() {
  return {
      {"ToEbcdic", ToEbcdicByte, Assemble(true, kToEbcdicOthers, kToEbcdicSpace, 0x40)},
      {"FromEbcdic", FromEbcdicByte, Assemble(false, kFromEbcdicOthers, kFromEbcdicSpace, 0x20)},
  };
}

TEST(EbcdicTest, EveryByteMatchesTheExpectedTable) {
  for (const Direction& d : Directions()) {
    for (int in = 0; in < 256; ++in) {
      const std::uint8_t got = d.convert(static_cast<std::uint8_t>(in));
      EXPECT_EQ(int{got}, int{d.expected[in].value_or(0)}) << d.name << " of " << std::hex << in;
    }
  }
}

TEST(EbcdicTest, NeverYieldsZero) {
  for (const Direction& d : Directions()) {
    for (int in = 0; in < 256; ++in) {
      EXPECT_NE(d.convert(static_cast<std::uint8_t>(in)), 0) << d.name << " of " << std::hex << in;
    }
  }
}

std::string AllBytes() {
  std::string text;
  for (int in = 0; in < 256; ++in) text.push_back(static_cast<char>(in));
  return text;
}

// The in-place forms must index by unsigned byte value, whatever the
// signedness of char.
TEST(EbcdicTest, InPlaceFormsAgreeWithByteForms) {
  std::string text = AllBytes();
  ToEbcdic(text);
  ASSERT_EQ(text.size(), 256u);
  for (int in = 0; in < 256; ++in) {
    EXPECT_EQ(static_cast<std::uint8_t>(text[in]), ToEbcdicByte(static_cast<std::uint8_t>(in)))
        << std::hex << in;
    char byte = static_cast<char>(in);
    FromEbcdic(byte);
    EXPECT_EQ(static_cast<std::uint8_t>(byte), FromEbcdicByte(static_cast<std::uint8_t>(in)))
        << std::hex << in;
  }
}

std::string Bytes(std::initializer_list<std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text.push_back(static_cast<char>(b));
  return text;
}

TEST(EbcdicTest, ToEbcdicTexts) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"end record", "FF" + std::string(18, ' '), Bytes({0xC6, 0xC6}) + std::string(18, '\x40')},
      {"acknowledgement", "OKF", Bytes({0xD6, 0xD2, 0xC6})},
      {"CR and tab kept, other controls to space", std::string("\r\t\n\0\x01\x1F \x7F", 8),
       Bytes({0x0D, 0x09, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40})},
      {"accents folded", Bytes({0xE0, 0xE2, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xF4, 0xF6, 0xF9}),
       Bytes({0x81, 0x81, 0x83, 0x85, 0x85, 0x85, 0x85, 0x96, 0x96, 0xA4})},
      {"other high bytes to space (î ï û ü É €)", Bytes({0xEE, 0xEF, 0xFB, 0xFC, 0xC9, 0x80}),
       std::string(6, '\x40')},
      {"mixed text", "Rel. 12/05",
       Bytes({0xD9, 0x85, 0x93, 0x4B, 0x40, 0xF1, 0xF2, 0x61, 0xF0, 0xF5})},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.input;
    ToEbcdic(text);
    EXPECT_EQ(text, c.expected) << c.name;
  }
}

TEST(EbcdicTest, PrintableAsciiRoundTrip) {
  for (int c = 0x21; c <= 0x7E; ++c) {
    int expected = c;
    if (c == '^' || c == '`') expected = 0x20;
    if (c == '~') expected = 0xF8;
    EXPECT_EQ(int{FromEbcdicByte(ToEbcdicByte(static_cast<std::uint8_t>(c)))}, expected)
        << static_cast<char>(c);
  }
}

TEST(EbcdicTest, FromEbcdicSpecialBytes) {
  const BytePair cases[] = {
      {0x40, 0x20},  // EBCDIC space
      {0x0D, 0x0D},  // carriage return
      {0x25, 0x20},  // EBCDIC line feed
      {0x05, 0x20},  // EBCDIC tab
      {0x15, 0x20},  // EBCDIC new line
      // Two EBCDIC bytes share each of these outputs.
      {0x4F, '|'},
      {0x6A, '|'},
      {0x8B, '{'},
      {0xC0, '{'},
      {0x9B, '}'},
      {0xD0, '}'},
      {0x7B, '#'},
      {0xBE, '#'},
  };
  for (const BytePair& c : cases) {
    char byte = static_cast<char>(c.in);
    FromEbcdic(byte);
    EXPECT_EQ(int{static_cast<std::uint8_t>(byte)}, int{c.out}) << std::hex << int{c.in};
  }
}

}  // namespace
}  // namespace korval::link
