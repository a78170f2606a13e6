#include "platform/profile_text.h"

#include <algorithm>

#include "platform/text_encoding.h"

namespace korval::platform {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

bool HasBom(std::string_view bytes) { return bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom; }

// A file holds UTF-8 when it says so with the byte-order mark, or when its non-ASCII
// text is all well-formed UTF-8 (Windows-1252 text with accents seldom is).
bool HoldsUtf8(std::string_view bytes) {
  if (HasBom(bytes)) return true;
  const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return !ascii && IsUtf8(bytes);
}

// Where the first line's text begins: after the byte-order mark.
std::size_t ContentStart(std::string_view bytes) { return HasBom(bytes) ? kUtf8Bom.size() : 0; }

struct Line {
  std::size_t start = 0;  // first byte of the line's text
  std::size_t end = 0;    // end of the text, where the line break begins
  std::size_t next = 0;   // first byte of the following line
  bool HasBreak() const { return next != end; }
};

class LineScanner {
 public:
  explicit LineScanner(std::string_view bytes) : bytes_(bytes), pos_(ContentStart(bytes)) {}

  bool Next(Line* line) {
    if (pos_ >= bytes_.size()) return false;
    line->start = pos_;
    line->end = std::min(bytes_.find_first_of("\r\n", pos_), bytes_.size());
    line->next = line->end;
    if (line->next < bytes_.size()) {
      const bool crlf = bytes_[line->next] == '\r' && line->next + 1 < bytes_.size() &&
                        bytes_[line->next + 1] == '\n';
      line->next += crlf ? 2 : 1;
    }
    pos_ = line->next;
    return true;
  }

 private:
  std::string_view bytes_;
  std::size_t pos_;
};

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string_view name;
  std::size_t value_start = 0;  // key lines: offset in the file of the value, past blanks
};

ParsedLine Parse(std::string_view bytes, const Line& line) {
  const std::string_view text = bytes.substr(line.start, line.end - line.start);
  ParsedLine parsed;
  std::size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  if (first == text.size() || text[first] == ';') return parsed;
  if (text[first] == '[') {
    const std::size_t close = text.find(']', first + 1);
    if (close != std::string_view::npos) {
      parsed.kind = LineKind::kSection;
      parsed.name = Trim(text.substr(first + 1, close - first - 1));
      return parsed;
    }
  }
  const std::size_t equals = text.find('=', first);
  if (equals == std::string_view::npos) return parsed;
  parsed.kind = LineKind::kKey;
  parsed.name = Trim(text.substr(first, equals - first));
  std::size_t value = equals + 1;
  while (value < text.size() && IsBlank(text[value])) ++value;
  parsed.value_start = line.start + value;
  return parsed;
}

struct Location {
  bool section_found = false;
  Line insert_after;  // the section's header or its last key line
  bool key_found = false;
  Line key_line;
  std::size_t value_start = 0;
};

// Only the first section of the name is searched, and the search stops at the first
// key of the name: later duplicates are never seen.
Location Locate(std::string_view bytes, std::string_view section, std::string_view key) {
  Location location;
  LineScanner scanner(bytes);
  Line line;
  while (scanner.Next(&line)) {
    const ParsedLine parsed = Parse(bytes, line);
    if (parsed.kind == LineKind::kSection) {
      if (location.section_found) break;
      if (EqualsIgnoringCase(parsed.name, section)) {
        location.section_found = true;
        location.insert_after = line;
      }
      continue;
    }
    if (!location.section_found || parsed.kind != LineKind::kKey) continue;
    location.insert_after = line;
    if (EqualsIgnoringCase(parsed.name, key)) {
      location.key_found = true;
      location.key_line = line;
      location.value_start = parsed.value_start;
      break;
    }
  }
  return location;
}

std::string_view LineBreakOf(std::string_view bytes) {
  const std::size_t at = bytes.find_first_of("\r\n");
  if (at == std::string_view::npos) return "\r\n";
  if (bytes[at] == '\n') return "\n";
  return at + 1 < bytes.size() && bytes[at + 1] == '\n' ? "\r\n" : "\r";
}

