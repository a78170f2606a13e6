#pragma once
// Profile (INI) files as bytes in memory, read and edited the way the Windows profile
// functions do it, so that the job file and win.ini written by other programs are
// understood and survive our edits.
//
// - Section and key names match without regard to ASCII case; blanks (spaces, tabs)
//   around names and values do not count. One pair of matching quotes (" or ')
//   around a value is taken off.
// - A line whose first non-blank character is ';' is a comment. A line that starts
//   with '[' but has no ']' is not a section header. Lines before the first section,
//   and lines without '=', belong to no key.
// - Of duplicate sections, and of duplicate keys within a section, the first one is
//   the one read. A write leaves exactly one copy of the key, in the first section of
//   the name; a removal leaves none in any of them.
// - A line ends at LF, CRLF or a lone CR. A missing final line break is allowed.
// - A file that starts with the UTF-8 byte-order mark, or has no mark but non-ASCII
//   text that is all well-formed UTF-8, holds UTF-8: names and values are given and
//   returned in Windows-1252 and converted on the way; a character Windows-1252
//   cannot hold is read as kNotInCp1252. A file that starts with FF FE holds UTF-16
//   little-endian, as Windows' "Unicode" files do; it is read the same way and written
//   back in UTF-16. Any other file is Windows-1252.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korval::platform {

// The key's value, cut to capacity - 1 characters (empty for capacity 0); empty when
// the section or the key is missing or a name is empty.
std::string ReadProfileValue(std::string_view file_bytes, std::string_view section,
                             std::string_view key, std::size_t capacity);

// The file's new bytes after setting the key to value, or removing the key when there
// is no value. Every line not written is kept byte for byte.
// - An existing key keeps its first line up to the value (indentation, its own
//   spelling, the blanks around '='); only the value is replaced. Its other copies go.
// - A new key goes after the last key line of its section (so before the blank lines
//   and comments that close the section); a new section goes at the end of the file.
// - A new key's line ends like the line before it; a new section's lines, and a break
//   added after a last line that had none, end like the file's first line (CRLF in a
//   file without any, as for a new file).
// - A line is removed with its line break.
// - The value is cut at its first CR or LF: a value cannot add lines to the file.
// - The value is written as given, without quotes: blanks around it, or a pair of
//   quotes around it, will not be read back.
// - When the names cannot be written (IsWritableProfileName), the bytes come back
//   unchanged.
std::string WriteProfileValue(std::string_view file_bytes, std::string_view section,
                              std::string_view key, const std::optional<std::string>& value);

// Whether a key line for these names can be written so that it reads back as the
// same names: both non-empty after trimming, no line break in either, no ']' in the
// section, no '=' in the key, and a key that does not begin with ';' or '['.
bool IsWritableProfileName(std::string_view section, std::string_view key);

}  // namespace korval::platform
