#include "job/run_job.h"

#include <gtest/gtest.h>

#include <functional>

#include "harness/exchange_harness.h"

namespace korval::job {
namespace {

using testing::JobHarness;
using testing::KorvalSection;

struct ActionCase {
  const char* type_action;    // nullptr: no key
  const char* progress_line;  // nullptr: the job ends without an exchange
};

class JobActionTest : public ::testing::TestWithParam<ActionCase> {};

TEST_P(JobActionTest, FirstCharacterChoosesTheExchange) {
  const ActionCase& c = GetParam();
  JobHarness h;
  std::vector<std::string> lines = {"NumeroAbonne=175000123", "Retour=1", "Detail1=AAAA",
                                    "Detail2=BBBB"};
  if (c.type_action) lines.push_back(std::string("TypeAction=") + c.type_action);
  h.JobFile(KorvalSection(lines));

  const int status = h.Run();

  const std::vector<std::string> log = h.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "Syst\xE8me = Windows NT: (2)");
  if (c.progress_line) {
    EXPECT_EQ(log[1], c.progress_line);
  } else {
    EXPECT_EQ(log, (std::vector<std::string>{"Syst\xE8me = Windows NT: (2)", ""}));
  }
  if (c.progress_line) {
    EXPECT_EQ(status, app::kExitFailed);
    EXPECT_EQ(h.JobKey("Retour"), "0");
    EXPECT_EQ(h.JobKey("Detail1"), "9999");
    EXPECT_EQ(h.JobKey("Detail2"), "9999");
  } else {
    EXPECT_EQ(status, app::kExitNoExchange);
    EXPECT_FALSE(h.HasJobKey("Retour"));
    EXPECT_EQ(h.JobKey("Detail1"), "AAAA");
    EXPECT_EQ(h.JobKey("Detail2"), "BBBB");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, JobActionTest,
                         ::testing::Values(ActionCase{"R", "Demande de relev\xE9 !"},
                                           ActionCase{"releve", "Demande de relev\xE9 !"},
                                           ActionCase{"L", "Envoi fichier L.C.R !"},
                                           ActionCase{"lcr", "Envoi fichier L.C.R !"},
                                           ActionCase{"V", "Envoi fichier Virement !"},
                                           ActionCase{"v", "Envoi fichier Virement !"},
                                           ActionCase{"D", "Envoi de la DADS R\xE9seau !"},
                                           ActionCase{"dads", "Envoi de la DADS R\xE9seau !"},
                                           ActionCase{"X", nullptr}, ActionCase{"", nullptr},
                                           ActionCase{" ", nullptr}, ActionCase{nullptr, nullptr}));

TEST(RunJobTest, CardIsBroughtToEightyCharacters) {
  EXPECT_EQ(NormaliseCard("ABCDEFGHIJKL"), "ABCDEFGHIJKL" + std::string(68, ' '));
  EXPECT_EQ(NormaliseCard(std::string(85, 'x')), std::string(80, 'x'));
  EXPECT_EQ(NormaliseCard(""), std::string(80, ' '));
}

TEST(RunJobTest, Profile7FromTheSubscriberSection) {
  struct Case {
    const char* win_ini_line;
    bool on;
  };
  for (const Case& c :
       {Case{"PROFIL7=oui", true}, Case{"PROFIL7=O", true}, Case{"PROFIL7=N", false},
        Case{"PROFIL7=1", false}, Case{"AUTRE=O", false}}) {
    JobHarness h;
    h.WinIni(std::string("[175000123]\r\n") + c.win_ini_line + "\r\n");
    h.JobFile(KorvalSection({"NumeroAbonne=175000123", "TypeAction=L"}));
    h.Run();
    EXPECT_EQ(h.process.job.use_profile7, c.on) << c.win_ini_line;
    const auto log = h.Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1] == "Utilisation du profil 7", c.on) << c.win_ini_line;
  }
}

// A limit that is not a positive number of seconds is said once, with its default.
TEST(RunJobTest, LimitsThatAreNoPositiveNumberAreSaid) {
  struct Case {
    const char* win_ini_line;
    std::vector<std::string> warnings;
  };
  const std::string tail = " \xBB n'est pas un nombre de secondes positif, ";
  for (const Case& c :
       {Case{"DelaiReponse=deux", {"KORVAL : DelaiReponse \xAB deux" + tail + "120 s retenus."}},
        Case{"DelaiReception=0", {"KORVAL : DelaiReception \xAB 0" + tail + "300 s retenus."}},
        Case{"DureeMaxReception=-5",
             {"KORVAL : DureeMaxReception \xAB -5" + tail + "14400 s retenus."}}}) {
    JobHarness h;
    h.WinIni(std::string("[KORVAL]\r\n") + c.win_ini_line + "\r\n");
    h.JobFile(KorvalSection({"TypeAction=L"}));
    h.Run();
    EXPECT_EQ(h.sim.diagnostics.Warnings(), c.warnings) << c.win_ini_line;
  }
}

