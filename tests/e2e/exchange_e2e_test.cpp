// Whole jobs: the built korvalcom dials the built korval-netemu through a
// pseudo-terminal, and both sides' files are checked afterwards.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
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

const std::string kEndRecord = "FF" + std::string(18, ' ');
const std::string kCard = "CARTE E2E 0042";

// The progress log is UTF-8 on Linux.
const std::string kCardValid = "Carte param\xC3\xA8tre valide !";
const std::string kSent = "Envoi du fichier termin\xC3\xA9 normalement !";
const std::string kStatementDone = "Relev\xC3\xA9 entierement re\xC3\xA7u !";
const std::string kStatusLine = "\rR\xC3\251ception : ";
const std::string kStatementCut =
    "Relev\xC3\xA9 incomplet : la communication a \xC3\xA9t\xC3\xA9 coup\xC3\251e !";

// Fixed-length records of bytes that survive the trip to EBCDIC and back.
std::string Records(std::size_t count, std::size_t length) {
  const std::string pattern = "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 .,-/()+*=";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    std::string record = "ENR" + std::to_string(i + 1) + " MONTANT 123,45 EUR ";
    while (record.size() < length) record += pattern.substr((i * 7) % pattern.size());
    record.resize(length);
    text += record;
  }
  return text;
}

// A statement as the bank sends it: lines ended by a carriage return.
std::string Statement(std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) {
    text += "0130004 EUR 12/11/26 VIREMENT RECU " + std::to_string(1000 + i) + ",00\r";
  }
  return text;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class E2e : public ::testing::Test {
 protected:
  // win.ini: the dial number and time limits, the modem on the emulator's device,
  // the subscriber's section.
  void WriteWinIni(const std::string& pty, const std::vector<std::string>& korval = {},
                   const std::vector<std::string>& subscriber = {}) {
    std::string text = "[KORVAL]\r\nNUMTRANSPAC=" + std::string(kAccess) + "\r\n";
    for (const std::string& line : korval) text += line + "\r\n";
    text += "[MODEM0]\r\nPort=" + pty + "\r\nVitesse=9600\r\nInit=ATZ\r\n";
    text += "[" + std::string(kBank) + "]\r\n";
    for (const std::string& line : subscriber) text += line + "\r\n";
    WriteFile(dir / "win.ini", text);
  }

  // A job file as the calling application leaves it, with stale results and lines
  // of its own that must survive.
  void WriteJob(const std::string& type_action, const std::string& file) {
    job_before_ =
        "\xEF\xBB\xBF; written by the accounting program\r\n"
        "[AVANT]\r\nRetour=keep\r\n"
        "[KORVAL]\r\nNumeroAbonne=" +
        std::string(kBank) +
        "\r\nRetour=1\r\n; note\r\n"
        "TypeAction=" +
        type_action + "\r\nCarteParametre=" + kCard +
        "\r\n"
        "FichierAssocie=" +
        file +
        "\r\nDetail1=OLD1\r\nnot a key line\r\n"
        "[APRES]\r\nDetail2=keep\r\n";
    WriteFile(dir / "job.ini", job_before_);
  }

  ProgramRun Run() {
    ProgramRun run = RunProgram(dir, dir / "win.ini", dir / "job.ini", kProgramTimeoutS);
    EXPECT_TRUE(run.status.has_value())
        << "korvalcom did not end within " << kProgramTimeoutS << " s\n"
        << run.out;
    return run;
  }

  // Retour, Detail1 and Detail2 written once each; every other line as it was.
  void ExpectJob(const std::string& retour, const std::string& detail1,
                 const std::string& detail2) {
    const std::string after = ReadFile(dir / "job.ini");
    EXPECT_EQ(KorvalValues(after, "Retour"), std::vector<std::string>{retour}) << after;
    EXPECT_EQ(KorvalValues(after, "Detail1"), std::vector<std::string>{detail1}) << after;
    EXPECT_EQ(KorvalValues(after, "Detail2"), std::vector<std::string>{detail2}) << after;
    EXPECT_EQ(WithoutResults(after), WithoutResults(job_before_)) << after;
    for (const std::string& line : Lines(after)) {
      EXPECT_TRUE(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
          << "line end lost: \"" << line << "\"";
    }
  }

  // The emulator ended by itself (4: it listed violations) and wrote its report,
  // which shows no protocol fault.
  std::string FinishedReport(Emulator& emu) {
    const std::optional<int> status = emu.Finish();
    const std::string report = emu.Report();
    const std::vector<std::string> faults = ProtocolFaults(report);
    EXPECT_TRUE(faults.empty()) << report;
    const bool only_timing = faults.empty() && !ReportedViolations(report).empty();
    EXPECT_EQ(status, std::optional<int>(only_timing ? 4 : 0)) << emu.Stderr();
    return report;
  }

  TempDir dir;

 private:
  std::string job_before_;
};

std::vector<std::string> BankOptions(const std::vector<std::string>& extra) {
  return Concat(Concat({"--bank-number", kBank, "--access-number", kAccess}, FastPeer()), extra);
}

// A bank that sends the statement 64 bytes every 50 ms: 60 lines take about 2 s.
std::vector<std::string> SlowStatementBank(const TempDir& dir, const std::string& statement) {
  WriteFile(dir / "bank.txt", statement);
  return BankOptions(
      {"--statement", dir / "bank.txt", "--chunk-size", "64", "--chunk-pace-ms", "50"});
}

// ---------------------------------------------------------------- sending a file

struct SendCase {
  const char* name;
  const char* type_action;
  std::size_t length;
  std::size_t records;
  const char* code1;  // the bank's codes in its answer
  const char* code2;
  const char* detail1;  // what the job file then holds
  const char* detail2;
  const char* progress;
};

void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }

