#pragma once
// Single-byte conversions between Windows ANSI (code page 1252) text and the
// EBCDIC spoken by the bank's site. Both are fixed by byte value, whatever the
// locale, and never yield 0, so a converted text keeps its length.

#include <cstdint>
#include <string>

namespace korval::link {

// ANSI to EBCDIC. Carriage return and tab are kept, the common French accented
// small letters fold to their plain letters, unmapped bytes become 0x40.
std::uint8_t ToEbcdicByte(std::uint8_t ansi);

// Converts the whole text in place, one byte per character.
void ToEbcdic(std::string& text);

// EBCDIC to ANSI. Carriage return is kept, unmapped bytes become 0x20.
std::uint8_t FromEbcdicByte(std::uint8_t ebcdic);

// Converts one received byte in place; called per byte by the read side.
void FromEbcdic(char& byte);

}  // namespace korval::link
