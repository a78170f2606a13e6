#include "platform/profile_text.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace korval::platform {
namespace {

using namespace std::string_literals;

constexpr std::size_t kRoom = 256;

// Text of ASCII and Latin-1 characters as a UTF-16LE file, mark first.
std::string Utf16(std::string_view latin1) {
  std::string bytes = "\xFF\xFE";
  for (const char c : latin1) bytes.append({c, '\0'});
  return bytes;
}

TEST(ProfileTextTest, Read) {
  const struct {
    const char* what;
    std::string file;
    std::string section;
    std::string key;
    std::size_t capacity;
    std::string expected;
  } cases[] = {
      {"plain", "[KORVAL]\r\nTypeAction=R\r\n", "KORVAL", "TypeAction", kRoom, "R"},
      {"names ignore case", "[Korval]\nTYPEACTION=R\n", "kORVAL", "typeaction", kRoom, "R"},
      {"blanks around names and value", "  [ \tKORVAL ]\n \tKey\t =  a b \t\n", "KORVAL", "Key",
       kRoom, "a b"},
      {"blanks around the names asked for", "[KORVAL]\nKey=v\n", " KORVAL\t", "\tKey ", kRoom, "v"},
      {"double quotes", "[S]\nk=\" a \"\n", "S", "k", kRoom, " a "},
      {"single quotes", "[S]\nk='x'\n", "S", "k", kRoom, "x"},
      {"only one pair of quotes", "[S]\nk=\"\"x\"\"\n", "S", "k", kRoom, "\"x\""},
      {"quotes that do not match", "[S]\nk=\"x'\n", "S", "k", kRoom, "\"x'"},
      {"value holding '='", "[S]\nk=a=b\n", "S", "k", kRoom, "a=b"},
      {"text after the header", "[S] ; note\nk=v\n", "S", "k", kRoom, "v"},
      {"comment, line without '='", "[S]\n \t;k=1\nk\nk=2\n", "S", "k", kRoom, "2"},
      {"key before any section", "k=1\n[S]\nj=2\n", "S", "k", kRoom, ""},
      {"key of another section", "[A]\nk=1\n[S]\nj=2\n", "S", "k", kRoom, ""},
      {"first of duplicate keys", "[S]\nk=1\nK=2\n", "S", "k", kRoom, "1"},
      {"key only in the second duplicate", "[S]\nj=1\n[S]\nk=2\n", "S", "k", kRoom, ""},
      {"header without ']'", "[S]\n[T\nk=1\n", "S", "k", kRoom, "1"},
      {"cut after the quotes go", "[S]\nk=\"abcdef\"\n", "S", "k", 4, "abc"},
      {"capacity 0", "[S]\nk=abc\n", "S", "k", 0, ""},
      {"empty section name", "[]\nk=1\n", "", "k", kRoom, ""},
      {"empty key name", "[S]\n=1\n", "S", "", kRoom, ""},
      {"empty input", "", "S", "k", kRoom, ""},
      {"no final line break", "[S]\nk=last", "S", "k", kRoom, "last"},
      {"lone CR line breaks", "[S]\rj=1\rk=2\r", "S", "k", kRoom, "2"},
      {"NUL and binary bytes", "\xFF\x00\x01[\n[S]\n\x80\x9D=\n=\nk=\0\xE9\n"s, "S", "k", kRoom,
       "\0\xE9"s},
      {"no mark, valid UTF-8: read as UTF-8", "[S]\nk=Relev\xC3\xA9\n", "S", "k", kRoom,
       "Relev\xE9"},
      {"no mark, Windows-1252: bytes as they are", "[S]\nk=Relev\xE9\nj=\xC3\xA9\n", "S", "k",
       kRoom, "Relev\xE9"},
      {"a character Windows-1252 cannot hold is marked", "[S]\nk=a\xC5\x82z\n", "S", "k", kRoom,
       "a\x1Az"},
      {"mark: value from UTF-8", "\xEF\xBB\xBF[S]\nk=Relev\xC3\xA9 \xE2\x82\xAC\n", "S", "k", kRoom,
       "Relev\xE9 \x80"},
      {"mark: cut counts characters", "\xEF\xBB\xBF[S]\nk=\xC3\xA9\xC3\xA9\xC3\xA9\n", "S", "k", 3,
       "\xE9\xE9"},
      {"mark: names in UTF-8", "\xEF\xBB\xBF[Soci\xC3\xA9t\xC3\xA9]\n\xC3\xA9=1\n", "Soci\xE9t\xE9",
       "\xE9", kRoom, "1"},
      {"UTF-16LE: a character past U+FFFF is marked",
       Utf16("[S]\r\nk=a") + "\x3D\xD8\x00\xDE"s + Utf16("z\r\n").substr(2), "S", "k", kRoom,
       "a\x1Az"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadProfileValue(c.file, c.section, c.key, c.capacity), c.expected) << c.what;
  }
}

TEST(ProfileTextTest, Write) {
  const std::optional<std::string> kRemove;
  const struct {
    const char* what;
    std::string before;
    std::string section;
    std::string key;
    std::optional<std::string> value;
    std::string after;
  } cases[] = {
      {"brand-new file gets CRLF", "", "KORVAL", "Retour", "1", "[KORVAL]\r\nRetour=1\r\n"},
      {"replace keeps the key's spelling", "[KORVAL]\r\nRETOUR=0\r\nDetail1=x\r\n", "korval",
       "Retour", "1", "[KORVAL]\r\nRETOUR=1\r\nDetail1=x\r\n"},
      {"replace keeps the layout before the value", "[S]\n  k =  old  \n", "S", "k", "new",
       "[S]\n  k =  new\n"},
      {"replace on the last line, no break", "[S]\nk=old", "S", "k", "new", "[S]\nk=new"},
      {"replace leaves one copy of the key", "[S]\nk=1\nj=0\nk=2\n[S]\nk=3\n", "S", "k", "9",
       "[S]\nk=9\nj=0\n[S]\n"},
      {"add after the last key, before blanks and comments",
       "[A]\na=1\n;x\nb\n\n; about B\n[B]\nb=2\n", "A", "x", "9",
       "[A]\na=1\nx=9\n;x\nb\n\n; about B\n[B]\nb=2\n"},
      {"add to a section without keys", "[A]\n\n[B]\n", "A", "x", "9", "[A]\nx=9\n\n[B]\n"},
      {"add to a header without a break", "[A]", "A", "x", "9", "[A]\r\nx=9\r\n"},
      {"add after a last line without a break", "[A]\na=1", "A", "x", "9", "[A]\na=1\nx=9\n"},
      {"add to the first duplicate section, the others lose the key", "[S]\nj=1\n[S]\nk=2\n", "s",
       "k", "9", "[S]\nj=1\nk=9\n[S]\n"},
      {"add in a lone-CR file", "[S]\rj=1\r", "S", "k", "9", "[S]\rj=1\rk=9\r"},
      {"add: mixed breaks do not join", "[S]\rj=1\n\n", "S", "k", "9", "[S]\rj=1\nk=9\n\n"},
      {"remove: mixed breaks do not join", "[S]\rk=1\n\nx=2\n", "S", "k", kRemove,
       "[S]\r\n\nx=2\n"},
      {"a commented key is not the key", "[S]\n;k=0\n", "S", "k", "1", "[S]\nk=1\n;k=0\n"},
      {"new section at the end", "[A]\na=1\n", "B", "x", "9", "[A]\na=1\n[B]\nx=9\n"},
      {"new section after a last line without a break", "[A]\r\na=1", "B", "x", "9",
       "[A]\r\na=1\r\n[B]\r\nx=9\r\n"},
      {"header without ']' is no section", "[S\nk=0\n", "S", "k", "1", "[S\nk=0\n[S]\nk=1\n"},
      {"names are written trimmed", "", " S\t", "\tk ", "v", "[S]\r\nk=v\r\n"},
      {"value cut at the first break", "[S]\nk=0\n", "S", "k", "a\rb\nc=d", "[S]\nk=a\n"},
      {"value written as given", "[S]\n", "S", "k", " \"q\" ", "[S]\nk= \"q\" \n"},
      {"remove", "[S]\nj=1\nk=2\nl=3\n", "S", "k", kRemove, "[S]\nj=1\nl=3\n"},
      {"remove the last line without a break", "[S]\nj=1\nk=2", "S", "k", kRemove, "[S]\nj=1\n"},
      {"remove every copy in every section of the name", "[S]\nk=1\nk=2\n[T]\nk=3\n[s]\rk=4\r\n",
       "S", "k", kRemove, "[S]\n[T]\nk=3\n[s]\r"},
      {"remove adjacent copies between mixed breaks", "[S]\rk=1\rk=2\n\n", "S", "k", kRemove,
       "[S]\r\n\n"},
      {"remove a missing key", "[S]\nj=1", "S", "k", kRemove, "[S]\nj=1"},
      {"remove from nothing", "", "S", "k", kRemove, ""},
      {"empty section name", "[S]\n", "", "k", "1", "[S]\n"},
      {"key holding '='", "[S]\n", "S", "a=b", "1", "[S]\n"},
      {"key starting a comment", "[S]\n", "S", ";k", "1", "[S]\n"},
      {"key starting a header", "[S]\n", "S", "[k", "1", "[S]\n"},
      {"key holding a break", "[S]\n", "S", "k\nj", "1", "[S]\n"},
      {"section holding ']'", "", "S]", "k", "1", ""},
      {"mark: value to UTF-8, mark kept", "\xEF\xBB\xBF[S]\r\nk=0\r\n", "S", "k", "Relev\xE9 \x80",
       "\xEF\xBB\xBF[S]\r\nk=Relev\xC3\xA9 \xE2\x82\xAC\r\n"},
      {"no mark, valid UTF-8: written back in UTF-8", "[S]\r\n;Soci\xC3\xA9t\xC3\xA9\r\nk=0\r\n",
       "S", "k", "\xE9", "[S]\r\n;Soci\xC3\xA9t\xC3\xA9\r\nk=\xC3\xA9\r\n"},
      {"no mark, Windows-1252: written as given", "[S]\r\n;Soci\xE9t\xE9\r\nk=0\r\n", "S", "k",
       "\xE9", "[S]\r\n;Soci\xE9t\xE9\r\nk=\xE9\r\n"},
      {"mark: new names in UTF-8", "\xEF\xBB\xBF", "Soci\xE9t\xE9", "\xE9", "1",
       "\xEF\xBB\xBF[Soci\xC3\xA9t\xC3\xA9]\r\n\xC3\xA9=1\r\n"},
      {"UTF-16LE: a lone surrogate on another line survives",
       Utf16("[S]\r\nj=") + "\x00\xDC"s + Utf16("\r\n").substr(2), "S", "k", "1",
       Utf16("[S]\r\nj=") + "\x00\xDC"s + Utf16("\r\nk=1\r\n").substr(2)},
      {"binary lines survive", "\xFF\x00[\x01\n[S]\n\x80=\x9D\n"s, "S", "k", "v",
       "\xFF\x00[\x01\n[S]\n\x80=\x9D\nk=v\n"s},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WriteProfileValue(c.before, c.section, c.key, c.value), c.after) << c.what;
  }
}

