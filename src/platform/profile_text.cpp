#include "platform/profile_text.h"

#include <algorithm>
#include <vector>

#include "platform/text_encoding.h"
#include "platform/utf16_text.h"

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
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
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

struct KeyLine {
  Line line;
  std::size_t value_start = 0;
};

// Where a key is in the file: every copy of it, in every section of the name, so
// that a write leaves one and a removal none; a reader that takes another copy than
// the first must not find an old value.
struct Copies {
  bool section_found = false;
  Line insert_after;           // the first section's header or its last key line
  std::vector<KeyLine> lines;  // in file order
  bool first_in_first_section = false;
};

Copies FindCopies(std::string_view bytes, std::string_view section, std::string_view key) {
  Copies copies;
  LineScanner scanner(bytes);
  Line line;
  bool in_section = false;        // within a section of the name
  bool in_first_section = false;  // within the first of them
  while (scanner.Next(&line)) {
    const ParsedLine parsed = Parse(bytes, line);
    if (parsed.kind == LineKind::kSection) {
      in_section = EqualsIgnoringCase(parsed.name, section);
      in_first_section = in_section && !copies.section_found;
      if (in_first_section) {
        copies.section_found = true;
        copies.insert_after = line;
      }
      continue;
    }
    if (!in_section || parsed.kind != LineKind::kKey) continue;
    if (in_first_section) copies.insert_after = line;
    if (!EqualsIgnoringCase(parsed.name, key)) continue;
    if (copies.lines.empty()) copies.first_in_first_section = in_first_section;
    copies.lines.push_back({line, parsed.value_start});
  }
  return copies;
}

// The first copy of the key, as it is read: only the first section of the name.
std::optional<KeyLine> FindKey(std::string_view bytes, std::string_view section,
                               std::string_view key) {
  const Copies copies = FindCopies(bytes, section, key);
  if (copies.lines.empty() || !copies.first_in_first_section) return std::nullopt;
  return copies.lines.front();
}

// Lines to take out, from the start of the first to the end of the last one's break;
// copies that follow each other go as one, so that their breaks cannot join up.
struct Removal {
  std::size_t start = 0;
  std::size_t next = 0;
};

// Takes the lines out of bytes, whose text before them is as it was in the file.
void Remove(std::string& bytes, const Removal& removal) {
  // A lone CR before the lines and an LF after them would join into one CRLF and
  // swallow a line: the removed lines' last break byte then stays between them.
  const bool would_join = removal.start > 0 && bytes[removal.start - 1] == '\r' &&
                          removal.next < bytes.size() && bytes[removal.next] == '\n';
  bytes.erase(removal.start, (would_join ? removal.next - 1 : removal.next) - removal.start);
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

// Adds the key's line to bytes: after the first section's last key line, or in a new
// section at the end. Lines removed from bytes all lay past the insertion point.
std::string WithNewKey(std::string_view bytes, const Copies& copies, std::string_view section_name,
                       const std::string& entry) {
  const std::string_view file_break = LineBreakOf(bytes);
  std::string out;
  out.reserve(bytes.size() + section_name.size() + entry.size() + 8);
  if (copies.section_found) {
    // The new line ends like the one before it, which also keeps a lone CR from
    // meeting an LF that follows.
    const Line& after = copies.insert_after;
    const std::string_view line_break =
        after.HasBreak() ? bytes.substr(after.end, after.next - after.end) : file_break;
    out.append(bytes.substr(0, after.next));
    if (!after.HasBreak()) out.append(line_break);
    out.append(entry).append(line_break);
    out.append(bytes.substr(after.next));
    return out;
  }
  out.append(bytes);
  const bool ends_open =
      bytes.size() > ContentStart(bytes) && bytes.back() != '\n' && bytes.back() != '\r';
  if (ends_open) out.append(file_break);
  out.append("[").append(section_name).append("]").append(file_break);
  out.append(entry).append(file_break);
  return out;
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
  if (HasUtf16LeMark(file_bytes)) {
    return ReadProfileValue(Utf16LeToUtf8(file_bytes), section, key, capacity);
  }
  const bool utf8 = HoldsUtf8(file_bytes);
  const std::optional<KeyLine> found =
      FindKey(file_bytes, InFileEncoding(section, utf8), InFileEncoding(key, utf8));
  if (!found) return {};

  std::string_view raw =
      Trim(file_bytes.substr(found->value_start, found->line.end - found->value_start));
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front()) {
    raw = raw.substr(1, raw.size() - 2);
  }
  std::string value = utf8 ? Utf8ToCp1252(raw, kNotInCp1252) : std::string(raw);
  if (value.size() > capacity - 1) value.resize(capacity - 1);
  return value;
}

std::string WriteProfileValue(std::string_view file_bytes, std::string_view section,
                              std::string_view key, const std::optional<std::string>& value) {
  if (!IsWritableProfileName(section, key)) return std::string(file_bytes);
  if (HasUtf16LeMark(file_bytes)) {
    return Utf8ToUtf16Le(WriteProfileValue(Utf16LeToUtf8(file_bytes), section, key, value));
  }
  const bool utf8 = HoldsUtf8(file_bytes);
  const std::string section_name = InFileEncoding(Trim(section), utf8);
  const std::string key_name = InFileEncoding(Trim(key), utf8);
  std::optional<std::string> text;
  if (value) {
    const std::string_view given = *value;
    text = InFileEncoding(given.substr(0, given.find_first_of("\r\n")), utf8);
  }

  const Copies copies = FindCopies(file_bytes, section_name, key_name);
  const bool keep_first = text && copies.first_in_first_section;
  std::vector<Removal> removals;
  for (std::size_t i = keep_first ? 1 : 0; i < copies.lines.size(); ++i) {
    const Line& line = copies.lines[i].line;
    if (!removals.empty() && removals.back().next == line.start) {
      removals.back().next = line.next;
    } else {
      removals.push_back({line.start, line.next});
    }
  }
  std::string out(file_bytes);
  // From the end, so that the positions found still hold for the lines before.
  for (auto it = removals.rbegin(); it != removals.rend(); ++it) Remove(out, *it);
  if (keep_first) {
    const KeyLine& first = copies.lines.front();
    out.replace(first.value_start, first.line.end - first.value_start, *text);
  }
  if (!text || keep_first) return out;
  return WithNewKey(out, copies, section_name, key_name + "=" + *text);
}

}  // namespace korval::platform
