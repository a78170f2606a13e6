// The journal and the check of the set-up, as an administrator meets them: the
// journal's blocks after real jobs, and the check's lines and status.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "e2e_rig.h"
#include "wine_program.h"

namespace korval::e2e {
namespace {

constexpr int kTimeoutS = 120;

// kKilled: a job killed half-way, then a job whose file is missing.
enum class Run { kJob, kTwoJobs, kKilled, kCheck };
enum class Modem { kEmulator, kSilent, kMissing };

struct JournalCase {
  const char* name;
  Run run;
  Modem modem;
  bool win_ini;
  bool journal_writable;
  bool file_present;
  int status;
  // The check's lines, or the journal; for a journal that cannot be written, the
  // warning's words under Wine, and linux_output those of the Linux program.
  std::vector<std::string> output_in_order;
  std::vector<std::string> linux_output;  // the same, said only by the Linux program
  std::vector<std::string> summary;       // in --journal's last line (Linux)
  std::vector<std::string> err;           // on standard error (Linux)
  bool under_wine;
  const char* type_action = "L";
  bool journal_off = false;  // "Journal=" present and empty
};

void PrintTo(const JournalCase& c, std::ostream* os) { *os << c.name; }

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Every block runs from its start to its end with no other block's line between.
void ExpectWholeBlocks(const std::string& journal, std::size_t jobs) {
  std::string open;  // the process of the block under way
  std::size_t ended = 0;
  for (const std::string& line : Lines(journal)) {
    if (line.rfind("=== ", 0) != 0) {
      EXPECT_FALSE(open.empty()) << "a line outside any block: " << line;
      continue;
    }
    const std::size_t named = line.rfind("(processus");
    const std::string process = named == std::string::npos ? open : line.substr(named);
    if (line.find(" d\xC3\251but du travail") != std::string::npos) {
      EXPECT_TRUE(open.empty()) << "a block starts inside another:\n" << journal;
      open = process;
    } else {
      EXPECT_EQ(process, open) << journal;
      open.clear();
      ++ended;
    }
  }
  EXPECT_EQ(ended, jobs) << journal;
}

std::string WindowsPath(const std::string& path) {
  std::string windows = "Z:" + path;  // Wine shows the Linux root as drive Z:
  for (char& c : windows) c = c == '/' ? '\\' : c;
  return windows;
}

class JournalE2e : public ::testing::TestWithParam<JournalCase> {
 protected:
  std::string JournalFile() const {
    return GetParam().journal_writable ? dir / "state/journal.log" : dir / "a-file/journal.log";
  }

  // A modem for each job, win.ini, the file to send and the job file.
  void Prepare(std::size_t jobs) {
    const JournalCase& c = GetParam();
    WriteFile(dir / "a-file", "not a folder");
    std::string ini = "[KORVAL]\r\nNUMTRANSPAC=3613\r\nJournal=" +
                      (c.journal_off     ? std::string()
                       : wine::Enabled() ? WindowsPath(JournalFile())
                                         : JournalFile()) +
                      "\r\n";
    for (std::size_t i = 0; i < jobs; ++i) {
      std::string port = dir / "no-such-modem";
      if (c.modem == Modem::kEmulator) {
        std::vector<std::string> options = FastPeer();
        options.insert(options.end(), {"--bank-number", "175010123"});
        if (c.type_action[0] == 'R') {
          WriteFile(dir / "bank.txt", "LIGNE 1 DU RELEVE\rLIGNE 2\rLIGNE 3\r");
          options.insert(options.end(), {"--statement", dir / "bank.txt"});
        }
        emulators.push_back(std::make_unique<Emulator>(i == 0 ? dir : second, options));
        port = emulators.back()->pty();
      } else if (c.modem == Modem::kSilent) {
        port = silent.path();
      }
      ini += "[MODEM" + std::to_string(i) + "]\r\nPort=" + port + "\r\n";
    }
    WriteFile(dir / "win.ini", ini);
    if (c.file_present) WriteFile(dir / "lcr.txt", std::string(20 * 160, 'A'));
    const std::string file = wine::Enabled() ? WindowsPath(dir / "lcr.txt") : dir / "lcr.txt";
    WriteFile(dir / "job.ini",
              "[KORVAL]\r\nNumeroAbonne=175010123\r\nTypeAction=" + std::string(c.type_action) +
                  "\r\nCarteParametre=CARTE SECRETE\r\nFichierAssocie=" + file + "\r\n");
  }

  std::vector<std::string> Env() const {
    const std::string ini = GetParam().win_ini ? dir / "win.ini" : dir / "absent.ini";
    return {"KORVAL_WININI=" + ini};
  }