TEST(ProfileTextTest, WrittenValuesReadBack) {
  // Every byte but the line breaks, framed so that no blank or quote is at an end.
  std::string every_byte = "<";
  for (int b = 0; b < 256; ++b) {
    if (b != '\r' && b != '\n') every_byte.push_back(static_cast<char>(b));
  }
  every_byte += ">";
  const std::string files[] = {"", "[S]\nk=old\n", "\xEF\xBB\xBF", "\xEF\xBB\xBF[S]\r\nk=0\r\n"};
  for (const std::string& file : files) {
    const std::string written = WriteProfileValue(file, "S", "k", every_byte);
    EXPECT_EQ(ReadProfileValue(written, "S", "k", every_byte.size() + 1), every_byte) << file;
  }
}

TEST(ProfileTextTest, LongLines) {
  const std::string big(4 << 20, 'x');
  const std::string head = "[A]\n" + big + "\nj=" + big + "\n";
  const std::string file = head + "[S]\nk=" + big + "\n";
  EXPECT_EQ(ReadProfileValue(file, "S", "k", big.size() + 1), big);
  EXPECT_EQ(ReadProfileValue(file, "S", "k", 11), "xxxxxxxxxx");
  EXPECT_EQ(WriteProfileValue(file, "S", "k", "1"), head + "[S]\nk=1\n");
  EXPECT_EQ(WriteProfileValue(file, "A", "k", "1"), head + "k=1\n[S]\nk=" + big + "\n");
}

