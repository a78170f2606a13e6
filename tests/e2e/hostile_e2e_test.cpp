// A caller's standard output that is closed or full must neither kill nor stall a
// statement's reception.
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
constexpr const char* kAccess = "3613";
constexpr int kProgramTimeoutS = 120;

struct PipeCase {
  const char* name;
  // A bash pipeline; $0 is korvalcom, $1 the job file. It writes korvalcom's status
  // to the file "status" in the folder.
  const char* pipeline;
};

class CallerPipeE2e : public ::testing::TestWithParam<PipeCase> {};

TEST_P(CallerPipeE2e, StatementIsReceivedWhateverStandardOutputDoes) {
  if (wine::Enabled()) GTEST_SKIP() << "the pipes are the Linux command line's";
  const PipeCase& c = GetParam();
  TempDir dir;
  std::string statement;
  for (int i = 0; i < 200; ++i) statement += "0130004 EUR 12/11/26 VIREMENT " + std::to_string(i) + "\r";
  WriteFile(dir / "bank.txt", statement);
  std::vector<std::string> options = {"--bank-number", kBank, "--access-number", kAccess,
                                      "--statement", dir / "bank.txt", "--chunk-size", "64",
                                      "--chunk-pace-ms", "20"};
  for (const std::string& o : FastPeer()) options.push_back(o);
  Emulator emu(dir, options);
  ASSERT_FALSE(emu.pty().empty());
  WriteFile(dir / "win.ini", "[KORVAL]\r\nNUMTRANSPAC=" + std::string(kAccess) +
                                 "\r\n[MODEM0]\r\nPort=" + emu.pty() + "\r\nVitesse=9600\r\n");
  WriteFile(dir / "job.ini", "[KORVAL]\r\nNumeroAbonne=" + std::string(kBank) +
                                 "\r\nTypeAction=R\r\nCarteParametre=CARTE\r\nFichierAssocie=" +
                                 dir / "releve.txt" + "\r\n");
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.push_back("KORVAL_WININI=" + dir / "win.ini");
  const std::string script = std::string("cd '") + dir.path() + "' && " + c.pipeline;
  Child shell;
  ASSERT_TRUE(shell.Start({"/bin/bash", "-c", script, KORVAL_PROGRAM_EXE, "/B:" + dir / "job.ini"},
                          env, false, dir / "shell.out", dir / "korvalcom.err"));
  // The pipeline's reader may outlive korvalcom: its status file says it has ended.
  for (int waited_ms = 0; waited_ms < kProgramTimeoutS * 1000 && !FileExists(dir / "status");
       waited_ms += 50) {
    ::poll(nullptr, 0, 50);
  }
  ::poll(nullptr, 0, 100);
  EXPECT_EQ(ReadFile(dir / "status"), "0\n") << ReadFile(dir / "korvalcom.err");
  EXPECT_EQ(KorvalValues(ReadFile(dir / "job.ini"), "Retour"), std::vector<std::string>{"1"});
  EXPECT_EQ(ReadFile(dir / "releve.txt").substr(0, statement.size()), statement);
  emu.Finish();
}

INSTANTIATE_TEST_SUITE_P(
    Pipes, CallerPipeE2e,
    ::testing::Values(
        PipeCase{"ReaderGoneAfterTwoLines",
                 "{ \"$0\" \"$1\"; echo $? > status; } | head -n 2 > /dev/null"},
        // 64 KiB fill the pipe before korvalcom writes; its reader never reads.
        PipeCase{"ReaderThatNeverReads",
                 "{ head -c 65536 /dev/zero; \"$0\" \"$1\"; echo $? > status; } | sleep 60"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korval::e2e

namespace korval::e2e {
namespace {

// A file-size limit is a failed write like a full disk, said with its reason: the
// statement is not acknowledged and the previous one stays.
TEST(FileSizeLimitE2e, IsAWriteFailureSaidInFrench) {
  if (wine::Enabled()) GTEST_SKIP() << "RLIMIT_FSIZE is the Linux program's";
  TempDir dir;
  std::string statement;
  for (int i = 0; i < 300; ++i) statement += "0130004 EUR 12/11/26 VIREMENT " + std::to_string(i) + "\r";
  WriteFile(dir / "bank.txt", statement);
  std::vector<std::string> options = {"--bank-number", kBank, "--access-number", kAccess,
                                      "--statement", dir / "bank.txt"};
  for (const std::string& o : FastPeer()) options.push_back(o);
  Emulator emu(dir, options);
  ASSERT_FALSE(emu.pty().empty());
  WriteFile(dir / "win.ini", "[KORVAL]\r\nNUMTRANSPAC=" + std::string(kAccess) +
                                 "\r\n[MODEM0]\r\nPort=" + emu.pty() + "\r\n");
  WriteFile(dir / "releve.txt", "PREVIOUS\r");
  WriteFile(dir / "job.ini", "[KORVAL]\r\nNumeroAbonne=" + std::string(kBank) +
                                 "\r\nTypeAction=R\r\nCarteParametre=CARTE\r\nFichierAssocie=" +
                                 dir / "releve.txt" + "\r\n");
  ProgramStart start = {{"/B:" + dir / "job.ini"}, {"KORVAL_WININI=" + dir / "win.ini"}, {}, "",
                        4096};
  const ProgramRun run = RunProgramWith(dir, start, kProgramTimeoutS);
  EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
  EXPECT_NE(run.out.find("erreur d'\xC3\xA9" "criture dans le fichier du relev\xC3\xA9 (fichier "
                         "trop gros) !"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(KorvalValues(ReadFile(dir / "job.ini"), "Retour"), std::vector<std::string>{"0"});
  EXPECT_EQ(ReadFile(dir / "releve.txt"), "PREVIOUS\r");
  emu.Finish();
}

}  // namespace
}  // namespace korval::e2e