  ProgramRun Check() {
    if (!wine::Enabled()) {
      return RunProgramWith(dir, {{"--check", "/B:" + dir / "job.ini"}, Env(), {}, "", 0},
                            kTimeoutS);
    }
    EXPECT_TRUE(wine::InstallWinIni(dir / "win.ini"));
    wine::BeginRun();
    std::vector<std::string> args = wine::ProgramArgs(dir / "job.ini");
    args.resize(3);  // the loader, the program, then the job's marker
    args.insert(args.begin() + 2, "/CHECK");
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    Child child;
    EXPECT_TRUE(child.Start(args, env, false, dir / "korvalcom.out", dir / "korvalcom.err"));
    ProgramRun run;
    run.status = child.Wait(kTimeoutS * 1000);
    run.out = wine::LogAsOnLinux(ReadFile(dir / "korvalcom.out"));
    return run;
  }

  TempDir dir;
  TempDir second;  // the other job's output, when two run at once
  Terminal silent;
  std::vector<std::unique_ptr<Emulator>> emulators;
};

TEST_P(JournalE2e, KeepsTheJobsAndChecksWithoutACall) {
  const JournalCase& c = GetParam();
  if (wine::Enabled() && !c.under_wine) GTEST_SKIP() << "a case of the Linux program's";
  const std::size_t jobs = c.run == Run::kJob ? 1 : 2;
  Prepare(jobs);
  if (HasFatalFailure()) return;

  if (c.run == Run::kCheck) {
    const ProgramRun run = Check();
    EXPECT_EQ(run.status, std::optional<int>(c.status)) << run.out << run.err;
    ExpectInOrder(run.out, c.output_in_order);
    if (!wine::Enabled()) ExpectInOrder(run.out, c.linux_output);
    ExpectInOrder(run.err, c.err);
    return;
  }
  std::vector<ProgramRun> runs;
  if (c.run == Run::kKilled) {
    Child killed;
    ASSERT_TRUE(StartProgram(killed, second, dir / "win.ini", dir / "job.ini"));
    for (int waited_ms = 0; waited_ms < kTimeoutS * 1000 && !killed.Ended(); waited_ms += 20) {
      if (ReadFile(second / "korvalcom.out").find("Envoi du contenu") != std::string::npos) break;
      ::poll(nullptr, 0, 20);
    }
    ASSERT_TRUE(killed.Signal(SIGKILL));
    killed.Wait(kTimeoutS * 1000);
    ::unlink((dir / "lcr.txt").c_str());
    runs.push_back(RunProgram(dir, dir / "win.ini", dir / "job.ini", kTimeoutS));
  } else if (jobs == 2) {
    Child a, b;
    ASSERT_TRUE(StartProgram(a, dir, dir / "win.ini", dir / "job.ini"));
    ASSERT_TRUE(StartProgram(b, second, dir / "win.ini", dir / "job.ini"));
    runs.push_back(FinishProgram(a, dir, kTimeoutS));
    runs.push_back(FinishProgram(b, second, kTimeoutS));
  } else {
    runs.push_back(RunProgram(dir, dir / "win.ini", dir / "job.ini", kTimeoutS));
  }
  for (const ProgramRun& run : runs) {
    EXPECT_EQ(run.status, std::optional<int>(c.status)) << run.out << run.err;
    ExpectInOrder(run.err, c.err);
    if (!c.journal_writable) {  // said once: in the window's log on Windows
      const std::string& said = wine::Enabled() ? run.out : run.err;
      EXPECT_EQ(Count(said, "journal non \xC3\251crit"), 1u) << said;
      ExpectInOrder(said, wine::Enabled() ? c.output_in_order : c.linux_output);
    }
  }
  if (!c.journal_writable) return;
  const std::string journal = ReadFile(JournalFile());
  ExpectInOrder(journal, c.output_in_order);
  ExpectWholeBlocks(journal, jobs);
  EXPECT_EQ(Count(journal, "SECRETE"), 0u) << "the card is kept out of the journal";
  EXPECT_EQ(Count(journal, "LIGNE"), 0u) << "the statement is never copied";
  if (wine::Enabled()) return;
  const ProgramRun summary = RunProgramWith(dir, {{"--journal", "1"}, Env(), {}, "", 0}, 30);
  EXPECT_EQ(summary.status, std::optional<int>(0)) << summary.err;
  EXPECT_EQ(Lines(summary.out).size(), 1u) << summary.out;
  ExpectInOrder(summary.out, c.summary);
}

const std::string kSentLine = " | Envoi du fichier termin\xC3\xA9 normalement !";
const std::string kOk = "OK        ";
const std::string kProblem = "PROBL\xC3\x88ME  ";

INSTANTIATE_TEST_SUITE_P(
    Cases, JournalE2e,
    ::testing::Values(
        JournalCase{
            "GoodJob",
            Run::kJob,
            Modem::kEmulator,
            true,
            true,
            true,
            0,
            {" d\xC3\251but du travail", "Action : L (fichier L.C.R)", "Abonn\xC3\xA9 : 175010123",
             "lcr.txt", kSentLine, "Taille : 3200 octets, 20 enregistrements de 160 octets",
             "R\xC3\xA9sultat : Retour=1 Detail1=0000 Detail2=0000, statut 0", " fin du travail"},
            {},
            {" | fichier L.C.R | 175010123 | ", "/lcr.txt | Retour=1"},
            {},
            true},
        // Its size (the end record included) and lines are kept, never its content.
        JournalCase{"GoodStatement",
                    Run::kJob,
                    Modem::kEmulator,
                    true,
                    true,
                    false,
                    0,
                    {"Action : R (relev\xC3\xA9)", "Taille : 54 octets, 3 lignes", "Retour=1"},
                    {},
                    {" | relev\xC3\xA9 | "},
                    {},
                    true,
                    "R"},
        JournalCase{"FailedJob",
                    Run::kJob,
                    Modem::kSilent,
                    true,
                    true,
                    false,
                    1,
                    {"Impossible d'ouvrir le fichier",
                     "Retour=0 Detail1=9999 Detail2=9999, "
                     "statut 1",
                     "Cause : ", "lcr.txt : fichier introuvable"},
                    {},
                    {"Retour=0", "statut 1 | ", "fichier introuvable"},
                    {},
                    true},
        JournalCase{"TwoAtOnce",
                    Run::kTwoJobs,
                    Modem::kEmulator,
                    true,
                    true,
                    true,
                    0,
                    {kSentLine, "statut 0", kSentLine, "statut 0"},
                    {},
                    {"Retour=1"},
                    {},
                    false},
        // The killed job's start moves in at the next job, closed as interrupted.
        JournalCase{"KilledJob",
                    Run::kKilled,
                    Modem::kEmulator,
                    true,
                    true,
                    true,
                    1,
                    {"Envoi du contenu du fichier !", "=== interrompu : le processus",
                     " d\xC3\251but du travail", "lcr.txt : fichier introuvable"},
                    {},
                    {"statut 1"},
                    {},
                    false},
        JournalCase{"UnwritableJournal",
                    Run::kJob,
                    Modem::kEmulator,
                    true,
                    false,
                    true,
                    0,
                    {"journal.log (dossier introuvable) ; l'\xC3\251change se fait sans"},
                    {"journal.log (un \xC3\xA9l\xC3\xA9ment du chemin n'est pas un dossier) ;"},
                    {},
                    {},
                    true},
        JournalCase{"CheckGoodSetUp",
                    Run::kCheck,
                    Modem::kEmulator,
                    true,
                    true,
                    true,
                    0,
                    {kOk + "win.ini : ", kOk + "NUMTRANSPAC : 3613", kOk + "journal : ",
                     kOk + "TypeAction : L", kOk + "CarteParametre : 13 caract\xC3\xA8res",
                     "3200 octets, 20 enregistrements de 160 octets", kOk + "pr\xC3\xAAt"},
                    {kOk + "MODEM0 (", "r\xC3\xA9pond OK \xC3\xA0 AT ; ATI : KORVAL NETEMU"},
                    {},
                    {},
                    true},
        // An empty Journal= turns it off: worth a note, no reason to stop.
        JournalCase{
            "CheckJournalOff",
            Run::kCheck,
            Modem::kEmulator,
            true,
            true,
            true,
            0,
            {kOk + "NUMTRANSPAC", "ATTENTION journal d\xC3\xA9sactiv\xC3\xA9", kOk + "pr\xC3\xAAt"},
            {},
            {},
            {},
            true,
            "L",
            true},
        JournalCase{
            "CheckNoWinIni",
            Run::kCheck,
            Modem::kEmulator,
            false,
            true,
            true,
            3,
            {kProblem + "win.ini introuvable (cherch\xC3\xA9 : ", "/absent.ini)", "Statut 3"},
            {},
            {},
            {},
            false},
        JournalCase{"CheckMissingModem",
                    Run::kCheck,
                    Modem::kMissing,
                    true,
                    true,
                    true,
                    3,
                    {kProblem, "Statut 3"},
                    {kProblem + "MODEM0 (", "le port n'existe pas"},
                    {},
                    {},
                    true},
        JournalCase{
            "CheckModemSilent",
            Run::kCheck,
            Modem::kSilent,
            true,
            true,
            true,
            1,
            {kProblem + "MODEM0 (", "ne r\xC3\xA9pond pas OK \xC3\xA0 AT en 1 s", "Statut 1"},
            {},
            {},
            {},
            false},
        JournalCase{"CheckFileMissing",
                    Run::kCheck,
                    Modem::kEmulator,
                    true,
                    true,
                    false,
                    1,
                    {kProblem + "fichier \xC3\xA0 envoyer ", "fichier introuvable", "Statut 1"},
                    {},
                    {},
                    {},
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korval::e2e
