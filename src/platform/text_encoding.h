#pragma once
// Conversions between Windows-1252 (the system's own text) and UTF-8 (text from
// files that carry a UTF-8 byte-order mark or are valid UTF-8, and file names on
// Linux).

#include <string>
#include <string_view>

namespace korval::platform {

// Every byte has a character: the five bytes Windows-1252 leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same value, as Windows does.
std::string Cp1252ToUtf8(std::string_view text);

// Characters that have no Windows-1252 byte become missing. A byte that does not
// start a well-formed UTF-8 sequence is taken as a Windows-1252 byte of its own, so
// text that was never UTF-8 comes through unchanged.
std::string Utf8ToCp1252(std::string_view text, char missing = '?');

// What stands for a character Windows-1252 cannot hold where it must not pass for
// one: the ASCII substitute control, which no text of ours carries.
inline constexpr char kNotInCp1252 = '\x1A';

// Appends the UTF-8 bytes of one code point.
void AppendUtf8(char32_t c, std::string& out);

// True when every byte belongs to a well-formed UTF-8 sequence.
bool IsUtf8(std::string_view text);

}  // namespace korval::platform