class SendFileE2e : public E2e, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendFileE2e, EveryRecordReachesTheBank) {
  const SendCase& c = GetParam();
  const std::string data = Records(c.records, c.length);
  WriteFile(dir / "data.txt", data);
  Emulator emu(dir, BankOptions({"--record-length", std::to_string(c.length), "--code1", c.code1,
                                 "--code2", c.code2}));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty());
  WriteJob(c.type_action, dir / "data.txt");

  const ProgramRun run = Run();

  EXPECT_EQ(run.status, std::optional<int>(0)) << run.out << run.err;
  ExpectJob("1", c.detail1, c.detail2);
  EXPECT_TRUE(Contains(run.out, c.progress)) << run.out;
  EXPECT_TRUE(Contains(run.out, kCardValid)) << run.out;
  EXPECT_TRUE(Contains(run.out, kSent)) << run.out;
  EXPECT_EQ(run.err, "");

  const std::string report = FinishedReport(emu);
  EXPECT_EQ(emu.Received(), data);
  EXPECT_EQ(ReportValue(report, "dialled"), kAccess);
  EXPECT_EQ(ReportValue(report, "call line"), "\"" + std::string(kBank) + "\"");
  EXPECT_EQ(ReportValue(report, "card"), "\"" + kCard + std::string(80 - kCard.size(), ' ') + "\"");
  EXPECT_EQ(ReportValue(report, "profile 7"), "no");
  EXPECT_EQ(ReportValue(report, "records received"), std::to_string(c.records));
  const std::vector<ReportedRecord> records = ReportedRecords(report);
  ASSERT_EQ(records.size(), c.records) << report;
  for (const ReportedRecord& r : records) {
    EXPECT_EQ(r.length, c.length);
    EXPECT_EQ(r.eor, "carriage return");
  }
  EXPECT_EQ(ReportValue(report, "end record received"), "yes");
  EXPECT_EQ(ReportValue(report, "okf sent"), "yes");
  EXPECT_EQ(ReportValue(report, "call ended"), "yes");
  EXPECT_EQ(ReportValue(report, "hung up by"), "program");
}