// Names as they appear in the file: UTF-8 in a file that holds UTF-8.
std::string InFileEncoding(std::string_view text, bool utf8) {
  return utf8 ? Cp1252ToUtf8(text) : std::string(text);
}

}  // namespace

bool IsWritableProfileName(std::string_view section, std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || key.empty()) return false;
  if (section.find_first_of("]\r\n") != std::string_view::npos) return false;
  if (key.find_first_of("=\r\n") != std::string_view::npos) return false;
  return key.front() != ';' && key.front() != '[';
}

std::string ReadProfileValue(std::string_view file_bytes, std::string_view section,
                             std::string_view key, std::size_t capacity) {
  section = Trim(section);
  key = Trim(key);
  if (capacity == 0 || section.empty() || key.empty()) return {};
  const bool utf8 = HoldsUtf8(file_bytes);
  const Location location =
      Locate(file_bytes, InFileEncoding(section, utf8), InFileEncoding(key, utf8));
  if (!location.key_found) return {};

  std::string_view raw = Trim(file_bytes.substr(
      location.value_start, location.key_line.end - location.value_start));
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
      raw.back() == raw.front()) {
    raw = raw.substr(1, raw.size() - 2);
  }
  std::string value = utf8 ? Utf8ToCp1252(raw, kNotInCp1252) : std::string(raw);
  if (value.size() > capacity - 1) value.resize(capacity - 1);
  return value;
}

std::string WriteProfileValue(std::string_view file_bytes, std::string_view section,
                              std::string_view key, const std::optional<std::string>& value) {
  if (!IsWritableProfileName(section, key)) return std::string(file_bytes);
  const bool utf8 = HoldsUtf8(file_bytes);
  const std::string section_name = InFileEncoding(Trim(section), utf8);
  const std::string key_name = InFileEncoding(Trim(key), utf8);
  std::optional<std::string> text;
  if (value) {
    const std::string_view given = *value;
    text = InFileEncoding(given.substr(0, given.find_first_of("\r\n")), utf8);
  }

  const Location location = Locate(file_bytes, section_name, key_name);
  std::string out;
  if (location.key_found) {
    const Line& line = location.key_line;
    if (text) {
      out.reserve(file_bytes.size() + text->size());
      out.append(file_bytes.substr(0, location.value_start));
      out.append(*text);
      out.append(file_bytes.substr(line.end));
    } else {
      // A lone CR before the line and an LF after it would join into one CRLF and
      // swallow a line: the removed line's last break byte then stays between them.
      const bool would_join = line.start > 0 && file_bytes[line.start - 1] == '\r' &&
                              line.next < file_bytes.size() && file_bytes[line.next] == '\n';
      out.reserve(file_bytes.size());
      out.append(file_bytes.substr(0, line.start));
      out.append(file_bytes.substr(would_join ? line.next - 1 : line.next));
    }
    return out;
  }
  if (!text) return std::string(file_bytes);

  const std::string_view file_break = LineBreakOf(file_bytes);
  std::string entry = key_name;
  entry.append("=").append(*text);
  out.reserve(file_bytes.size() + section_name.size() + entry.size() + 8);
  if (location.section_found) {
    // The new line ends like the one before it, which also keeps a lone CR from
    // meeting an LF that follows.
    const Line& after = location.insert_after;
    const std::string_view line_break =
        after.HasBreak() ? file_bytes.substr(after.end, after.next - after.end) : file_break;
    out.append(file_bytes.substr(0, after.next));
    if (!after.HasBreak()) out.append(line_break);
    out.append(entry).append(line_break);
    out.append(file_bytes.substr(after.next));
  } else {
    out.append(file_bytes);
    const bool ends_open = file_bytes.size() > ContentStart(file_bytes) &&
                           file_bytes.back() != '\n' && file_bytes.back() != '\r';
    if (ends_open) out.append(file_break);
    out.append("[").append(section_name).append("]").append(file_break);
    out.append(entry).append(file_break);
  }
  return out;
}

}  // namespace korval::platform
