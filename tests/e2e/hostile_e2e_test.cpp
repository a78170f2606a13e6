// What a careless caller does to a statement's reception: a standard output that is
// closed or full, a file-size limit. None may kill, stall or fake a success.
#include <gtest/gtest.h>

#include <poll.h>

#include <string>
#include <vector>

#include "e2e_rig.h"
#include "wine_program.h"

extern char** environ;

namespace korval::e2e {
namespace {

constexpr const char* kBank = "175010123";
constexpr int kProgramTimeoutS = 120;

// A bank that sends a statement of 300 lines; win.ini and a job that asks for it.
struct StatementRig {
  TempDir dir;
  std::string statement;
  Emulator emu;
  StatementRig() : statement(Lines()), emu(dir, Bank(dir, statement)) {
    WriteFile(dir / "win.ini",
              "[KORVAL]\r\nNUMTRANSPAC=3613\r\n[MODEM0]\r\nPort=" + emu.pty() + "\r\n");
    WriteFile(dir / "releve.txt", "PREVIOUS\r");
    WriteFile(dir / "job.ini", "[KORVAL]\r\nNumeroAbonne=" + std::string(kBank) +
                                   "\r\nTypeAction=R\r\nCarteParametre=CARTE\r\nFichierAssocie=" +
                                   dir / "releve.txt" + "\r\n");
  }
  static std::string Lines() {
    std::string text;
    for (int i = 0; i < 300; ++i)
      text += "0130004 EUR 12/11/26 VIREMENT " + std::to_string(i) + "\r";
    return text;
  }
  static std::vector<std::string> Bank(const TempDir& dir, const std::string& statement) {
    WriteFile(dir / "bank.txt", statement);
    std::vector<std::string> options = FastPeer();
    options.insert(options.end(), {"--bank-number", kBank, "--statement", dir / "bank.txt"});
    return options;
  }
  std::vector<std::string> Retour() const {
    return KorvalValues(ReadFile(dir / "job.ini"), "Retour");
  }
};

// A bash pipeline; $0 is korvalcom, $1 its argument; it writes korvalcom's status to
// the file "status".
class CallerPipeE2e : public ::testing::TestWithParam<const char*> {};

TEST_P(CallerPipeE2e, StatementIsReceivedWhateverStandardOutputDoes) {
  if (wine::Enabled()) GTEST_SKIP() << "the pipes are the Linux command line's";
  StatementRig rig;
  ASSERT_FALSE(rig.emu.pty().empty());
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.push_back("KORVAL_WININI=" + rig.dir / "win.ini");
  Child shell;
  ASSERT_TRUE(shell.Start({"/bin/bash", "-c", "cd '" + rig.dir.path() + "' && " + GetParam(),
                           KORVAL_PROGRAM_EXE, "/B:" + rig.dir / "job.ini"},
                          env, false, rig.dir / "shell.out", rig.dir / "korvalcom.err"));
  // The pipeline's reader may outlive korvalcom: its status file says it has ended.
  for (int ms = 0; ms < kProgramTimeoutS * 1000 && ReadFile(rig.dir / "status").empty(); ms += 50) {
    ::poll(nullptr, 0, 50);
  }
  EXPECT_EQ(ReadFile(rig.dir / "status"), "0\n") << ReadFile(rig.dir / "korvalcom.err");
  EXPECT_EQ(rig.Retour(), std::vector<std::string>{"1"});
  EXPECT_EQ(ReadFile(rig.dir / "releve.txt").substr(0, rig.statement.size()), rig.statement);
}

INSTANTIATE_TEST_SUITE_P(
    Pipes, CallerPipeE2e,
    ::testing::Values("{ \"$0\" \"$1\"; echo $? > status; } | head -n 2 > /dev/null",
                      // 64 KiB fill the pipe before korvalcom writes; its reader never reads.
                      "{ head -c 65536 /dev/zero; \"$0\" \"$1\"; echo $? > status; } | sleep 60"));

// A file-size limit is a failed write like a full disk, said with its reason: the
// statement is not acknowledged and the previous one stays.
TEST(FileSizeLimitE2e, IsAWriteFailureSaidInFrench) {
  if (wine::Enabled()) GTEST_SKIP() << "RLIMIT_FSIZE is the Linux program's";
  StatementRig rig;
  ASSERT_FALSE(rig.emu.pty().empty());
  ProgramStart start = {
      {"/B:" + rig.dir / "job.ini"}, {"KORVAL_WININI=" + rig.dir / "win.ini"}, {}, "", 4096};
  const ProgramRun run = RunProgramWith(rig.dir, start, kProgramTimeoutS);
  EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
  EXPECT_NE(run.out.find("erreur d'\xC3\251criture dans le fichier du relev\xC3\xA9 (fichier "
                         "trop gros) !"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(rig.Retour(), std::vector<std::string>{"0"});
  EXPECT_EQ(ReadFile(rig.dir / "releve.txt"), "PREVIOUS\r");
}

}  // namespace
}  // namespace korval::e2e