INSTANTIATE_TEST_SUITE_P(Kinds, SendFileE2e,
                         ::testing::Values(SendCase{"Lcr", "L", 160, 3, "A001", "    ", "A001",
                                                    "9999", "Envoi fichier L.C.R !"},
                                           SendCase{"Virement", "V", 160, 2, "0000", "0000", "0000",
                                                    "0000", "Envoi fichier Virement !"},
                                           SendCase{"Dads", "D", 560, 2, "D560", "0001", "D560",
                                                    "0001", "Envoi de la DADS R\xC3\xA9seau !"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Under profile 7 records end with a break; the pty cannot carry it, so the bank
// goes by the silence around it. One record: each costs over four seconds.
TEST_F(E2e, Profile7RecordEndsWithTheBreak) {
  const std::string data = Records(1, 160);
  WriteFile(dir / "data.txt", data);
  Emulator emu(dir, BankOptions({}));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty(), {}, {"PROFIL7=O"});
  WriteJob("L", dir / "data.txt");

  const ProgramRun run = Run();

  EXPECT_EQ(run.status, std::optional<int>(0)) << run.out << run.err;
  ExpectJob("1", "0000", "0000");
  EXPECT_TRUE(Contains(run.out, "Utilisation du profil 7")) << run.out;
  EXPECT_TRUE(Contains(run.out, kSent)) << run.out;
  const std::string report = FinishedReport(emu);
  EXPECT_EQ(ReportValue(report, "profile 7"), "yes");
  EXPECT_EQ(emu.Received(), data);
  const std::vector<ReportedRecord> records = ReportedRecords(report);
  ASSERT_EQ(records.size(), 1u) << report;
  EXPECT_EQ(records[0].length, 160u);
  EXPECT_EQ(records[0].eor, "silence");
  EXPECT_TRUE(Contains(report, "card length: 80, end-of-record signal: silence")) << report;
  EXPECT_EQ(ReportValue(report, "okf sent"), "yes");
}

TEST_F(E2e, NuiAndComplementGoOnTheCallLine) {
  const std::string data = Records(1, 160);
  WriteFile(dir / "data.txt", data);
  Emulator emu(dir, BankOptions({}));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty(), {}, {"NUI=AB12", "COMPLEMENT=XY9"});
  WriteJob("L", dir / "data.txt");

  const ProgramRun run = Run();

  EXPECT_EQ(run.status, std::optional<int>(0)) << run.out << run.err;
  ExpectJob("1", "0000", "0000");
  const std::string report = FinishedReport(emu);
  EXPECT_EQ(ReportValue(report, "call line"), "\"NAB12-" + std::string(kBank) + "DXY9\"");
  EXPECT_EQ(ReportValue(report, "nui"), "AB12");
  EXPECT_EQ(ReportValue(report, "address"), kBank);
  EXPECT_EQ(ReportValue(report, "complement"), "XY9");
  EXPECT_EQ(emu.Received(), data);
}

TEST_F(E2e, RefusedCardKeepsTheBanksCodes) {
  WriteFile(dir / "data.txt", Records(2, 160));
  Emulator emu(dir, BankOptions({"--answer", "NOK", "--code1", "E012", "--code2", "0307"}));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty());
  WriteJob("V", dir / "data.txt");

  const ProgramRun run = Run();

  EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
  ExpectJob("0", "E012", "0307");
  EXPECT_FALSE(Contains(run.out, kCardValid)) << run.out;
  EXPECT_TRUE(Contains(run.err, "non valide")) << run.err;
  const std::string report = FinishedReport(emu);
  EXPECT_EQ(ReportValue(report, "answer"), "\"NOKE0120307         \"");
  EXPECT_EQ(ReportValue(report, "records received"), "0");
  EXPECT_EQ(ReportValue(report, "hung up by"), "program");
  EXPECT_EQ(emu.Received(), "");
}

// ---------------------------------------------------------------- the call fails

struct DialCase {
  const char* name;
  const char* option;
};

void PrintTo(const DialCase& c, std::ostream* os) { *os << c.name; }

class DialFailureE2e : public E2e, public ::testing::WithParamInterface<DialCase> {};

TEST_P(DialFailureE2e, NoCallNoExchange) {
  WriteFile(dir / "data.txt", Records(1, 160));
  Emulator emu(dir, BankOptions({GetParam().option}));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty());
  WriteJob("L", dir / "data.txt");

  const ProgramRun run = Run();

  EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
  ExpectJob("0", "9999", "9999");
  EXPECT_FALSE(Contains(run.out, "Envoi carte")) << run.out;
  const std::string report = FinishedReport(emu);
  EXPECT_EQ(ReportValue(report, "dialled"), kAccess);
  EXPECT_EQ(ReportValue(report, "carrier"), "no");
  EXPECT_EQ(ReportValue(report, "banner sent"), "no");
  EXPECT_EQ(emu.Received(), "");
}

