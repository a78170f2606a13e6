#pragma once
// Profile files saved as "Unicode" by Windows tools: UTF-16 little-endian behind the
// mark FF FE. They are edited as UTF-8 and saved back as they came.

#include <string>
#include <string_view>

namespace korval::platform {

inline constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool HasUtf16LeMark(std::string_view bytes);

// A UTF-16LE file (mark included) as UTF-8 behind the UTF-8 mark. A surrogate without
// its pair is kept as the three bytes of its own code point, so that the lines not
// edited go back unchanged; an odd last byte, half a character, is dropped.
std::string Utf16LeToUtf8(std::string_view bytes);

// The way back: UTF-8 (its mark, if any, dropped) as UTF-16LE behind its mark. A byte
// that starts no sequence becomes U+FFFD.
std::string Utf8ToUtf16Le(std::string_view text);

}  // namespace korval::platform
