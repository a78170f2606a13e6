#include "link/ebcdic.h"

#include <array>
#include <cstddef>

namespace korval::link {
namespace {

using Table = std::array<std::uint8_t, 256>;

struct Pair {
  std::uint8_t from;
  std::uint8_t to;
};

// Characters outside the letter and digit runs.
constexpr Pair kToEbcdicSingles[] = {
    {0x21, 0x5A},
    {0x22, 0x7F},
    {0x23, 0x7B},
    {0x24, 0x5B},
    {0x25, 0x6C},
    {0x26, 0x50},
    {0x27, 0x7D},
    {0x28, 0x4D},
    {0x29, 0x5D},
    {0x2A, 0x5C},
    {0x2B, 0x4E},
    {0x2C, 0x6B},
    {0x2D, 0x60},
    {0x2E, 0x4B},
    {0x2F, 0x61},
    {0x3A, 0x7A},
    {0x3B, 0x5E},
    {0x3C, 0x4C},
    {0x3D, 0x7E},
    {0x3E, 0x6E},
    {0x3F, 0x6F},
    {0x40, 0x7C},
    {0x5B, 0xAD},
    {0x5C, 0xE0},
    {0x5D, 0xBD},
    {0x5F, 0x6D},
    {0x7B, 0xC0},
    {0x7C, 0x6A},
    {0x7D, 0xD0},
    {0x7E, 0xA1},
    // French accented small letters, folded to the plain letter.
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

// Outputs of 0x80 and above are passed on as they are, with no further code
// page conversion: the receiving side has always stored them so.
constexpr Pair kFromEbcdicSingles[] = {
    {0x0D, 0x0D}, {0x4A, 0x80}, {0x4B, 0x2E}, {0x4C, 0x3C}, {0x4D, 0x28}, {0x4E, 0x2B},
    {0x4F, 0x7C}, {0x50, 0x26}, {0x5A, 0x21}, {0x5B, 0x24}, {0x5C, 0x2A}, {0x5D, 0x29},
    {0x5E, 0x3B}, {0x5F, 0xAA}, {0x60, 0x2D}, {0x61, 0x2F}, {0x6A, 0x7C}, {0x6B, 0x2C},
    {0x6C, 0x25}, {0x6D, 0x5F}, {0x6E, 0x3E}, {0x6F, 0x3F}, {0x7A, 0x3A}, {0x7B, 0x23},
    {0x7C, 0x40}, {0x7D, 0x27}, {0x7E, 0x3D}, {0x7F, 0x22}, {0x8B, 0x7B}, {0x8C, 0xF3},
    {0x9B, 0x7D}, {0x9E, 0xF1}, {0x9F, 0xFE}, {0xA1, 0xF8}, {0xAB, 0xC0}, {0xAC, 0xDA},
    {0xAD, 0x5B}, {0xAE, 0xF2}, {0xBB, 0xD9}, {0xBC, 0xBF}, {0xBD, 0x5D}, {0xBE, 0x23},
    {0xBF, 0xC4}, {0xC0, 0x7B}, {0xD0, 0x7D}, {0xE0, 0x5C},
};

// Builds a table from rules applied in order, first match wins: each step only
// fills the bytes that no earlier step has claimed.
class TableBuilder {
 public:
  // Bytes first..last map to byte + offset (modulo 256).
  constexpr TableBuilder& Shift(int first, int last, int offset) {
    for (int in = first; in <= last; ++in) Claim(in, in + offset);
    return *this;
  }
  // Bytes first..last all map to one value.
  constexpr TableBuilder& Fill(int first, int last, int out) {
    for (int in = first; in <= last; ++in) Claim(in, out);
    return *this;
  }
  template <std::size_t N>
  constexpr TableBuilder& Singles(const Pair (&pairs)[N]) {
    for (const Pair& pair : pairs) Claim(pair.from, pair.to);
    return *this;
  }
  constexpr Table Rest(int out) {
    Fill(0x00, 0xFF, out);
    return table_;
  }

 private:
  constexpr void Claim(int in, int out) {
    if (!claimed_[in]) {
      claimed_[in] = true;
      table_[in] = static_cast<std::uint8_t>(out & 0xFF);
    }
  }

  Table table_{};
  std::array<bool, 256> claimed_{};
};

constexpr Table kToEbcdic = TableBuilder()
                                .Fill(0x0D, 0x0D, 0x0D)
                                .Fill(0x09, 0x09, 0x09)
                                .Fill(0x00, 0x20, 0x40)
                                .Shift(0x61, 0x69, 0x20)
                                .Shift(0x6A, 0x72, 0x27)
                                .Shift(0x73, 0x7A, 0x2F)
                                .Shift(0x41, 0x49, 0x80)
                                .Shift(0x4A, 0x52, -0x79)
                                .Shift(0x53, 0x5A, -0x71)
                                .Shift(0x30, 0x39, -0x40)
                                .Singles(kToEbcdicSingles)
                                .Rest(0x40);

constexpr Table kFromEbcdic = TableBuilder()
                                  .Shift(0x81, 0x89, -0x20)
                                  .Shift(0x91, 0x99, -0x27)
                                  .Shift(0xA2, 0xA9, -0x2F)
                                  .Shift(0xC1, 0xC9, -0x80)
                                  .Shift(0xD1, 0xD9, -0x87)
                                  .Shift(0xE2, 0xE9, -0x8F)
                                  .Shift(0xF0, 0xF9, -0xC0)
                                  .Singles(kFromEbcdicSingles)
                                  .Rest(0x20);

constexpr bool NeverZero(const Table& table) {
  for (std::uint8_t value : table) {
    if (value == 0) return false;
  }
  return true;
}

// Callers rely on the length of a converted text, so a 0 must never appear.
static_assert(NeverZero(kToEbcdic) && NeverZero(kFromEbcdic));
static_assert(kToEbcdic['A'] == 0xC1 && kToEbcdic['0'] == 0xF0);
static_assert(kFromEbcdic[0xC1] == 'A' && kFromEbcdic[0x40] == ' ');

}  // namespace

std::uint8_t ToEbcdicByte(std::uint8_t ansi) { return kToEbcdic[ansi]; }

void ToEbcdic(std::string& text) {
  for (char& c : text) {
    c = static_cast<char>(kToEbcdic[static_cast<unsigned char>(c)]);
  }
}

std::uint8_t FromEbcdicByte(std::uint8_t ebcdic) { return kFromEbcdic[ebcdic]; }

void FromEbcdic(char& byte) {
  byte = static_cast<char>(kFromEbcdic[static_cast<unsigned char>(byte)]);
}

}  // namespace korval::link