INSTANTIATE_TEST_SUITE_P(Results, DialFailureE2e,
                         ::testing::Values(DialCase{"Busy", "--busy"},
                                           DialCase{"NoCarrier", "--no-carrier"},
                                           DialCase{"NoAnswer", "--no-answer"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(E2e, LineDroppedDuringTheTransfer) {
  const std::string data = Records(3, 160);
  WriteFile(dir / "data.txt", data);
  Emulator emu(dir, BankOptions({"--drop-after-records", "1"}));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty());
  WriteJob("L", dir / "data.txt");

  const ProgramRun run = Run();

  EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
  ExpectJob("0", "0000", "0000");
  EXPECT_FALSE(Contains(run.out, kSent)) << run.out;
  const std::string report = FinishedReport(emu);
  EXPECT_EQ(emu.Received(), data.substr(0, 160));
  EXPECT_EQ(ReportValue(report, "records received"), "1");
  EXPECT_EQ(ReportValue(report, "end record received"), "no");
  EXPECT_EQ(ReportValue(report, "call ended"), "yes");
  EXPECT_EQ(ReportValue(report, "hung up by"), "far end");
}

// A silent PAD: DelaiReponse bounds the wait for its banner.
TEST_F(E2e, SilentPadEndsTheJobInTime) {
  WriteFile(dir / "data.txt", Records(1, 160));
  Emulator emu(dir, BankOptions({"--silent-at", "banner"}));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty(), {"DelaiReponse=5"});
  WriteJob("L", dir / "data.txt");

  const ProgramRun run = Run();

  EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
  // The default limit would take minutes: this shows DelaiReponse was used.
  EXPECT_LT(run.seconds, 60.0) << run.out;
  ExpectJob("0", "9999", "9999");
  const std::string report = FinishedReport(emu);
  EXPECT_EQ(ReportValue(report, "carrier"), "yes");
  EXPECT_EQ(ReportValue(report, "banner sent"), "no");
  EXPECT_EQ(ReportValue(report, "card received"), "no");
  EXPECT_EQ(ReportValue(report, "call ended"), "yes");
  EXPECT_EQ(ReportValue(report, "hung up by"), "program");
}

// ---------------------------------------------------------------- statements

struct StatementCase {
  const char* name;
  const char* chunk_size;
  const char* delay_ms;  // "0": the statement rides with the answer record
  mode_t previous_mode;  // the new statement keeps it
};

void PrintTo(const StatementCase& c, std::ostream* os) { *os << c.name; }

class StatementE2e : public E2e, public ::testing::WithParamInterface<StatementCase> {};

TEST_P(StatementE2e, StatementIsStoredAndThePreviousOneKept) {
  const StatementCase& c = GetParam();
  const std::string statement = Statement(12);
  WriteFile(dir / "bank.txt", statement);
  WriteFile(dir / "releve.txt", "PREVIOUS STATEMENT\r");
  ::chmod((dir / "releve.txt").c_str(), c.previous_mode);
  Emulator emu(dir, BankOptions({"--statement", dir / "bank.txt", "--chunk-size", c.chunk_size,
                                 "--statement-delay-ms", c.delay_ms}));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty());
  WriteJob("R", dir / "releve.txt");

  const ProgramRun run = Run();

  EXPECT_EQ(run.status, std::optional<int>(0)) << run.out << run.err;
  ExpectJob("1", "9999", "9999");  // the end record carries no codes
  EXPECT_TRUE(Contains(run.out, "Demande de relev\xC3\xA9 !")) << run.out;
  EXPECT_TRUE(Contains(run.out, kStatementDone)) << run.out;
  const std::string stored = ReadFile(dir / "releve.txt");
  EXPECT_EQ(stored.substr(0, statement.size()), statement);
  EXPECT_NE(stored.find(kEndRecord, statement.size()), std::string::npos) << stored;
  EXPECT_EQ(ReadFile(dir / "releve.BAK"), "PREVIOUS STATEMENT\r");
  struct stat info {};
  ::stat((dir / "releve.txt").c_str(), &info);
  if (!wine::Enabled()) {
    EXPECT_EQ(info.st_mode & 0777, c.previous_mode);
  }
  EXPECT_FALSE(Contains(run.err, kStatusLine)) << "a status line on a file: " << run.err;

  const std::string report = FinishedReport(emu);
  EXPECT_EQ(ReportValue(report, "statement bytes sent"), std::to_string(statement.size()));
  EXPECT_EQ(ReportValue(report, "statement end record sent"), "yes");
  EXPECT_EQ(ReportValue(report, "acknowledgement received"), "yes");
  EXPECT_EQ(ReportValue(report, "acknowledgement end-of-record signal"), "carriage return");
  EXPECT_EQ(ReportValue(report, "call ended"), "yes");
  EXPECT_EQ(ReportValue(report, "hung up by"), "program");
}