// Files made of the characters that matter to the syntax, in any order: whatever the
// file, a value written can be read back, and a write elsewhere leaves the key alone.
TEST(ProfileTextTest, ArbitraryFilesStayConsistent) {
  const std::string alphabet = "[]=;'\" \t\r\nsSkK\0\xEF\xBB\xBF\xFF"s;
  std::mt19937 random(1252);
  for (int round = 0; round < 2000; ++round) {
    std::string file(random() % 60, ' ');
    for (char& c : file) c = alphabet[random() % alphabet.size()];
    const std::string written = WriteProfileValue(file, "s", "k", "value");
    ASSERT_EQ(ReadProfileValue(written, "S", "K", kRoom), "value") << testing::PrintToString(file);
    const std::string other = WriteProfileValue(written, "s", "other", "x");
    ASSERT_EQ(ReadProfileValue(other, "s", "k", kRoom), "value") << testing::PrintToString(file);
    ASSERT_EQ(ReadProfileValue(other, "s", "other", kRoom), "x") << testing::PrintToString(file);
    // Taking the key out again gives the file back, but for a break that may have
    // been added to its last line.
    const std::string removed = WriteProfileValue(other, "s", "other", std::nullopt);
    ASSERT_EQ(removed.substr(0, written.size()), written) << testing::PrintToString(file);
    ASSERT_LE(removed.size() - written.size(), 2u) << testing::PrintToString(file);
    ASSERT_EQ(removed.find_first_not_of("\r\n", written.size()), std::string::npos)
        << testing::PrintToString(file);
  }
}

}  // namespace
}  // namespace korval::platform
