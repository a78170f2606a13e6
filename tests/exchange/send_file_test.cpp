#include <gtest/gtest.h>

#include "harness/exchange_harness.h"
#include "link/ebcdic.h"

namespace korval::exchange {
namespace {

using testing::ExchangeHarness;
using testing::kDataFile;
using testing::RecordsOf;

// What the bank gets back when it decodes what ToEbcdic made of the text.
std::string AsTheBankReadsIt(std::string text) {
  link::ToEbcdic(text);
  for (char& c : text) c = static_cast<char>(link::FromEbcdicByte(static_cast<std::uint8_t>(c)));
  return text;
}

struct SendCase {
  const char* type_action;
  std::size_t record_length;
  std::size_t records;
  const char* progress_line;
  bool profile7;
  bool nt;
};

class SendFileJobTest : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendFileJobTest, WholeFileReachesTheBank) {
  const SendCase& c = GetParam();
  ExchangeHarness h;
  h.sim.version.platform_id = c.nt ? 2 : 1;
  if (c.profile7) h.WinIni("[175000123]\r\nPROFIL7=Oui\r\n");
  const std::string data = RecordsOf(c.records, c.record_length);
  h.sim.files.Put(kDataFile, data);
  h.Bank().code1 = "A001";
  h.Bank().code2 = "    ";

  EXPECT_EQ(h.RunJob(c.type_action), app::kExitSucceeded);

  EXPECT_EQ(h.JobKey("Retour"), "1");
  EXPECT_EQ(h.JobKey("Detail1"), "A001");
  EXPECT_EQ(h.JobKey("Detail2"), "9999");
  const netemu::Report& bank = h.BankSaw();
  EXPECT_TRUE(bank.violations.empty()) << bank.violations.front().what;
  EXPECT_EQ(bank.received_file, AsTheBankReadsIt(data));
  ASSERT_EQ(bank.records.size(), c.records);
  for (const auto& record : bank.records) {
    EXPECT_EQ(record.length, c.record_length);
    EXPECT_EQ(record.eor, c.profile7 ? netemu::EorKind::kBreak : netemu::EorKind::kCarriageReturn);
  }
  EXPECT_TRUE(bank.end_record_received);
  EXPECT_EQ(bank.profile7, c.profile7);
  EXPECT_EQ(bank.card, "CARTE " + std::string(c.type_action) + std::string(73, ' '));
  EXPECT_TRUE(h.Logged(c.progress_line));
  EXPECT_TRUE(h.Logged("Carte param\xE8tre valide !"));
  EXPECT_TRUE(h.Logged("Envoi du fichier termin\xE9 normalement !"));
  EXPECT_TRUE(h.sim.windows.MessageBoxes().empty());
  EXPECT_EQ(h.serial.DoubleCloses(), 0u);
  EXPECT_EQ(h.serial.SettleTimeouts(), 0u);

  // The status line counted every record out of the total, and went at the end.
  const auto& shown = h.sim.windows.ProgressShown();
  ASSERT_EQ(shown.size(), c.records + 1);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].direction, platform::TransferProgress::Direction::kSending);
    EXPECT_EQ(shown[i].records_done, i);
    EXPECT_EQ(shown[i].records_total, c.records);
    EXPECT_EQ(shown[i].bytes, i * c.record_length);
    if (i > 0) {
      EXPECT_GT(shown[i].elapsed_ms, shown[i - 1].elapsed_ms);
    }
  }
  EXPECT_FALSE(h.sim.windows.StatusLineOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SendFileJobTest,
    ::testing::Values(SendCase{"L", 160, 3, "Envoi fichier L.C.R !", false, true},
                      SendCase{"V", 160, 2, "Envoi fichier Virement !", false, false},
                      SendCase{"D", 560, 2, "Envoi de la DADS R\xE9seau !", false, true},
                      SendCase{"L", 160, 2, "Envoi fichier L.C.R !", true, true}));