INSTANTIATE_TEST_SUITE_P(Pacing, StatementE2e,
                         ::testing::Values(StatementCase{"PacedChunks", "64", "200", 0644},
                                           StatementCase{"WithTheAnswer", "500", "0", 0600}),
                         [](const auto& info) { return std::string(info.param.name); });

// The main window of the Windows build, as a user sees it while a statement comes.
TEST_F(E2e, MainWindowDuringAStatementIsSaved) {
  const std::string png = wine::ScreenshotPath();
  if (png.empty()) GTEST_SKIP() << "only the Windows build under Wine has a window to show";
  const std::string statement = Statement(60);
  Emulator emu(dir, SlowStatementBank(dir, statement));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty());
  WriteJob("R", dir / "releve.txt");

  Child program;
  ASSERT_TRUE(StartProgram(program, dir, dir / "win.ini", dir / "job.ini"));
  // The log file grows line by line, in the program's code page.
  const std::string receiving = "R\351ception du relev\xE9 en cours !";
  for (int waited_ms = 0; waited_ms < 60000 && !program.Ended() &&
                          !Contains(ReadFile(dir / "korvalcom.out"), receiving);
       waited_ms += 20) {
    ::poll(nullptr, 0, 20);
  }
  ASSERT_TRUE(Contains(ReadFile(dir / "korvalcom.out"), receiving));
  EXPECT_TRUE(wine::SaveScreen(png));
  const ProgramRun run = FinishProgram(program, dir, kProgramTimeoutS);
  EXPECT_EQ(run.status, std::optional<int>(0)) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out, kStatementDone)) << run.out;
  FinishedReport(emu);
}

TEST_F(E2e, StatusLineOnATerminalIsErasedAndStaysOutOfTheLog) {
  if (wine::Enabled()) GTEST_SKIP() << "the status line is the Linux console's";
  const std::string statement = Statement(60);
  Emulator emu(dir, SlowStatementBank(dir, statement));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty());
  WriteJob("R", dir / "releve.txt");
  Terminal terminal;
  ASSERT_FALSE(terminal.path().empty());

  const ProgramRun run =
      RunProgram(dir, dir / "win.ini", dir / "job.ini", kProgramTimeoutS, terminal.path());

  EXPECT_EQ(run.status, std::optional<int>(0)) << run.out;
  const std::string err = terminal.ReadAll();
  EXPECT_TRUE(Contains(err, kStatusLine)) << err;
  // The last line drawn was blanked out, and nothing but status lines came.
  const std::size_t last = err.find_last_not_of(" \r");
  ASSERT_NE(last, std::string::npos) << err;
  const std::size_t blanked = err.find('\r', last);
  ASSERT_NE(blanked, std::string::npos) << err;
  EXPECT_EQ(err.substr(blanked).find_first_not_of(" \r"), std::string::npos) << err;
  EXPECT_EQ(err.find('\n'), std::string::npos) << err;
  EXPECT_FALSE(Contains(run.out, "ception : ")) << run.out;
  EXPECT_TRUE(Contains(run.out, kStatementDone)) << run.out;
  EXPECT_EQ(ReadFile(dir / "releve.txt").substr(0, statement.size()), statement);
  FinishedReport(emu);
}

