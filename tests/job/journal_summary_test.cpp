#include "job/journal_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korval::job {
namespace {

std::string Block(const std::string& start, const std::string& tail) {
  return "=== " + start +
         " d\351but du travail (processus 7)\n"
         "Action : L (fichier L.C.R)\nAbonn\xE9 : 175010123\nFichier : /data/lcr.txt\n"
         "10:00:01 | Envoi fichier L.C.R !\n" +
         tail;
}

const std::string kDone =
    "R\xE9sultat : Retour=1 Detail1=0000 Detail2=0000, statut 0\n"
    "=== 2026-12-09 10:00:09 +0100 fin du travail (processus 7)\n";

TEST(JournalSummaryTest, OneLinePerJobWithItsOutcomeAndCause) {
  struct Case {
    const char* name;
    std::string journal;
    std::size_t count;
    std::vector<std::string> lines;
  };
  const std::string line = " | fichier L.C.R | 175010123 | /data/lcr.txt | ";
  const std::vector<Case> cases = {
      {"done",
       Block("A", kDone),
       10,
       {"A" + line + "Retour=1 Detail1=0000 Detail2=0000, statut 0"}},
      {"failed with its cause",
       Block("A",
             "R\xE9sultat : Retour=0 Detail1=9999 Detail2=9999, statut 1\n"
             "Cause : Communication : pas de r\xE9ponse\n=== B fin du travail (processus 7)\n"),
       10,
       {"A" + line +
        "Retour=0 Detail1=9999 Detail2=9999, statut 1 | Communication : pas de r\xE9ponse"}},
      {"still pending",
       Block("A", ""),
       10,
       {"A" + line + "en cours, ou arr\xEAt\xE9 sans fin \351crite"}},
      {"killed",
       Block("A", "=== interrompu : le processus s'est arr\xEAt\xE9 avant la fin\n"),
       10,
       {"A" + line + "interrompu (processus arr\xEAt\xE9)"}},
      {"the last ones only, CR LF ends, stray lines ignored",
       "stray\r\n" + Block("A", kDone) + Block("B", kDone) + Block("C", kDone),
       2,
       {"B" + line + "Retour=1 Detail1=0000 Detail2=0000, statut 0",
        "C" + line + "Retour=1 Detail1=0000 Detail2=0000, statut 0"}},
      {"empty", "", 10, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SummariseJournal(c.journal, c.count), c.lines) << c.name;
  }
}

}  // namespace
}  // namespace korval::job
