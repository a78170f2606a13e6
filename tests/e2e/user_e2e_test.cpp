// What a user or a calling application meets when things are not as they should
// be: a wrong command line, missing files, a job file that cannot be written, a stop.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "e2e_rig.h"
#include "wine_program.h"

namespace korval::e2e {
namespace {

constexpr const char* kBank = "175010123";
constexpr const char* kAccess = "3613";
// Generous: sanitizer builds are many times slower than the native one.
constexpr int kProgramTimeoutS = 120;

// The texts are UTF-8 on Linux.
const std::string kUsage = "Usage : korvalcom /B:<fichier de travail>";
const std::string kNoTapi = "[korvalcom] Initialisation de TAPI impossible !";
const std::string kStopped = "\xC3\211change interrompu \xC3\xA0 la demande de l'utilisateur !";
const std::string kCannotOpen = "Impossible d'ouvrir le fichier\n";
const std::string kTargetRefused = "Fichier du relev\xC3\xA9 refus\xC3\xA9 : ";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A pseudo-terminal that only stands for a modem port: the telephony starts on it,
// nothing is ever dialled. Its master end is held open for the run.
class Pty {
 public:
  Pty() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      if (const char* name = ::ptsname(master_)) path_ = name;
    }
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  const std::string& path() const { return path_; }