TEST(SendFileCallCardAndRecordsTest, NuiAndComplementReachThePadOnOneLine) {
  ExchangeHarness h;
  h.WinIni("[175000123]\r\nNUI=ABC123\r\nCOMPLEMENT=XY9\r\n");
  h.sim.files.Put(kDataFile, RecordsOf(1, 160));
  EXPECT_EQ(h.RunJob("L"), app::kExitSucceeded);
  const auto& call = h.BankSaw().call;
  EXPECT_EQ(call.line, "NABC123-175000123DXY9");
  EXPECT_TRUE(h.Logged("Donn\351es compl\xE9mentaires :XY9"));
  EXPECT_TRUE(h.Logged("175000123DXY9"));
  EXPECT_TRUE(h.Logged("NUI : ABC123"));
}

TEST(SendFileCallCardAndRecordsTest, PlainSubscriberLineWithoutSettings) {
  ExchangeHarness h;
  h.WinIni("[175000123]\r\nCOMPLEMENT=\r\n");
  h.sim.files.Put(kDataFile, RecordsOf(1, 160));
  EXPECT_EQ(h.RunJob("L"), app::kExitSucceeded);
  EXPECT_EQ(h.BankSaw().call.line, "175000123");
  EXPECT_FALSE(h.BankSaw().call.has_complement);
}

constexpr const char* kSentNotAcknowledged =
    "Fichier envoy\xE9 mais non acquitt\xE9 par la banque : v\xE9rifiez aupr\xE8s d'elle avant "
    "de le renvoyer !";

struct FailCase {
  const char* name;
  std::function<void(ExchangeHarness&)> setup;
  std::vector<std::string> boxes;
  const char* log_line;  // nullptr: none to look for
  bool dialled;
};

class SendFileFailureTest : public ::testing::TestWithParam<FailCase> {};