// A failed request leaves the statement and its .BAK as they were; what came is kept
// beside them, under the name the log gives.
struct FailedStatementCase {
  const char* name;
  std::vector<std::string> options;
  const char* detail;
  bool partial;
};

void PrintTo(const FailedStatementCase& c, std::ostream* os) { *os << c.name; }

class FailedStatementE2e : public E2e, public ::testing::WithParamInterface<FailedStatementCase> {};

TEST_P(FailedStatementE2e, StatementAndBackupStayAsTheyWere) {
  const FailedStatementCase& c = GetParam();
  const std::string statement = Statement(20);
  constexpr std::size_t kCut = 300;
  WriteFile(dir / "bank.txt", statement);
  WriteFile(dir / "releve.txt", "PREVIOUS STATEMENT\r");
  WriteFile(dir / "releve.BAK", "OLDER STATEMENT\r");
  Emulator emu(
      dir, BankOptions(Concat({"--statement", dir / "bank.txt", "--chunk-size", "64"}, c.options)));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty());
  WriteJob("R", dir / "releve.txt");

  const ProgramRun run = Run();

  EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
  ExpectJob("0", c.detail, c.detail);
  EXPECT_EQ(ReadFile(dir / "releve.txt"), "PREVIOUS STATEMENT\r");
  EXPECT_EQ(ReadFile(dir / "releve.BAK"), "OLDER STATEMENT\r");
  std::vector<std::string> beside;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("releve.txt.", 0) == 0) beside.push_back(entry.path().string());
  }
  ASSERT_EQ(beside.size(), c.partial ? 1u : 0u);
  if (c.partial) {
    EXPECT_TRUE(Contains(run.out, kStatementCut)) << run.out;
    EXPECT_TRUE(Contains(run.out, "Relev\xC3\xA9 partiel conserv\xC3\xA9 dans " + beside[0]))
        << run.out;
    // The modem's "\r\nNO CARRIER\r\n" after the drop is no statement data: both
    // back-ends take it out of the stream.
    const std::string kept = ReadFile(beside[0]);
    EXPECT_EQ(kept.substr(0, kCut), statement.substr(0, kCut));
    EXPECT_LE(kept.size(), kCut) << kept;
  }
  const std::string report = FinishedReport(emu);
  EXPECT_EQ(ReportValue(report, "acknowledgement received"), "no");
}

