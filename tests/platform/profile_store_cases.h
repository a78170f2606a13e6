#pragma once
// One table of cases for every profile store, run on real files: the Linux and the
// Windows store, both on our own profile code, which follows the rules of the
// Windows profile functions. Job files come from other programs, so both must read
// them the same way. Where Wine's functions (once used by the Windows store) give
// something else, the case says what and why.

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/profile_store.h"

namespace korval::platform::profile_cases {

inline const std::string kNoFile = "<no file>";
inline const std::optional<std::string> kRemove;

struct Read {
  std::string section;
  std::string key;
  std::size_t capacity = 256;
};

struct Write {
  std::string section;
  std::string key;
  std::optional<std::string> value;  // nothing: remove the key
  bool succeeds = true;
};

struct Case {
  const char* what;
  std::string path = "job.ini";            // in the test folder, as given to the store
  std::optional<std::string> before = {};  // the file's bytes; nothing: no file
  std::optional<Write> write = {};         // made before the reads
  std::vector<Read> reads = {};
  std::vector<std::string> values = {};   // what the reads give
  std::optional<std::string> after = {};  // the file's bytes at the end; kNoFile: none
  // Where Wine's profile functions give something else: why, and what they give.
  const char* wine_differs = nullptr;
  std::optional<std::vector<std::string>> wine_values = {};
  std::optional<std::string> wine_after = {};
};

inline std::vector<Case> Cases() {
  return {
      {.what = "CRLF job file: names in any case, blanks around names and values",
       .before = "[KORVAL]\r\nTypeAction=R\r\n  NumeroAbonne = 175000123 \r\n",
       .reads = {{"korval", "typeaction"},
                 {"KORVAL", "NUMEROABONNE"},
                 {" KORVAL\t", "\tTypeAction "},
                 {"KORVAL", "FichierAssocie"},
                 {"AUTRE", "TypeAction"}},
       .values = {"R", "175000123", "R", "", ""}},
      {.what = "one pair of matching quotes comes off",
       .before = "[S]\r\nd=\" a \"\r\ns='x'\r\np=\"\"x\"\"\r\nm=\"x'\r\ne=a=b\r\no=\"abc\r\n",
       .reads = {{"S", "d"}, {"S", "s"}, {"S", "p"}, {"S", "m"}, {"S", "e"}, {"S", "o"}},
       .values = {" a ", "x", "\"x\"", "\"x'", "a=b", "\"abc"}},
      {.what = "values cut to the capacity, after the quotes go",
       .before = "[S]\nk=\"abcdef\"\nj=abcdef\n",
       .reads = {{"S", "k", 4}, {"S", "j", 4}, {"S", "j", 2}, {"S", "j", 1}, {"S", "j", 0}},
       .values = {"abc", "abc", "a", "", ""}},
      {.what = "comments and lines without '='",
       .before = "[S]\n \t;j=1\n;k=0\nk\nk=2\nl=3\n",
       .reads = {{"S", "j"}, {"S", "k"}, {"S", "l"}},
       .values = {"", "2", "3"},
       .wine_differs = "Wine takes a line without '=' for its key with an empty value",
       .wine_values = std::vector<std::string>{"", "", "3"}},
      {.what = "the first of duplicate keys and sections",
       .before = "[S]\nk=1\nK=2\n[T]\nj=1\n[s]\nj=2\nl=3\n",
       .reads = {{"S", "k"}, {"T", "j"}, {"S", "j"}, {"S", "l"}},
       .values = {"1", "1", "", ""}},
      {.what = "text after a header, a header without ']', a key before any section",
       .before = "k=0\n[S] ; note\nk=v\n[T\nj=1\n",
       .reads = {{"S", "k"}, {"S", "j"}, {"T", "j"}},
       .values = {"v", "1", ""}},
      {.what = "lone CR line breaks, no final break",
       .before = "[S]\rj=1\rk=2",
       .reads = {{"S", "j"}, {"S", "k"}},
       .values = {"1", "2"}},
      {.what = "UTF-8 mark: names and values in Windows-1252, cut by characters",
       .before = "\xEF\xBB\xBF[Soci\xC3\xA9t\xC3\xA9]\r\nk=Relev\xC3\xA9 \xE2\x82\xAC\r\n"
                 "e=\xC3\xA9\xC3\xA9\xC3\xA9\r\n",
       .reads = {{"Soci\xE9t\xE9", "k"}, {"Soci\xE9t\xE9", "e", 3}},
       .values = {"Relev\xE9 \x80", "\xE9\xE9"}},
      {.what = "no mark, all valid UTF-8: read as UTF-8",
       .before = "[S]\nk=Relev\xC3\xA9\n",
       .reads = {{"S", "k"}},
       .values = {"Relev\xE9"},
       .wine_differs = "Windows knows no UTF-8 profile files: the bytes come as they are",
       .wine_values = std::vector<std::string>{"Relev\xC3\xA9"}},
      {.what = "no mark, not UTF-8: the bytes as they are",
       .before = "[S]\nk=Relev\xE9\n",
       .reads = {{"S", "k"}},
       .values = {"Relev\xE9"}},
      {.what = "a new file has CRLF lines",
       .write = Write{"KORVAL", "Retour", "1"},
       .reads = {{"KORVAL", "Retour"}},
       .values = {"1"},
       .after = "[KORVAL]\r\nRetour=1\r\n"},
      {.what = "a path ending in blanks names the same file",
       .path = "job.ini \t ",
       .before = "[KORVAL]\r\nRetour=0\r\n",
       .write = Write{"KORVAL", "Retour", "1"},
       .reads = {{"KORVAL", "Retour"}},
       .values = {"1"},
       .after = "[KORVAL]\r\nRetour=1\r\n"},
      {.what = "a replaced value keeps the key's spelling and the other keys",
       .before = "[KORVAL]\r\nRETOUR=0\r\nDetail1=x\r\n",
       .write = Write{"korval", "Retour", "1"},
       .reads = {{"KORVAL", "Detail1"}},
       .values = {"x"},
       .after = "[KORVAL]\r\nRETOUR=1\r\nDetail1=x\r\n"},
      {.what = "the rest of the file survives an edit",
       .before = "; from the caller\n[KORVAL]\n  Retour =  0  \n\n[OTHER]\nx=1",
       .write = Write{"KORVAL", "Retour", "1"},
       .reads = {{"KORVAL", "Retour"}, {"OTHER", "x"}},
       .values = {"1", "1"},
       .after = "; from the caller\n[KORVAL]\n  Retour =  1\n\n[OTHER]\nx=1",
       .wine_differs = "Wine writes every line anew: CRLF, no blank lines, no blanks around '='",
       .wine_after = "; from the caller\r\n[KORVAL]\r\nRetour=1\r\n[OTHER]\r\nx=1\r\n"},
      {.what = "a new key goes to the first of duplicate sections, the others lose it",
       .before = "[S]\r\nj=1\r\n[S]\r\nk=2\r\n",
       .write = Write{"s", "k", "9"},
       .reads = {{"S", "k"}},
       .values = {"9"},
       .after = "[S]\r\nj=1\r\nk=9\r\n[S]\r\n"},
      {.what = "removing takes every copy of the key",
       .before = "[S]\r\nk=1\r\nk=2\r\n",
       .write = Write{"S", "k", kRemove},
       .reads = {{"S", "k"}},
       .values = {""},
       .after = "[S]\r\n"},
      {.what = "a written key is left with one copy, in the first section",
       .before = "[KORVAL]\r\nRetour=1\r\nRetour=1\r\n[KORVAL]\r\nRetour=1\r\n",
       .write = Write{"KORVAL", "Retour", "0"},
       .reads = {{"KORVAL", "Retour"}},
       .values = {"0"},
       .after = "[KORVAL]\r\nRetour=0\r\n[KORVAL]\r\n"},
      {.what = "a UTF-16LE file is read as Unicode and written back in UTF-16LE",
       .before = std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xE9\0\r\0\n\0", 22),
       .write = Write{"S", "j", "\x80"},
       .reads = {{"S", "k"}, {"S", "j"}},
       .values = {"\xE9", "\x80"},
       .after = std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xE9\0\r\0\n\0"
                            "j\0=\0\xAC\x20\r\0\n\0",
                            32)},
      {.what = "removing a key that is not there changes nothing",
       .before = "[S]\nj=1",
       .write = Write{"S", "k", kRemove},
       .after = "[S]\nj=1"},
      {.what = "removing from a missing file creates none",
       .write = Write{"KORVAL", "Retour", kRemove},
       .after = kNoFile},
      {.what = "a value is cut at its first line break",
       .before = "[S]\r\nk=0\r\n",
       .write = Write{"S", "k", "a\r\nb=c"},
       .reads = {{"S", "k"}, {"S", "b"}},
       .values = {"a", ""},
       .after = "[S]\r\nk=a\r\n"},
      {.what = "UTF-8 mark: kept, and the value written in UTF-8",
       .before = "\xEF\xBB\xBF[S]\r\nk=0\r\n",
       .write = Write{"S", "k", "Relev\xE9"},
       .reads = {{"S", "k"}},
       .values = {"Relev\xE9"},
       .after = "\xEF\xBB\xBF[S]\r\nk=Relev\xC3\xA9\r\n"},
      {.what = "a key that would not read back is not written",
       .write = Write{"S", "a=b", "1", false},
       .after = kNoFile},
      {.what = "a file in a missing folder is neither read nor written",
       .path = "missing/job.ini",
       .write = Write{"KORVAL", "Retour", "1", false},
       .reads = {{"KORVAL", "Retour"}},
       .values = {""},
       .after = kNoFile},
      {.what = "an empty path is neither read nor written",
       .path = "",
       .write = Write{"KORVAL", "Retour", "1", false},
       .reads = {{"KORVAL", "Retour"}},
       .values = {""}},
  };
}

