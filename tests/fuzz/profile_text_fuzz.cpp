// The profile text read and written: no input crashes; a value written reads back and
// is left as the key's one copy; every other line keeps its bytes; every other key
// keeps its value. UTF-16LE files are checked in their UTF-8 form.
//
// Input: section, key and value, each ended by a NUL byte, then a byte whose low bit
// removes the key instead, then the file's bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/profile_text.h"
#include "platform/text_encoding.h"
#include "platform/utf16_text.h"

namespace {

using korval::platform::Cp1252ToUtf8;
using korval::platform::ReadProfileValue;
using korval::platform::Utf8ToCp1252;
using korval::platform::WriteProfileValue;

constexpr std::size_t kRoom = 1 << 20;
constexpr std::string_view kBom = "\xEF\xBB\xBF";

void Fail(const char* what) {
  std::fprintf(stderr, "profile text: %s\n", what);
  std::abort();
}

std::string_view Take(std::string_view& input) {
  const std::size_t end = input.find('\0');
  const std::string_view field = input.substr(0, end);
  input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  return field;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The store's rule: the mark, or non-ASCII text that is all well-formed UTF-8.
bool HoldsUtf8(std::string_view bytes) {
  if (bytes.substr(0, kBom.size()) == kBom) return true;
  bool ascii = true;
  for (const char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  return !ascii && korval::platform::IsUtf8(bytes);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

struct Line {
  std::string_view text;
  std::string_view end;  // its break: CRLF, LF, CR or nothing
};

std::vector<Line> Lines(std::string_view bytes) {
  if (bytes.substr(0, kBom.size()) == kBom) bytes.remove_prefix(kBom.size());
  std::vector<Line> lines;
  while (!bytes.empty()) {
    std::size_t end = bytes.find_first_of("\r\n");
    if (end == std::string_view::npos) end = bytes.size();
    std::size_t next = end;
    if (next < bytes.size()) next += bytes.substr(end, 2) == "\r\n" ? 2 : 1;
    lines.push_back({bytes.substr(0, end), bytes.substr(end, next - end)});
    bytes.remove_prefix(next);
  }
  return lines;
}

struct KeyedLine {
  Line line;
  std::optional<std::string_view> section;  // of the key line; nothing: not a key line
  std::string_view key;
};

std::vector<KeyedLine> KeyedLines(std::string_view bytes) {
  std::vector<KeyedLine> lines;
  std::optional<std::string_view> section;
  for (const Line& line : Lines(bytes)) {
    lines.push_back({line, std::nullopt, {}});
    const std::string_view text = Trim(line.text);
    if (text.empty() || text.front() == ';') continue;
    if (text.front() == '[' && text.find(']') != std::string_view::npos) {
      section = Trim(text.substr(1, text.find(']') - 1));
      continue;
    }
    const std::size_t equals = text.find('=');
    if (section && equals != std::string_view::npos) {
      lines.back().section = section;
      lines.back().key = Trim(text.substr(0, equals));
    }
  }
  return lines;
}

// Every (section, key) of the file, as the file spells them.
std::vector<std::pair<std::string_view, std::string_view>> Keys(std::string_view bytes) {
  std::vector<std::pair<std::string_view, std::string_view>> keys;
  for (const KeyedLine& line : KeyedLines(bytes)) {
    if (line.section) keys.emplace_back(*line.section, line.key);
  }
  return keys;
}

bool IsCopy(const KeyedLine& line, std::string_view section, std::string_view key) {
  return line.section && SameName(*line.section, section) && SameName(line.key, key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string section(Take(input));
  const std::string key(Take(input));
  const std::string given(Take(input));
  const bool remove = !input.empty() && (input.front() & 1) != 0;
  if (!input.empty()) input.remove_prefix(1);
  const std::string_view given_file = input;
  const bool utf16 = korval::platform::HasUtf16LeMark(given_file);
  const std::string file_text =
      utf16 ? korval::platform::Utf16LeToUtf8(given_file) : std::string(given_file);
  const std::string_view file = file_text;
  const bool utf8 = HoldsUtf8(file);

  if (ReadProfileValue(given_file, section, key, kRoom) !=
      ReadProfileValue(file, section, key, kRoom)) {
    Fail("a UTF-16LE file reads otherwise than its UTF-8 form");
  }
  ReadProfileValue(file, section, key, size % 7);
  const std::optional<std::string> value =
      remove ? std::nullopt : std::optional<std::string>(given);
  const std::string given_out = WriteProfileValue(given_file, section, key, value);
  if (!korval::platform::IsWritableProfileName(section, key)) {
    if (given_out != given_file) Fail("names that cannot be written changed the file");
    return 0;
  }
  if (utf16 != korval::platform::HasUtf16LeMark(given_out)) Fail("the UTF-16LE mark changed");
  const std::string out = utf16 ? korval::platform::Utf16LeToUtf8(given_out) : given_out;
  // A file without a mark is told by its bytes: a write that turns it from one
  // encoding into the other changes how its non-ASCII text reads, and only the lines
  // are checked then (the calling application's own keys are ASCII).
  const bool same_encoding = HoldsUtf8(out) == utf8;

  // The value written reads back, unless blanks or quotes around it are lost as the
  // profile rules say, or it does not survive the file's encoding.
  const std::string written = given.substr(0, given.find_first_of("\r\n"));
  const bool plain = Trim(written) == written &&
                     !(written.size() >= 2 && (written.front() == '"' || written.front() == '\'') &&
                       written.back() == written.front()) &&
                     (!utf8 || Utf8ToCp1252(Cp1252ToUtf8(written)) == written);
  if (!remove && plain && same_encoding && ReadProfileValue(out, section, key, kRoom) != written) {
    Fail("the value written does not read back");
  }

  // Every line but the key's copies survives, its text byte for byte, in order; at
  // most a new section's header is added after them. Breaks next to a removed copy
  // may change, so that a lone CR does not meet an LF, and the last line may gain one.
  const std::string file_section = utf8 ? Cp1252ToUtf8(Trim(section)) : std::string(Trim(section));
  const std::string file_key = utf8 ? Cp1252ToUtf8(Trim(key)) : std::string(Trim(key));
  auto others = [&](std::string_view bytes) {
    std::vector<Line> kept;
    for (const KeyedLine& line : KeyedLines(bytes)) {
      if (!IsCopy(line, file_section, file_key)) kept.push_back(line.line);
    }
    return kept;
  };
  const std::vector<Line> before = others(file);
  const std::vector<Line> after = others(out);
  if (same_encoding) {
    if (after.size() < before.size() || after.size() > before.size() + 1) {
      Fail("a line other than the key's was lost or added");
    }
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (before[i].text != after[i].text) Fail("a line other than the key's changed");
    }
    std::size_t copies = 0;
    for (const KeyedLine& line : KeyedLines(out)) copies += IsCopy(line, file_section, file_key);
    if (copies > (remove ? 0u : 1u)) Fail("more than one copy of the key is left");
  }

  // Every other key reads as before; the file's keys are looked up in its encoding.
  std::size_t checked = 0;
  for (const auto& [s, k] : same_encoding ? Keys(file) : decltype(Keys(file)){}) {
    if (++checked > 64) break;
    const std::string api_section = utf8 ? Utf8ToCp1252(s) : std::string(s);
    const std::string api_key = utf8 ? Utf8ToCp1252(k) : std::string(k);
    const std::string looked_section = utf8 ? Cp1252ToUtf8(api_section) : api_section;
    const std::string looked_key = utf8 ? Cp1252ToUtf8(api_key) : api_key;
    if (SameName(looked_section, file_section) && SameName(looked_key, file_key)) continue;
    if (ReadProfileValue(file, api_section, api_key, kRoom) !=
        ReadProfileValue(out, api_section, api_key, kRoom)) {
      Fail("another key's value changed");
    }
  }
  return 0;
}