 private:
  int master_;
  std::string path_;
};

std::string WinIni(const std::string& port) {
  return "[KORVAL]\r\nNUMTRANSPAC=" + std::string(kAccess) + "\r\n[MODEM0]\r\nPort=" + port +
         "\r\n";
}

std::string Job(const std::string& type_action, const std::string& file,
                const std::string& padding = "") {
  return "[KORVAL]\r\nNumeroAbonne=" + std::string(kBank) + "\r\nRetour=1\r\n" +
         "TypeAction=" + type_action + "\r\nCarteParametre=CARTE\r\nFichierAssocie=" + file +
         "\r\nDetail1=OLD1\r\nDetail2=OLD2\r\n" + padding;
}

// ---------------------------------------------------------------- runs that stop early

struct EarlyCase {
  const char* name;
  // Writes what the run needs (job.ini, win.ini under dir) and says how to start it.
  std::function<ProgramStart(const TempDir& dir, const std::string& pty)> setup;
  int status;
  std::vector<std::string> err_in_order;  // each found after the one before
  std::vector<std::string> out_in_order;
  bool job_untouched;  // job.ini byte for byte as written
};

void PrintTo(const EarlyCase& c, std::ostream* os) { *os << c.name; }

class EarlyEndE2e : public ::testing::TestWithParam<EarlyCase> {
 protected:
  TempDir dir;
  Pty pty;
};

ProgramStart WithJob(const TempDir& dir, const std::string& pty, const std::string& job) {
  WriteFile(dir / "win.ini", WinIni(pty));
  WriteFile(dir / "job.ini", job);
  return {{"/B:" + dir / "job.ini"}, {"KORVAL_WININI=" + dir / "win.ini"}, {}, "", 0};
}

TEST_P(EarlyEndE2e, EndsWithItsStatusAndSaysWhy) {
  if (wine::Enabled()) GTEST_SKIP() << "these starts are the Linux command line's";
  const EarlyCase& c = GetParam();
  ASSERT_FALSE(pty.path().empty());
  if (std::string(c.name) == "WinIniNowhere" && FileExists("/etc/korval/win.ini")) {
    GTEST_SKIP() << "this machine has a system win.ini";
  }
  const ProgramStart start = c.setup(dir, pty.path());
  const std::string job_before = c.job_untouched ? ReadFile(dir / "job.ini") : "";

  const ProgramRun run = RunProgramWith(dir, start, kProgramTimeoutS);

  EXPECT_EQ(run.status, std::optional<int>(c.status)) << run.out << run.err;
  ExpectInOrder(run.err, c.err_in_order);
  ExpectInOrder(run.out, c.out_in_order);
  EXPECT_FALSE(Contains(run.err, "TypeAction")) << run.err;
  if (c.job_untouched) {
    EXPECT_EQ(ReadFile(dir / "job.ini"), job_before);
  }
}

ProgramStart Arguments(const TempDir& dir, std::vector<std::string> args) {
  WriteFile(dir / "job.ini", Job("L", dir / "data.txt"));
  return {std::move(args), {}, {}, "", 0};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EarlyEndE2e,
    ::testing::Values(
        // No job: a usage text rather than a wait that only a kill ends.
        EarlyCase{"NoArguments",
                  [](const TempDir& d, const std::string&) { return Arguments(d, {}); },
                  2,
                  {kUsage},
                  {},
                  true},
        EarlyCase{"Help",
                  [](const TempDir& d, const std::string&) { return Arguments(d, {"--help"}); },
                  2,
                  {kUsage},
                  {},
                  true},
        EarlyCase{"NameAlone",
                  [](const TempDir& d, const std::string&) { return Arguments(d, {"/N:Compta"}); },
                  2,
                  {kUsage},
                  {},
                  true},
        EarlyCase{"LowerCaseMarkers",
                  [](const TempDir& d, const std::string&) {
                    return Arguments(d, {"/b:" + d / "job.ini", "/n:Compta"});
                  },
                  2,
                  {kUsage},
                  {},
                  true},
        EarlyCase{"EmptyJobPath",
                  [](const TempDir& d, const std::string&) {
                    return Arguments(d, {"/N:Compta", "/B:"});
                  },
                  2,
                  {kUsage},
                  {},
                  true},
        // Causes named beside the usual texts.
        EarlyCase{"WinIniNamedButMissing",
                  [](const TempDir& d, const std::string&) {
                    WriteFile(d / "job.ini", Job("L", d / "data.txt"));
                    return ProgramStart{
                        {"/B:" + d / "job.ini"}, {"KORVAL_WININI=" + d / "absent.ini"}, {}, "", 0};
                  },
                  3,
                  {"win.ini introuvable (cherch\xC3\xA9 : /tmp/", "/absent.ini)", kNoTapi},
                  {},
                  true},
        EarlyCase{"WinIniNowhere",
                  [](const TempDir& d, const std::string&) {
                    WriteFile(d / "job.ini", Job("L", d / "data.txt"));
                    return ProgramStart{{"/B:" + d / "job.ini"},
                                        {"XDG_CONFIG_HOME=" + d / "config"},
                                        {"KORVAL_WININI"},
                                        "",
                                        0};
                  },
                  3,
                  {"win.ini introuvable (cherch\xC3\xA9 : /tmp/",
                   "/config/korval/win.ini, /etc/korval/win.ini)", kNoTapi},
                  {},
                  true},
        EarlyCase{"JobFileMissing",
                  [](const TempDir& d, const std::string& pty) {
                    ProgramStart start = WithJob(d, pty, "");
                    ::unlink((d / "job.ini").c_str());
                    return start;
                  },
                  2,
                  {"ne peut pas \xC3\xAAtre lu (fichier introuvable)"},
                  {},
                  false},
        EarlyCase{"JobFileIsAFolder",
                  [](const TempDir& d, const std::string& pty) {
                    ProgramStart start = WithJob(d, pty, "");
                    ::unlink((d / "job.ini").c_str());
                    ::mkdir((d / "job.ini").c_str(), 0700);
                    return start;
                  },
                  2,
                  {"ne peut pas \xC3\xAAtre lu (c'est un dossier, pas un fichier)"},
                  {},
                  false},
        EarlyCase{"FileToSendMissing",
                  [](const TempDir& d, const std::string& pty) {
                    return WithJob(d, pty, Job("L", d / "absent.txt"));
                  },
                  1,
                  {},
                  {kCannotOpen + "/tmp/", "/absent.txt : fichier introuvable\n"},
                  false},
        EarlyCase{"FileToSendIsAFolder",
                  [](const TempDir& d, const std::string& pty) {
                    return WithJob(d, pty, Job("V", d.path()));
                  },
                  1,
                  {},
                  {kCannotOpen + "/tmp/", " : c'est un dossier, pas un fichier\n"},
                  false},
        EarlyCase{"ModemMissing",
                  [](const TempDir& d, const std::string&) {
                    return WithJob(d, d / "no-tty", Job("L", d / "data.txt"));
                  },
                  3,
                  {"est introuvable : le port n'existe pas.", "Aucun modem utilisable", kNoTapi},
                  {},
                  true},
        // A statement target that is no regular file is refused before dialling.
        EarlyCase{"StatementTargetIsADevice",
                  [](const TempDir& d, const std::string& pty) {
                    return WithJob(d, pty, Job("R", "/dev/null"));
                  },
                  1,
                  {},
                  {kTargetRefused + "/dev/null : ce n'est pas un fichier ordinaire !"},
                  false},
        EarlyCase{"StatementBackupIsAFolder",
                  [](const TempDir& d, const std::string& pty) {
                    ::mkdir((d / "rel.BAK").c_str(), 0700);
                    return WithJob(d, pty, Job("R", d / "rel.txt"));
                  },
                  1,
                  {},
                  {kTargetRefused + "/tmp/", "/rel.BAK : c'est un dossier, pas un fichier"},
                  false},
        // A job file that cannot lose its old Retour would not take the new one: no
        // exchange, and a status of its own. Root ignores permission bits, so a file
        // size limit below the job file's size makes its rewrite fail.
        EarlyCase{"RetourCannotBeRemoved",
                  [](const TempDir& d, const std::string& pty) {
                    ProgramStart start =
                        WithJob(d, pty, Job("L", d / "data.txt", std::string(3000, ';') + "\r\n"));
                    start.file_size_limit = 2048;
                    return start;
                  },
                  4,
                  {"impossible d'\xC3\251crire dans le fichier de travail"},
                  {},
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- a stop

struct StopCase {
  const char* name;
  std::vector<std::string> emulator;  // what the far end does
  const char* type_action;
  std::string stop_after;  // the progress line after which the signal is sent
  int signal = SIGTERM;    // SIGHUP: the terminal or the session closed
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopE2e : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopE2e, StopIsSaidAsAStopAndBlamesNoOne) {
  if (wine::Enabled()) {
    GTEST_SKIP() << "a stop reaches the Windows program as a window message, not a signal";
  }
  const StopCase& c = GetParam();
  TempDir dir;
  WriteFile(dir / "data.txt", std::string(160, 'A'));
  WriteFile(dir / "bank.txt", "0130004 EUR 12/11/26 VIREMENT RECU 1000,00\r");
  std::vector<std::string> options = {"--bank-number",        kBank, "--access-number", kAccess,
                                      "--statement-delay-ms", "0"};
  const std::vector<std::string> fast = FastPeer();
  options.insert(options.end(), fast.begin(), fast.end());
  for (const std::string& o : c.emulator) options.push_back(o == "BANK" ? dir / "bank.txt" : o);
  Emulator emu(dir, options);
  ASSERT_FALSE(emu.pty().empty());
  WriteFile(dir / "win.ini", WinIni(emu.pty()));
  WriteFile(dir / "job.ini", Job(c.type_action, dir / "data.txt"));
  ProgramStart start = {{"/B:" + dir / "job.ini"},
                        {"KORVAL_WININI=" + dir / "win.ini"},
                        {},
                        c.stop_after,
                        0,
                        c.signal};

  bool stop_sent = false;
  const ProgramRun run = RunProgramWith(dir, start, kProgramTimeoutS, &stop_sent);

  ASSERT_TRUE(stop_sent) << run.out << run.err;
  EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
  const std::size_t waited = run.out.find(c.stop_after);
  const std::size_t stopped = run.out.find(kStopped);
  ASSERT_NE(stopped, std::string::npos) << run.out;
  EXPECT_LT(waited, stopped) << run.out;
  EXPECT_EQ(run.out.find(kStopped, stopped + 1), std::string::npos) << "said twice\n" << run.out;
  // Nothing blames the bank or the network for it.
  EXPECT_FALSE(Contains(run.err, "[Communication]")) << run.err;
  EXPECT_FALSE(Contains(run.err, "[Erreur]")) << run.err;
  EXPECT_FALSE(Contains(run.out, "communication a \xC3\xA9t\xC3\xA9 coup\xC3\251e")) << run.out;
  EXPECT_EQ(KorvalValues(ReadFile(dir / "job.ini"), "Retour"), std::vector<std::string>{"0"});
  emu.Finish();
  // A call that came up was hung up (the stop may come while the modem still dials).
  const std::string report = emu.Report();
  if (ReportValue(report, "carrier") == "yes") {
    EXPECT_EQ(ReportValue(report, "call ended"), "yes") << report;
  }
}

INSTANTIATE_TEST_SUITE_P(Waits, StopE2e,
                         ::testing::Values(StopCase{"DuringTheCallOrTheBanner",
                                                    {"--silent-at", "banner"},
                                                    "L",
                                                    "Envoi fichier L.C.R !"},
                                           StopCase{"AwaitingTheCardsAnswer",
                                                    {"--silent-at", "card"},
                                                    "L",
                                                    "Envoi carte param\xC3\xA8tre !"},
                                           StopCase{"DuringAStatement",
                                                    {"--statement", "BANK", "--silent-at", "end"},
                                                    "R",
                                                    "R\xC3\251ception du relev\xC3\xA9 en cours !"},
                                           StopCase{"HangUpSignalDuringAStatement",
                                                    {"--statement", "BANK", "--silent-at", "end"},
                                                    "R",
                                                    "R\xC3\251ception du relev\xC3\xA9 en cours !",
                                                    SIGHUP},
                                           StopCase{"HangUpSignalAwaitingTheCardsAnswer",
                                                    {"--silent-at", "card"},
                                                    "L",
                                                    "Envoi carte param\xC3\xA8tre !",
                                                    SIGHUP}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korval::e2e