TEST_P(SendFileFailureTest, FailsWithRetourZero) {
  const FailCase& c = GetParam();
  ExchangeHarness h;
  h.WinIni("[KORVAL]\r\nDelaiReponse=30\r\n");
  h.sim.files.Put(kDataFile, RecordsOf(3, 160));
  c.setup(h);
  EXPECT_EQ(h.RunJob("L", h.file_path), app::kExitFailed) << c.name;
  EXPECT_EQ(h.JobKey("Retour"), "0") << c.name;
  EXPECT_EQ(h.BoxTexts(), c.boxes) << c.name;
  if (c.log_line) {
    EXPECT_TRUE(h.Logged(c.log_line)) << c.name;
  }
  EXPECT_EQ(h.CallsOf("lineMakeCall") > 0, c.dialled) << c.name;
  for (const char* key : {"Detail1", "Detail2"}) {
    EXPECT_FALSE(h.JobKey(key).empty()) << c.name << " " << key;  // "9999" for none
  }
  EXPECT_FALSE(h.process.call.link_active) << c.name;
  EXPECT_EQ(h.serial.DoubleCloses(), 0u) << c.name;
  EXPECT_EQ(h.serial.InvalidHandleUses(), 0u) << c.name;  // nor used once closed
  EXPECT_LT(h.sim.world.Now(), 600'000u) << c.name;       // every job ends
}

using O = netemu::Options;
constexpr const char* kNoSite = "Impossible de faire la connexion avec le site destinataire !";
constexpr const char* kNoTranspac =
    "Connexion avec TRANSPAC non r\xE9ussie !\nVeuillez reessayer plus tard !";
constexpr const char* kNoCom =
    "Connexion avec le site abonn\xE9 impossible !\nVeuillez v\xE9rifier votre num\xE9ro !";
constexpr const char* kNoAnswer = "Pas de r\xE9ponse \xE0 l'envoi de la carte param\xE8tre";
constexpr const char* kRefused = "Carte param\xE8tre non valide !";

INSTANTIATE_TEST_SUITE_P(
    Rows, SendFileFailureTest,
    ::testing::Values(
        FailCase{
            "empty path", [](ExchangeHarness& h) { h.file_path = ""; }, {}, "Fichier Vide", false},
        // After "Impossible d'ouvrir le fichier", the path and the cause.
        FailCase{"missing file",
                 [](ExchangeHarness& h) { h.sim.files.Delete(kDataFile); },
                 {},
                 "C:\\DATA\\ENVOI.TXT : fichier introuvable",
                 false},
        FailCase{"a folder",
                 [](ExchangeHarness& h) {
                   h.sim.files.Delete(kDataFile);
                   h.sim.files.AddFolder(kDataFile);
                 },
                 {},
                 "C:\\DATA\\ENVOI.TXT : c'est un dossier, pas un fichier",
                 false},
        FailCase{"access refused",
                 [](ExchangeHarness& h) { h.sim.files.FailOpen(kDataFile); },
                 {},
                 "C:\\DATA\\ENVOI.TXT : acc\xE8s refus\xE9",
                 false},
        FailCase{"held by another program: the system's reason",
                 [](ExchangeHarness& h) {
                   h.sim.files.FailOpen(kDataFile);
                   h.sim.files.SayProblemsAs("fichier utilis\xE9 par un autre programme");
                 },
                 {},
                 "C:\\DATA\\ENVOI.TXT : fichier utilis\xE9 par un autre programme",
                 false},
        FailCase{"empty file",
                 [](ExchangeHarness& h) { h.sim.files.Put(kDataFile, ""); },
                 {},
                 "Fichier Vide",
                 false},
        FailCase{"remainder holding data",
                 [](ExchangeHarness& h) { h.sim.files.Put(kDataFile, RecordsOf(3, 160) + "X"); },
                 {},
                 "Fichier mal form\xE9 : sa fin n'est pas un enregistrement entier de 160 octets",
                 false},
        FailCase{"unreadable file",
                 [](ExchangeHarness& h) { h.sim.files.FailReadAt(kDataFile, 200); },
                 {},
                 "Erreur de lecture du fichier",
                 false},
        FailCase{"read error in the middle of the transfer",
                 [](ExchangeHarness& h) { h.sim.files.FailReadAt(kDataFile, 200, 1); },
                 {},
                 "Erreur de lecture du fichier : envoi interrompu !",
                 true},
        FailCase{"read error with the system's reason",
                 [](ExchangeHarness& h) {
                   h.sim.files.FailReadAt(kDataFile, 200, 1);
                   h.sim.files.SayProblemsAs("erreur d'entr\351e-sortie");
                 },
                 {},
                 "Erreur de lecture du fichier (erreur d'entr\351e-sortie) : envoi interrompu !",
                 true},
        FailCase{"control character in the NUI",
                 [](ExchangeHarness& h) { h.WinIni("[175000123]\r\nNUI=AB\003COM\r\n"); },
                 {},
                 "Appel refus\xE9 : NUI contient un caract\xE8re de contr\xF4le !",
                 false},
        FailCase{"busy",
                 [](ExchangeHarness& h) {
                   h.telephony.ModifyDevice(0, [](auto& d) {
                     d.script = platform::sim::DisconnectedCall(platform::kDisconnectBusy);
                   });
                 },
                 {"La ligne de votre correspondant ne peut pas \xEAtre jointe !", kNoSite},
                 nullptr,
                 true},
        FailCase{"never connects",
                 [](ExchangeHarness& h) {
                   h.telephony.ModifyDevice(
                       0, [](auto& d) { d.script = platform::sim::ConnectingCall(70'000); });
                 },
                 {kNoSite},
                 nullptr,
                 true},
        FailCase{"line cannot be opened",
                 [](ExchangeHarness& h) {
                   h.telephony.ModifyDevice(0, [](auto& d) {
                     d.faults.line_open.code = platform::kLineErrOperationFailed;
                   });
                 },
                 {"Erreur dans l'ouverture de la ligne"},
                 nullptr,
                 false},
        FailCase{"silent PAD",
                 [](ExchangeHarness& h) { h.Bank().silent_at = netemu::Step::kBanner; },
                 {kNoTranspac},
                 nullptr,
                 true},
        FailCase{"dropped before the banner",
                 [](ExchangeHarness& h) { h.Bank().drop_at = netemu::Step::kBanner; },
                 {kNoTranspac},
                 nullptr,
                 true},
        FailCase{"dropped during the profile pause",
                 [](ExchangeHarness& h) {
                   h.WinIni("[175000123]\r\nPROFIL7=O\r\n");
                   h.Bank().drop_at = netemu::Step::kProf7;
                 },
                 {},
                 nullptr,
                 true},
        FailCase{"wrong subscriber",
                 [](ExchangeHarness& h) { h.Bank().bank_number = "999"; },
                 {kNoCom},
                 nullptr,
                 true},
        FailCase{"dropped before COM",
                 [](ExchangeHarness& h) { h.Bank().drop_at = netemu::Step::kCom; },
                 {kNoCom},
                 nullptr,
                 true},
        FailCase{"card unanswered",
                 [](ExchangeHarness& h) { h.Bank().silent_at = netemu::Step::kCard; },
                 {kNoAnswer, kRefused},
                 nullptr,
                 true},
        FailCase{"dropped at the card",
                 [](ExchangeHarness& h) { h.Bank().drop_at = netemu::Step::kCard; },
                 {kNoAnswer, kRefused},
                 nullptr,
                 true},
        FailCase{"card refused",
                 [](ExchangeHarness& h) { h.Bank().verdict = "NOK"; },
                 {kRefused},
                 nullptr,
                 true},
        // "NOK" and a blank hold "OK ": still a refusal.
        FailCase{"card refused, first code blank",
                 [](ExchangeHarness& h) {
                   h.Bank().verdict = "NOK";
                   h.Bank().code1 = "    ";
                 },
                 {kRefused},
                 nullptr,
                 true},
        FailCase{"card refused, first code begins with a blank",
                 [](ExchangeHarness& h) {
                   h.Bank().verdict = "NOK";
                   h.Bank().code1 = " 012";
                 },
                 {kRefused},
                 nullptr,
                 true},
        FailCase{"card refused, line end in a code",
                 [](ExchangeHarness& h) {
                   h.Bank().verdict = "NOK";
                   h.Bank().code1 = "\r12";
                   h.Bank().code2 = "\r\r\r\r";
                 },
                 {kRefused},
                 nullptr,
                 true},
        FailCase{"stopped at the card",
                 [](ExchangeHarness& h) {
                   h.Bank().silent_at = netemu::Step::kCard;
                   h.sim.windows.CloseAt(9'000);
                 },
                 {},
                 nullptr,
                 true},
        FailCase{"dropped in the record loop",
                 [](ExchangeHarness& h) { h.Bank().drop_after_records = 1; },
                 {},
                 nullptr,
                 true},
        FailCase{"dropped in the record loop under profile 7",
                 [](ExchangeHarness& h) {
                   h.WinIni("[KORVAL]\r\nDelaiReponse=30\r\n[175000123]\r\nPROFIL7=O\r\n");
                   h.Bank().drop_after_records = 1;
                 },
                 {},
                 nullptr,
                 true},
        FailCase{"dropped before OKF",
                 [](ExchangeHarness& h) { h.Bank().drop_at = netemu::Step::kOkf; },
                 {},
                 kSentNotAcknowledged,
                 true},
        FailCase{"OKF never comes",
                 [](ExchangeHarness& h) {
                   h.WinIni("[KORVAL]\r\nDelaiReponse=30\r\nDelaiAcquittement=60\r\n");
                   h.Bank().silent_at = netemu::Step::kOkf;
                 },
                 {},
                 kSentNotAcknowledged,
                 true}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

// A bank that checks a large file before it acknowledges it has DelaiAcquittement, not
// DelaiReponse: an acknowledgement given up too early invites a duplicate transfer.
TEST(SendFileTest, TheAcknowledgementHasItsOwnLimit) {
  struct Case {
    const char* win_ini;
    std::uint64_t okf_after_ms;
    bool acknowledged;
    std::uint64_t given_up_after_ms;  // when not acknowledged
  };
  for (const Case& c :
       {Case{"", 600'000, true, 0}, Case{"[KORVAL]\r\nDelaiReponse=5\r\n", 60'000, true, 0},
        Case{"[KORVAL]\r\nDelaiAcquittement=30\r\n", 60'000, false, 30'000},
        Case{"", 1'000'000, false, 900'000}}) {
    SCOPED_TRACE(std::string(c.win_ini) + " OKF after " + std::to_string(c.okf_after_ms));
    ExchangeHarness h;
    h.WinIni(c.win_ini);
    h.sim.files.Put(kDataFile, RecordsOf(2, 160));
    h.Bank().okf_delay_ms = c.okf_after_ms;
    EXPECT_EQ(h.RunJob("L"), c.acknowledged ? app::kExitSucceeded : app::kExitFailed);
    EXPECT_EQ(h.JobKey("Retour"), c.acknowledged ? "1" : "0");
    EXPECT_EQ(h.Logged(kSentNotAcknowledged), !c.acknowledged);
    EXPECT_TRUE(h.BankSaw().end_record_received);
    if (!c.acknowledged) {
      const std::uint64_t now = h.sim.world.Now();
      EXPECT_GT(now, c.given_up_after_ms);
      EXPECT_LT(now, c.given_up_after_ms + 60'000);  // dialling, records, hang-up
    }
  }
}

TEST(SendFileCallCardAndRecordsTest, RefusedCardKeepsTheBanksCodes) {
  ExchangeHarness h;
  h.sim.files.Put(kDataFile, RecordsOf(1, 160));
  h.Bank().verdict = "NOK";
  h.Bank().code1 = "E012";
  h.Bank().code2 = "0307";
  EXPECT_EQ(h.RunJob("V"), app::kExitFailed);
  EXPECT_EQ(h.JobKey("Detail1"), "E012");
  EXPECT_EQ(h.JobKey("Detail2"), "0307");
  EXPECT_TRUE(h.BankSaw().records.empty());
}

TEST(SendFileCallCardAndRecordsTest, TrailingLineEndsAreNotData) {
  ExchangeHarness h;
  h.sim.files.Put(kDataFile, RecordsOf(2, 160) + "\r\n\x1A");
  EXPECT_EQ(h.RunJob("L"), app::kExitSucceeded);
  EXPECT_EQ(h.BankSaw().records.size(), 2u);
}

// A record that left only in part must stop the transfer: the bank would take the
// next bytes for the rest of it.
TEST(SendFileTest, RecordWrittenInPartStopsTheTransfer) {
  ExchangeHarness h;
  h.WinIni("[KORVAL]\r\nDelaiReponse=30\r\n");
  h.sim.files.Put(kDataFile, RecordsOf(3, 160));
  bool scripted = false;
  h.sim.world.AddSettleHook([&] {
    const auto writes = h.telephony.Port().Records(platform::sim::SimPortOp::kWrite);
    // After the first record and its carriage return, the next write goes out short.
    if (!scripted && writes.size() >= 2 && writes[writes.size() - 2].bytes.size() == 160 &&
        writes.back().bytes.size() == 1) {
      scripted = true;
      h.telephony.Port().ScriptWriteFault({platform::sim::SimWriteFault::Kind::kShort, 40});
    }
  });
  EXPECT_EQ(h.RunJob("L"), app::kExitFailed);
  ASSERT_TRUE(scripted);
  EXPECT_EQ(h.JobKey("Retour"), "0");
  EXPECT_FALSE(h.Logged("Envoi du fichier termin\xE9 normalement !"));
  const netemu::Report& bank = h.BankSaw();
  ASSERT_FALSE(bank.records.empty());
  EXPECT_EQ(bank.records.front().length, 160u);
  EXPECT_LE(bank.records.size(), 2u);  // the first, and the part that went
  EXPECT_FALSE(bank.end_record_received);
  EXPECT_FALSE(h.process.call.link_active);
}

}  // namespace
}  // namespace korval::exchange
