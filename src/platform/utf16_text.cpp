#include "platform/utf16_text.h"

#include "platform/text_encoding.h"

#include <cstddef>
#include <cstdint>

namespace korval::platform {
namespace {

void AppendUnit(char16_t unit, std::string& out) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>(unit >> 8));
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// One sequence at text[pos], lone surrogates allowed (they come from Utf16LeToUtf8);
// 0 when there is none.
std::size_t DecodeAt(std::string_view text, std::size_t pos, char32_t* c) {
  const auto lead = static_cast<std::uint8_t>(text[pos]);
  std::size_t length = 0;
  char32_t value = 0;
  if (lead < 0x80) {
    *c = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - pos < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<std::uint8_t>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  const char32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (value < minimum || value > 0x10FFFF) return 0;
  *c = value;
  return length;
}

}  // namespace

bool HasUtf16LeMark(std::string_view bytes) {
  return bytes.substr(0, kUtf16LeMark.size()) == kUtf16LeMark;
}

std::string Utf16LeToUtf8(std::string_view bytes) {
  if (HasUtf16LeMark(bytes)) bytes.remove_prefix(kUtf16LeMark.size());
  const std::size_t units = bytes.size() / 2;
  const auto unit = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                 static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
  };
  std::string out(kUtf8Mark);
  out.reserve(bytes.size() + kUtf8Mark.size());
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t c = unit(i);
    if (IsHighSurrogate(c) && i + 1 < units && IsLowSurrogate(unit(i + 1))) {
      AppendUtf8(0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00), out);
      ++i;
    } else {
      AppendUtf8(c, out);
    }
  }
  return out;
}

std::string Utf8ToUtf16Le(std::string_view text) {
  if (text.substr(0, kUtf8Mark.size()) == kUtf8Mark) text.remove_prefix(kUtf8Mark.size());
  std::string out(kUtf16LeMark);
  out.reserve(2 * text.size() + kUtf16LeMark.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t c = 0;
    const std::size_t length = DecodeAt(text, pos, &c);
    if (length == 0) {
      AppendUnit(u'\xFFFD', out);
      ++pos;
      continue;
    }
    pos += length;
    if (c < 0x10000) {
      AppendUnit(static_cast<char16_t>(c), out);
    } else {
      AppendUnit(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)), out);
      AppendUnit(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)), out);
    }
  }
  return out;
}

}  // namespace korval::platform
