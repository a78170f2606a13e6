// korvalcom.exe under Wine against telephony providers that differ where the API lets
// them: the test-double tapi32.dll's variants ([TAPI32] of win.ini). Each row runs a
// statement and an L.C.R, or a statement the bank cuts, and checks what the bank got
// and what the job file says.
#include <gtest/gtest.h>

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
constexpr int kProgramTimeoutS = 120;
constexpr std::size_t kCut = 300;

const std::string kStatementDone = "Relev\xC3\xA9 entierement re\xC3\xA7u !";
const std::string kStatementCut =
    "Relev\xC3\xA9 incomplet : la communication a \xC3\xA9t\xC3\xA9 coup\xC3\251e !";
const std::string kSent = "Envoi du fichier termin\xC3\xA9 normalement !";

enum class Outcome { kExchanges, kRefused, kCut };

struct VariantCase {
  const char* name;
  std::vector<std::string> keys;  // of [TAPI32]
  Outcome outcome;
};

void PrintTo(const VariantCase& c, std::ostream* os) { *os << c.name; }

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Statement(std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) {
    text += "0130004 EUR 12/11/26 VIREMENT RECU " + std::to_string(1000 + i) + ",00\r";
  }
  return text;
}

std::string Records(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    std::string record = "ENR" + std::to_string(i + 1) + " MONTANT 123,45 EUR ";
    record.resize(160, 'X');
    text += record;
  }
  return text;
}

class ProviderVariantE2e : public ::testing::TestWithParam<VariantCase> {
 protected:
  void SetUp() override {
    if (!wine::Enabled()) GTEST_SKIP() << "the provider variants are the Windows double's";
  }

  // One exchange against a fresh emulator; the bank's files are left in `folder`.
  ProgramRun RunJob(const TempDir& folder, Emulator& emu, const std::string& type_action,
                    const std::string& file) {
    std::string ini = "[KORVAL]\r\nNUMTRANSPAC=" + std::string(kAccess) +
                      "\r\n[MODEM0]\r\nPort=" + emu.pty() +
                      "\r\nVitesse=9600\r\nInit=ATZ\r\n[TAPI32]\r\n";
    for (const std::string& key : GetParam().keys) ini += key + "\r\n";
    WriteFile(folder / "win.ini", ini);
    WriteFile(folder / "job.ini",
              "[KORVAL]\r\nNumeroAbonne=" + std::string(kBank) + "\r\nTypeAction=" + type_action +
                  "\r\nCarteParametre=CARTE E2E\r\nFichierAssocie=" + file + "\r\n");
    return RunProgram(folder, folder / "win.ini", folder / "job.ini", kProgramTimeoutS);
  }

  static std::vector<std::string> Bank(const std::vector<std::string>& extra) {
    std::vector<std::string> options = {"--bank-number", kBank, "--access-number", kAccess};
    for (const std::string& o : FastPeer()) options.push_back(o);
    options.insert(options.end(), extra.begin(), extra.end());
    return options;
  }

  // The emulator ended by itself with no protocol fault (4: only quiet that a busy
  // machine shortened by a few milliseconds).
  static void ExpectCleanEnd(Emulator& emu) {
    const std::optional<int> status = emu.Finish();
    const std::string report = emu.Report();
    EXPECT_TRUE(ProtocolFaults(report).empty()) << report;
    const bool only_timing = ProtocolFaults(report).empty() && !ReportedViolations(report).empty();
    EXPECT_EQ(status, std::optional<int>(only_timing ? 4 : 0)) << emu.Stderr();
  }

  static std::string Retour(const TempDir& folder) {
    const std::vector<std::string> values = KorvalValues(ReadFile(folder / "job.ini"), "Retour");
    return values.size() == 1 ? values[0] : "(" + std::to_string(values.size()) + " values)";
  }
};