enum class BackEnd { kOurs, kWine };

inline std::string WithoutTrailingBlanks(std::string path) {
  while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.pop_back();
  return path;
}

inline std::string FileBytes(const std::filesystem::path& path) {
  if (!std::filesystem::exists(path)) return kNoFile;
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs every case in an emptied folder.
inline void RunCases(ProfileStore& store, const std::filesystem::path& folder, BackEnd back_end) {
  namespace fs = std::filesystem;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
    const fs::path file = (folder / WithoutTrailingBlanks(c.path)).make_preferred();
    const std::string path =
        c.path.empty() ? std::string() : (folder / c.path).make_preferred().string();
    if (c.before) std::ofstream(file, std::ios::binary) << *c.before;

    if (c.write) {
      EXPECT_EQ(store.WritePrivate(path, c.write->section, c.write->key, c.write->value),
                c.write->succeeds);
    }
    std::vector<std::string> values;
    for (const Read& read : c.reads) {
      values.push_back(store.ReadPrivate(path, read.section, read.key, read.capacity));
    }

    const bool wine = back_end == BackEnd::kWine;
    const bool differs = c.wine_values.has_value() || c.wine_after.has_value();
    EXPECT_EQ(differs, c.wine_differs != nullptr) << "a difference must say why";
    EXPECT_EQ(values, wine && c.wine_values ? *c.wine_values : c.values);
    const std::optional<std::string> after = wine && c.wine_after ? c.wine_after : c.after;
    if (after) {
      EXPECT_EQ(FileBytes(file), *after);
    }
  }
}

}  // namespace korval::platform::profile_cases