INSTANTIATE_TEST_SUITE_P(Failures, FailedStatementE2e,
                         ::testing::Values(FailedStatementCase{"Busy", {"--busy"}, "9999", false},
                                           FailedStatementCase{
                                               "Cut", {"--drop-after-bytes", "300"}, "0000", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- text encodings

// A job file in UTF-8, with or without the mark: its path reaches the file system as
// the name the user sees, and the file is written back in UTF-8.
struct EncodingCase {
  const char* name;
  const char* mark;
  const char* card;  // UTF-8
  bool accepted;
};

void PrintTo(const EncodingCase& c, std::ostream* os) { *os << c.name; }

class EncodingE2e : public E2e, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(EncodingE2e, Utf8JobFilesNameTheirFilesAndCardsTruly) {
  if (wine::Enabled()) GTEST_SKIP() << "Windows names files in its code page";
  const EncodingCase& c = GetParam();
  const std::string statement = Statement(4);
  const std::string target = dir / "relev\xC3\xA9.txt";  // UTF-8, as on disk
  WriteFile(dir / "bank.txt", statement);
  WriteFile(target, "PREVIOUS STATEMENT\r");
  Emulator emu(dir, BankOptions({"--statement", dir / "bank.txt"}));
  ASSERT_FALSE(emu.pty().empty());
  WriteWinIni(emu.pty());
  const std::string comment = "; soci\xC3\xA9t\xC3\xA9 g\xC3\xA9n\xC3\xA9rale\r\n";
  WriteFile(dir / "job.ini", std::string(c.mark) + comment + "[KORVAL]\r\nNumeroAbonne=" + kBank +
                                 "\r\nTypeAction=R\r\nCarteParametre=" + c.card +
                                 "\r\nFichierAssocie=" + target + "\r\n");

  const ProgramRun run = Run();
  const std::string job = ReadFile(dir / "job.ini");
  EXPECT_EQ(job.substr(0, std::string(c.mark).size() + comment.size()), c.mark + comment);
  EXPECT_TRUE(Contains(job, "FichierAssocie=" + target + "\r\n")) << job;

  if (c.accepted) {
    EXPECT_EQ(run.status, std::optional<int>(0)) << run.out << run.err;
    EXPECT_EQ(KorvalValues(job, "Retour"), std::vector<std::string>{"1"}) << job;
    EXPECT_EQ(ReadFile(target).substr(0, statement.size()), statement);
    EXPECT_EQ(ReadFile(dir / "relev\xC3\xA9.BAK"), "PREVIOUS STATEMENT\r");
    EXPECT_FALSE(FileExists(dir / "relev\xE9.txt"));  // the name in Windows-1252
    const std::string report = FinishedReport(emu);
    // One column for each accented letter: the card keeps its 80 columns.
    const std::string card = ReportValue(report, "card").value_or("");
    EXPECT_EQ(card.size(), 82u) << card;
    EXPECT_EQ(card.substr(0, 7), "\"CARTE ") << card;
    EXPECT_EQ(card.substr(8, 1), "t") << card;
  } else {
    EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
    EXPECT_EQ(KorvalValues(job, "Retour"), std::vector<std::string>{"0"}) << job;
    EXPECT_TRUE(Contains(run.out,
                         "Carte param\xC3\xA8tre refus\xC3\251e (colonne 8) : un "
                         "caract\xC3\xA8re n'existe pas en Windows-1252 !"))
        << run.out;
    EXPECT_FALSE(Contains(run.out, kCardValid)) << run.out;
    EXPECT_EQ(ReadFile(target), "PREVIOUS STATEMENT\r");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, EncodingE2e,
    ::testing::Values(EncodingCase{"WithMark", "\xEF\xBB\xBF", "CARTE \xC3\xA9t\xC3\xA9", true},
                      EncodingCase{"WithoutMark", "", "CARTE \xC3\xA9t\xC3\xA9", true},
                      EncodingCase{"CardCharacterNotInCp1252", "", "CARTE \xC3\xA9\xC5\x82",
                                   false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- several modems

// A job file of its own for each of several jobs.
std::string JobText(const std::string& type_action, const std::string& file) {
  return "[KORVAL]\r\nNumeroAbonne=" + std::string(kBank) +
         "\r\nRetour=1\r\nTypeAction=" + type_action + "\r\nCarteParametre=" + kCard +
         "\r\nFichierAssocie=" + file + "\r\nDetail1=OLD1\r\nDetail2=OLD2\r\n";
}

std::string ModemSections(const std::vector<std::string>& ptys) {
  std::string text = "[KORVAL]\r\nNUMTRANSPAC=" + std::string(kAccess) + "\r\n";
  for (std::size_t i = 0; i < ptys.size(); ++i) {
    text += "[MODEM" + std::to_string(i) + "]\r\nPort=" + ptys[i] + "\r\n";
  }
  return text;
}

// Two jobs started together, two modems: each job takes a modem of its own.
TEST_F(E2e, TwoJobsAtOnceTakeTwoModems) {
  TempDir a, b;  // one folder for each emulator and each job
  const std::string data_a = Records(2, 160), data_b = Records(3, 160);
  WriteFile(a / "data.txt", data_a);
  WriteFile(b / "data.txt", data_b);
  Emulator emu_a(a, BankOptions({})), emu_b(b, BankOptions({}));
  ASSERT_FALSE(emu_a.pty().empty());
  ASSERT_FALSE(emu_b.pty().empty());
  WriteFile(dir / "win.ini", ModemSections({emu_a.pty(), emu_b.pty()}));
  WriteFile(a / "job.ini", JobText("L", a / "data.txt"));
  WriteFile(b / "job.ini", JobText("V", b / "data.txt"));

  Child job_a, job_b;
  ASSERT_TRUE(StartProgram(job_a, a, dir / "win.ini", a / "job.ini"));
  ASSERT_TRUE(StartProgram(job_b, b, dir / "win.ini", b / "job.ini"));
  const ProgramRun run_a = FinishProgram(job_a, a, kProgramTimeoutS);
  const ProgramRun run_b = FinishProgram(job_b, b, kProgramTimeoutS);

  EXPECT_EQ(run_a.status, std::optional<int>(0)) << run_a.out << run_a.err;
  EXPECT_EQ(run_b.status, std::optional<int>(0)) << run_b.out << run_b.err;
  EXPECT_EQ(KorvalValues(ReadFile(a / "job.ini"), "Retour"), std::vector<std::string>{"1"});
  EXPECT_EQ(KorvalValues(ReadFile(b / "job.ini"), "Retour"), std::vector<std::string>{"1"});
  FinishedReport(emu_a);
  FinishedReport(emu_b);
  std::vector<std::string> received = {emu_a.Received(), emu_b.Received()};
  std::vector<std::string> sent = {data_a, data_b};
  std::sort(received.begin(), received.end());
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(received, sent);
}

// One modem, two jobs: the job that finds it taken ends with status 3 before it
// reads or writes anything of its own.
class ModemTakenE2e : public E2e, public ::testing::WithParamInterface<int> {};

TEST_P(ModemTakenE2e, TheJobThatFindsNoModemTouchesNothing) {
  const int apart_ms = GetParam();
  TempDir a, b;
  WriteFile(dir / "bank.txt", Statement(8));
  // The first call lasts a few seconds: the second job meets it in progress.
  Emulator emu(dir, BankOptions({"--statement", dir / "bank.txt", "--statement-delay-ms", "3000"}));
  ASSERT_FALSE(emu.pty().empty());
  WriteFile(dir / "win.ini", ModemSections({emu.pty()}));
  const TempDir* folders[] = {&a, &b};
  for (const TempDir* folder : folders) {
    WriteFile(*folder / "job.ini", JobText("R", *folder / "releve.txt"));
    WriteFile(*folder / "releve.txt", "PREVIOUS\r");
    WriteFile(*folder / "releve.BAK", "OLDER\r");
  }

  Child job_a, job_b;
  ASSERT_TRUE(StartProgram(job_a, a, dir / "win.ini", a / "job.ini"));
  if (apart_ms > 0) ::poll(nullptr, 0, apart_ms);
  ASSERT_TRUE(StartProgram(job_b, b, dir / "win.ini", b / "job.ini"));
  const ProgramRun runs[] = {FinishProgram(job_a, a, kProgramTimeoutS),
                             FinishProgram(job_b, b, kProgramTimeoutS)};

  ASSERT_TRUE(runs[0].status && runs[1].status);
  EXPECT_EQ(*runs[0].status + *runs[1].status, 3) << runs[0].err << runs[1].err;
  for (int i = 0; i < 2; ++i) {
    const TempDir& folder = *folders[i];
    if (runs[i].status != std::optional<int>(3)) {
      EXPECT_EQ(runs[i].status, std::optional<int>(0)) << runs[i].out << runs[i].err;
      EXPECT_EQ(ReadFile(folder / "releve.BAK"), "PREVIOUS\r");
      continue;
    }
    // Windows says it on standard error, beside the boxes.
    const std::string said =
        runs[i].err + (wine::Enabled() ? ReadFile(folder / "korvalcom.err") : std::string());
    EXPECT_TRUE(Contains(said, "Aucun modem libre")) << said;
    EXPECT_TRUE(Contains(runs[i].err, "Initialisation de TAPI impossible !")) << runs[i].err;
    EXPECT_EQ(ReadFile(folder / "job.ini"), JobText("R", folder / "releve.txt"));
    EXPECT_EQ(ReadFile(folder / "releve.txt"), "PREVIOUS\r");
    EXPECT_EQ(ReadFile(folder / "releve.BAK"), "OLDER\r");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) {
      ++files;
    }
    EXPECT_EQ(files, 5u);  // the job, the statement, its .BAK, the program's output
  }
  FinishedReport(emu);
}

INSTANTIATE_TEST_SUITE_P(Starts, ModemTakenE2e, ::testing::Values(0, 1000), [](const auto& info) {
  return info.param == 0 ? std::string("AtTheSameInstant") : std::string("ASecondApart");
});

}  // namespace
}  // namespace korval::e2e