TEST_P(ProviderVariantE2e, TheBankGetsWhatTheJobFileSays) {
  const VariantCase& c = GetParam();
  const std::string statement = Statement(c.outcome == Outcome::kCut ? 20 : 6);
  TempDir statement_dir;
  WriteFile(statement_dir / "bank.txt", statement);
  std::vector<std::string> cut;
  if (c.outcome == Outcome::kCut) cut = {"--chunk-size", "64", "--drop-after-bytes", "300"};
  cut.insert(cut.begin(), {"--statement", statement_dir / "bank.txt"});
  Emulator statement_bank(statement_dir, Bank(cut));
  ASSERT_FALSE(statement_bank.pty().empty());
  const ProgramRun request =
      RunJob(statement_dir, statement_bank, "R", statement_dir / "releve.txt");
  ASSERT_TRUE(request.status.has_value()) << "the statement request never ended\n" << request.out;

  switch (c.outcome) {
    case Outcome::kExchanges: {
      EXPECT_EQ(Retour(statement_dir), "1") << request.out << request.err;
      EXPECT_TRUE(Contains(request.out, kStatementDone)) << request.out;
      EXPECT_EQ(ReadFile(statement_dir / "releve.txt").substr(0, statement.size()), statement);
      ExpectCleanEnd(statement_bank);
      TempDir lcr_dir;
      const std::string data = Records(3);
      WriteFile(lcr_dir / "data.txt", data);
      Emulator lcr_bank(lcr_dir, Bank({"--record-length", "160"}));
      ASSERT_FALSE(lcr_bank.pty().empty());
      const ProgramRun send = RunJob(lcr_dir, lcr_bank, "L", lcr_dir / "data.txt");
      EXPECT_EQ(Retour(lcr_dir), "1") << send.out << send.err;
      EXPECT_TRUE(Contains(send.out, kSent)) << send.out;
      ExpectCleanEnd(lcr_bank);
      EXPECT_EQ(lcr_bank.Received(), data);
      break;
    }
    case Outcome::kRefused:
      EXPECT_EQ(Retour(statement_dir), "0") << request.out << request.err;
      EXPECT_TRUE(Contains(request.err, "LINEERR_OPERATIONFAILED")) << request.err;
      EXPECT_FALSE(FileExists(statement_dir / "releve.txt"));
      break;
    case Outcome::kCut: {
      // Whatever the provider says of the lost call, or says nothing, the job ends with
      // the partial copy kept beside the statement, free of the modem's own text.
      EXPECT_EQ(Retour(statement_dir), "0") << request.out << request.err;
      EXPECT_TRUE(Contains(request.out, kStatementCut)) << request.out;
      std::vector<std::string> beside;
      for (const auto& entry : std::filesystem::directory_iterator(statement_dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("releve.txt.", 0) == 0) beside.push_back(entry.path().string());
      }
      ASSERT_EQ(beside.size(), 1u) << request.out;
      const std::string kept = ReadFile(beside[0]);
      EXPECT_EQ(kept, statement.substr(0, kCut));
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Providers, ProviderVariantE2e,
    ::testing::Values(VariantCase{"Default", {}, Outcome::kExchanges},
                      VariantCase{"NoPrivilege", {"Privilege=0"}, Outcome::kExchanges},
                      VariantCase{"HandleAtReply", {"HandleAtReply=1"}, Outcome::kExchanges},
                      VariantCase{
                          "Strict", {"Privilege=0", "HandleAtReply=1"}, Outcome::kExchanges},
                      VariantCase{"StatesBeforeReply",
                                  {"Privilege=0", "HandleAtReply=1", "StatesBeforeReply=1"},
                                  Outcome::kExchanges},
                      VariantCase{"ConnectedOnly",
                                  {"Privilege=0", "HandleAtReply=1", "ConnectedOnly=1"},
                                  Outcome::kExchanges},
                      VariantCase{"ReplyError", {"ReplyError=0x80000048"}, Outcome::kRefused},
                      VariantCase{"CutLineClose", {"PortLost=CLOSE"}, Outcome::kCut},
                      VariantCase{"CutPortUnwatched", {"PortLost=NONE"}, Outcome::kCut},
                      VariantCase{"CutNormal", {"DisconnectMode=0x1"}, Outcome::kCut},
                      VariantCase{"CutUnknown", {"DisconnectMode=0x2"}, Outcome::kCut},
                      VariantCase{"CutReject", {"DisconnectMode=0x4"}, Outcome::kCut},
                      VariantCase{"CutPickup", {"DisconnectMode=0x8"}, Outcome::kCut},
                      VariantCase{"CutForwarded", {"DisconnectMode=0x10"}, Outcome::kCut},
                      VariantCase{"CutBusy", {"DisconnectMode=0x20"}, Outcome::kCut},
                      VariantCase{"CutNoAnswer", {"DisconnectMode=0x40"}, Outcome::kCut},
                      VariantCase{"CutBadAddress", {"DisconnectMode=0x80"}, Outcome::kCut},
                      VariantCase{"CutUnreachable", {"DisconnectMode=0x100"}, Outcome::kCut},
                      VariantCase{"CutCongestion", {"DisconnectMode=0x200"}, Outcome::kCut},
                      VariantCase{"CutIncompatible", {"DisconnectMode=0x400"}, Outcome::kCut},
                      VariantCase{"CutUnavail", {"DisconnectMode=0x800"}, Outcome::kCut},
                      VariantCase{"CutNoDialtone", {"DisconnectMode=0x1000"}, Outcome::kCut}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korval::e2e