TEST(RunJobTest, PlatformLineFollowsTheVersionQuery) {
  struct Case {
    std::optional<std::uint32_t> platform_id;
    const char* line;
    bool nt;
    std::optional<std::string> system = std::nullopt;
  };
  for (const Case& c : {Case{2, "Syst\xE8me = Linux 6.1.0: (2)", true, "Linux 6.1.0"},
                        Case{2, "Syst\xE8me = Windows NT: (2)", true},
                        Case{1, "Syst\xE8me = Windows 95/98: (1)", false},
                        Case{std::nullopt, "Syst\xE8me = Windows 95/98: (0)", false}}) {
    JobHarness h;
    h.sim.version.platform_id = c.platform_id;
    h.sim.version.system_name = c.system;
    h.JobFile(KorvalSection({"TypeAction=Z"}));
    h.Run();
    EXPECT_EQ(h.Log(), (std::vector<std::string>{c.line, ""}));
    EXPECT_EQ(h.process.job.is_windows_nt, c.nt);
  }
}

TEST(RunJobTest, ResultWritesKeepEverythingElseOfTheJobFile) {
  JobHarness h;
  const std::string before =
      "; written by the accounting program\r\n"
      "[AVANT]\r\nRetour=keep\r\n"
      "[KORVAL]\r\nNumeroAbonne=175000123\r\nRetour=1\r\n; note\r\nTypeAction=V\r\n"
      "Detail1=old\r\nnot a key line\r\n"
      "[APRES]\r\nDetail2=keep\r\n";
  h.JobFile(before);
  h.Run();
  EXPECT_EQ(h.JobText(),
            "; written by the accounting program\r\n"
            "[AVANT]\r\nRetour=keep\r\n"
            "[KORVAL]\r\nNumeroAbonne=175000123\r\n; note\r\nTypeAction=V\r\n"
            "Detail1=9999\r\nRetour=0\r\nDetail2=9999\r\nnot a key line\r\n"
            "[APRES]\r\nDetail2=keep\r\n");
}

// The job file's own faults are said as such; one that would not take the outcome
// stops the job before dialling, or is left whole after it.
TEST(RunJobTest, JobFileFaults) {
  using testing::ExchangeHarness;
  struct Case {
    const char* name;
    std::function<void(ExchangeHarness&)> fault;
    int status;
    const char* warning;  // a part of the one warning
    bool dialled;
    const char* job_after;  // nullptr: as written
  };
  const std::string job = KorvalSection({"NumeroAbonne=" + std::string(testing::kSubscriber),
                                         "TypeAction=L", "Retour=1", "Detail1=OLD1",
                                         "FichierAssocie=" + std::string(testing::kDataFile)});
  const std::string job_without_retour =
      KorvalSection({"NumeroAbonne=" + std::string(testing::kSubscriber), "TypeAction=L",
                     "Detail1=OLD1", "FichierAssocie=" + std::string(testing::kDataFile)});
  const std::vector<Case> cases = {
      {"missing", [](ExchangeHarness& h) { h.sim.files.Delete(testing::kJobPath); },
       app::kExitNoExchange, "J1.INI\" ne peut pas \xEAtre lu (fichier introuvable)", false,
       "<missing>"},
      {"a folder",
       [](ExchangeHarness& h) {
         h.sim.files.Delete(testing::kJobPath);
         h.sim.files.AddFolder(testing::kJobPath);
       },
       app::kExitNoExchange, " ne peut pas \xEAtre lu (c'est un dossier, pas un fichier)", false,
       "<missing>"},
      {"access refused", [](ExchangeHarness& h) { h.sim.files.FailOpen(testing::kJobPath); },
       app::kExitNoExchange, " ne peut pas \xEAtre lu (acc\xE8s refus\xE9)", false, nullptr},
      {"Retour cannot be removed",
       [](ExchangeHarness& h) {
         h.sim.files.FailWrites(testing::kJobPath);
         h.sim.files.SayProblemsAs("disque prot\xE9g\xE9 en \351criture");
       },
       app::kExitOutcomeUnwritten, "n'y serait pas \351crit (disque prot\xE9g\xE9 en \351criture)",
       false, nullptr},
      {"outcome cannot be written",
       [](ExchangeHarness& h) {
         h.sim.world.At(4'000, [&h] { h.sim.files.FailWrites(testing::kJobPath); });
       },
       app::kExitOutcomeUnwritten, "(Retour=1) : il est laiss\xE9 tel quel", true,
       job_without_retour.c_str()},
      {"outcome cannot be written, with the system's reason",
       [](ExchangeHarness& h) {
         h.sim.files.SayProblemsAs("disque plein");
         h.sim.world.At(4'000, [&h] { h.sim.files.FailWrites(testing::kJobPath); });
       },
       app::kExitOutcomeUnwritten, "(Retour=1) : il est laiss\xE9 tel quel (disque plein)", true,
       job_without_retour.c_str()},
  };
  for (const Case& c : cases) {
    ExchangeHarness h;
    h.sim.files.Put(testing::kDataFile, testing::RecordsOf(3, 160));
    h.JobFile(job);
    h.Connect();
    c.fault(h);
    EXPECT_EQ(h.Run(), c.status) << c.name;
    EXPECT_EQ(h.JobText(), c.job_after ? std::string(c.job_after) : job) << c.name;
    const auto warnings = h.sim.diagnostics.Warnings();
    ASSERT_EQ(warnings.size(), 1u) << c.name;
    EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << c.name << ": " << warnings[0];
    EXPECT_EQ(warnings[0].find("TypeAction"), std::string::npos) << c.name;
    EXPECT_EQ(h.CallsOf("lineMakeCall") > 0, c.dialled) << c.name;
  }
}

TEST(RunJobTest, MissingJobFileEndsWithoutExchangeAndCreatesNothing) {
  JobHarness h;
  EXPECT_EQ(h.Run(), app::kExitNoExchange);
  EXPECT_FALSE(h.sim.files.Exists(testing::kJobPath));
}

TEST(RunJobTest, JobPathEndingInBlanksNamesTheSameFile) {
  JobHarness h;
  h.JobFile(KorvalSection({"TypeAction=L"}));
  EXPECT_EQ(h.Run(std::string("/B:") + testing::kJobPath + " /N:Compta"), app::kExitFailed);
  EXPECT_EQ(h.JobKey("Retour"), "0");
}

TEST(RunJobTest, OverlongValuesAreRefusedNotCut) {
  struct Case {
    const char* win_ini;
    std::string job_line;
    const char* refusal;
  };
  const std::vector<Case> cases = {
      {"[KORVAL]\r\nNUMTRANSPAC=083606454512\r\n", "NumeroAbonne=1",
       "Num\xE9ro TRANSPAC (NUMTRANSPAC) trop long dans win.ini (plus de 11 caract\xE8res) !"},
      {"", "NumeroAbonne=" + std::string(32, '1'),
       "Num\xE9ro d'abonn\xE9 trop long (plus de 31 caract\xE8res) !"},
      {"", "FichierAssocie=C:\\" + std::string(77, 'F'),
       "Chemin du fichier trop long (plus de 79 caract\xE8res) !"},
      {"", "CarteParametre=RELEV\xC9 COMPTE",
       "Carte param\xE8tre refus\351e (colonne 6) : un caract\xE8re n'existe pas en EBCDIC !"},
  };
  for (const Case& c : cases) {
    JobHarness h;
    h.WinIni(c.win_ini);
    h.JobFile(KorvalSection({"TypeAction=R", c.job_line}));
    EXPECT_EQ(h.Run(), app::kExitFailed);
    const auto log = h.Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2], c.refusal);
    EXPECT_EQ(h.JobKey("Retour"), "0");
  }
}

TEST(RunJobTest, LongestAcceptedValuesPass) {
  JobHarness h;
  h.WinIni("[KORVAL]\r\nNUMTRANSPAC=08360645451\r\n");
  h.JobFile(KorvalSection({"TypeAction=L", "NumeroAbonne=" + std::string(31, '1'),
                           "FichierAssocie=C:\\" + std::string(76, 'F')}));
  h.Run();
  const auto log = h.Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[1], "Envoi fichier L.C.R !");
  EXPECT_EQ(log[2], "Impossible d'ouvrir le fichier");  // got past the length checks
}

}  // namespace
}  // namespace korval::job
