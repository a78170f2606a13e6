#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "harness/exchange_harness.h"

namespace korval::exchange {
namespace {

using testing::ExchangeHarness;
using testing::kStatementBackup;
using testing::kStatementFile;

const std::string kEnd = "FF" + std::string(18, ' ');

std::string Statement(std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) {
    text += "0130004 EUR 12/11/26 VIREMENT RECU " + std::to_string(1000 + i) + ",00\r";
  }
  return text;
}

struct StatementHarness : ExchangeHarness {
  StatementHarness() {
    Bank().mode = netemu::BankMode::kSendStatement;
    sim.files.Put(kStatementFile, "previous statement");
  }
  int Receive() { return RunJob("R", kStatementFile); }
};

TEST(ReceiveStatementTest, StatementIsStoredAndAcknowledged) {
  struct Case {
    const char* name;
    std::size_t chunk;
    std::uint64_t first_delay_ms;  // 0: data rides with the answer record
    bool profile7;
    std::string inner_line = {};  // a line in the middle of the statement
    std::uint64_t pace_ms = 20;
    bool one_blank_short = false;  // a chunk ends with the end record less its last blank
  };
  for (const Case& c :
       {Case{"paced chunks", 64, 200, false}, Case{"data with the answer record", 500, 0, false},
        Case{"end record split across chunks", 37, 200, false}, Case{"profile 7", 128, 200, true},
        Case{"FF and blanks ending a line", 64, 200, false, "TOTAL 1000,00 " + kEnd + "\r"},
        Case{"FF and more blanks", 64, 200, false, "SOLDE " + kEnd + "   \r"},
        Case{"FF and blanks at the end of a chunk", 44, 200, false, "X " + kEnd},
        Case{"end record split one blank short", 64, 200, false, "", 500, true}}) {
    StatementHarness h;
    if (c.profile7) h.WinIni("[175000123]\r\nPROFIL7=O\r\n");
    std::string statement = Statement(6) + c.inner_line + Statement(6);
    if (c.one_blank_short) {
      const std::size_t tail = (statement.size() + kEnd.size() - 1) % c.chunk;
      statement += std::string(c.chunk + c.chunk - tail - 1, '-') + "\r";
    }
    h.Bank().statement = statement;
    h.Bank().chunk_size = c.chunk;
    h.Bank().chunk_pace_ms = c.pace_ms;
    h.Bank().statement_delay_ms = c.first_delay_ms;
    h.Bank().code1 = "1111";

    EXPECT_EQ(h.Receive(), app::kExitSucceeded) << c.name;
    EXPECT_EQ(h.JobKey("Retour"), "1") << c.name;
    EXPECT_EQ(h.JobKey("Detail1"), "9999") << c.name;  // the end record's codes
    EXPECT_EQ(h.JobKey("Detail2"), "9999") << c.name;
    EXPECT_EQ(h.FileText(kStatementBackup), "previous statement") << c.name;
    const std::string stored = h.FileText(kStatementFile);
    EXPECT_EQ(stored.substr(0, statement.size()), statement) << c.name;
    EXPECT_NE(stored.find(kEnd, statement.size()), std::string::npos) << c.name;
    const netemu::Report& bank = h.BankSaw();
    EXPECT_TRUE(bank.ack_received) << c.name;
    EXPECT_TRUE(bank.violations.empty()) << c.name << ": " << bank.violations.front().what;
    EXPECT_TRUE(h.Logged("R\351ception du relev\xE9 en cours !")) << c.name;
    EXPECT_TRUE(h.Logged("Relev\xE9 entierement re\xE7u !")) << c.name;
    EXPECT_TRUE(h.sim.windows.MessageBoxes().empty()) << c.name;
    // The status line counted what the file received, the first piece too.
    const auto& shown = h.sim.windows.ProgressShown();
    ASSERT_FALSE(shown.empty()) << c.name;
    EXPECT_EQ(shown.back().direction, platform::TransferProgress::Direction::kReceiving);
    EXPECT_EQ(shown.back().bytes, stored.size()) << c.name;
    EXPECT_FALSE(h.sim.windows.StatusLineOpen()) << c.name;
  }
}

TEST(ReceiveStatementTest, StatementStillFlowingIsNeverCut) {
  StatementHarness h;
  h.WinIni("[KORVAL]\r\nDelaiReception=10\r\n");
  h.Bank().statement = Statement(200);  // 12 000 bytes at 64 bytes every 500 ms: 94 s
  h.Bank().chunk_size = 64;
  h.Bank().chunk_pace_ms = 500;
  EXPECT_EQ(h.Receive(), app::kExitSucceeded);
  EXPECT_EQ(h.FileText(kStatementFile).substr(0, h.Bank().statement.size()), h.Bank().statement);
}

// Whatever stops a request, the statement's file and its .BAK stay byte for byte as
// they were; what came of the statement is kept beside them and named, never
// acknowledged.
TEST(ReceiveStatementTest, FailedRequestLeavesTheStatementAndItsBackupAsTheyWere) {
  struct Case {
    const char* name;
    void (*setup)(StatementHarness&);
    const char* log_line;  // nullptr: the line of Parts met before reception
    bool partial;          // some statement data came and is kept
  };
  for (const Case& c : {
           Case{"no banner", [](StatementHarness& h) { h.Bank().drop_at = netemu::Step::kBanner; },
                nullptr, false},
           Case{"no COM", [](StatementHarness& h) { h.Bank().drop_at = netemu::Step::kCom; },
                nullptr, false},
           Case{"card unanswered",
                [](StatementHarness& h) { h.Bank().drop_at = netemu::Step::kCard; }, nullptr,
                false},
           Case{"card refused", [](StatementHarness& h) { h.Bank().verdict = "NOK"; }, nullptr,
                false},
           Case{"dropped in the middle",
                [](StatementHarness& h) {
                  h.Bank().statement = Statement(20);
                  h.Bank().chunk_size = 100;
                  h.Bank().drop_after_bytes = 300;
                },
                "Relev\xE9 incomplet : la communication a \xE9t\xE9 coup\351e !", true},
           Case{"no end record",
                [](StatementHarness& h) {
                  h.WinIni("[KORVAL]\r\nDelaiReception=10\r\n");
                  h.Bank().silent_at = netemu::Step::kEnd;
                },
                "Relev\xE9 incomplet : la fin du relev\xE9 n'est pas arriv\351e dans le d\xE9lai !",
                true},
           Case{"statement that never ends",
                [](StatementHarness& h) {
                  h.WinIni("[KORVAL]\r\nDureeMaxReception=5\r\n");
                  h.Bank().statement = Statement(2000);  // 13 s in chunks of 128 every 20 ms
                },
                "Relev\xE9 incomplet : dur\351e maximale de r\351ception d\xE9pass\xE9"
                "e (DureeMaxReception) !",
                true},
           Case{"writes fail", [](StatementHarness& h) { h.sim.files.FailWrites(kStatementFile); },
                "Relev\xE9 incomplet : erreur d'\351criture dans le fichier du relev\xE9 !", false},
           Case{"window closed",
                [](StatementHarness& h) {
                  h.Bank().silent_at = netemu::Step::kEnd;
                  h.sim.windows.CloseAt(20'000);
                },
                nullptr, true},
       }) {
    StatementHarness h;
    h.sim.files.Put(kStatementBackup, "older statement");
    h.Bank().statement = Statement(5);
    c.setup(h);
    EXPECT_EQ(h.Receive(), app::kExitFailed) << c.name;
    EXPECT_EQ(h.JobKey("Retour"), "0") << c.name;
    EXPECT_FALSE(h.BankSaw().ack_received) << c.name;
    EXPECT_FALSE(h.Logged("Relev\xE9 entierement re\xE7u !")) << c.name;
    if (c.log_line) {
      EXPECT_TRUE(h.Logged(c.log_line)) << c.name;
    }
    EXPECT_EQ(h.FileText(kStatementFile), "previous statement") << c.name;
    EXPECT_EQ(h.FileText(kStatementBackup), "older statement") << c.name;
    std::vector<std::string> beside;
    for (const std::string& path : h.sim.files.Paths()) {
      if (path.rfind(std::string(kStatementFile) + ".", 0) == 0) beside.push_back(path);
    }
    EXPECT_EQ(beside.size(), c.partial ? 1u : 0u) << c.name;
    for (const std::string& path : beside) {
      const std::string kept = h.FileText(path);
      EXPECT_FALSE(kept.empty()) << c.name;
      EXPECT_EQ(kept, h.Bank().statement.substr(0, kept.size())) << c.name;
      EXPECT_TRUE(h.Logged("Relev\xE9 partiel conserv\xE9 dans " + path)) << c.name;
    }
  }
}

// The complete statement takes the place of the previous one in checked steps; a step
// that fails leaves the statement where it was received, named in the log.
TEST(ReceiveStatementTest, CompleteStatementTakesThePlaceOfThePreviousOne) {
  const std::string kept_in = "Le relev\xE9 re\xE7u est conserv\xE9 dans ";
  struct Case {
    const char* name;
    std::optional<std::string> target;  // before the job
    void (*fault)(StatementHarness&);
    bool placed;
    const char* backup;  // after the job
  };
  for (const Case& c : {
           Case{"previous statement", "previous statement", nullptr, true, "previous statement"},
           Case{"empty previous file", "", nullptr, true, "older statement"},
           Case{"no previous file", std::nullopt, nullptr, true, "older statement"},
           Case{".BAK cannot be removed", "previous statement",
                [](StatementHarness& h) { h.sim.files.FailDelete(kStatementBackup); }, false,
                "older statement"},
           Case{"previous cannot become the .BAK", "previous statement",
                [](StatementHarness& h) { h.sim.files.FailMove(kStatementFile); }, false, "<none>"},
           Case{"temporary file cannot be renamed", std::nullopt,
                [](StatementHarness& h) {
                  h.sim.files.FailMove(std::string(kStatementFile) + ".~1");
                },
                false, "older statement"},
       }) {
    StatementHarness h;
    h.sim.files.Delete(kStatementFile);
    if (c.target) h.sim.files.Put(kStatementFile, *c.target);
    h.sim.files.Put(kStatementBackup, "older statement");
    h.Bank().statement = Statement(4);
    if (c.fault) c.fault(h);
    EXPECT_EQ(h.Receive(), c.placed ? app::kExitSucceeded : app::kExitFailed) << c.name;
    EXPECT_TRUE(h.BankSaw().ack_received) << c.name;
    EXPECT_EQ(h.FileText(kStatementBackup), c.backup) << c.name;
    const std::string temporary = std::string(kStatementFile) + ".~1";
    const std::string statement = h.FileText(c.placed ? kStatementFile : temporary);
    EXPECT_EQ(statement.substr(0, Statement(4).size()), Statement(4)) << c.name;
    if (c.placed) {
      EXPECT_FALSE(h.sim.files.Exists(temporary)) << c.name;
    } else {
      EXPECT_EQ(h.FileText(kStatementFile), c.target.value_or("<none>")) << c.name;
      bool named = false;
      for (const std::string& line : h.Log()) named |= line.rfind(kept_in + temporary, 0) == 0;
      EXPECT_TRUE(named) << c.name;
    }
  }
}

TEST(ReceiveStatementTest, EmptyFileNameReceivesIntoNothing) {
  StatementHarness h;
  h.Bank().statement = Statement(3);
  EXPECT_EQ(h.RunJob("R", ""), app::kExitSucceeded);
  EXPECT_EQ(h.FileText(kStatementFile), "previous statement");
  EXPECT_FALSE(h.sim.files.Exists(kStatementBackup));
  EXPECT_TRUE(h.BankSaw().ack_received);
}

// A statement that has nowhere to go is not asked for: it would be acknowledged and
// lost. A target that is no regular file is refused before anything is touched.
TEST(ReceiveStatementTest, StatementWithNowhereToGoIsNotAskedFor) {
  const std::string refused = "Fichier du relev\xE9 refus\xE9 : ";
  struct Case {
    const char* name;
    void (*setup)(StatementHarness&);
    std::string line;
  };
  for (const Case& c : {
           Case{"cannot be created",
                [](StatementHarness& h) { h.sim.files.FailCreate(kStatementFile); },
                std::string("Impossible de pr\xE9parer le fichier du relev\xE9 : ") +
                    kStatementFile},
           Case{"a device", [](StatementHarness& h) { h.sim.files.AddDevice(kStatementFile); },
                refused + kStatementFile + " : ce n'est pas un fichier ordinaire !"},
           Case{"a folder", [](StatementHarness& h) { h.sim.files.AddFolder(kStatementFile); },
                refused + kStatementFile + " : c'est un dossier, pas un fichier !"},
           Case{"a folder as the .BAK",
                [](StatementHarness& h) { h.sim.files.AddFolder(kStatementBackup); },
                refused + kStatementBackup + " : c'est un dossier, pas un fichier !"},
       }) {
    StatementHarness h;
    c.setup(h);
    EXPECT_EQ(h.Receive(), app::kExitFailed) << c.name;
    EXPECT_EQ(h.JobKey("Retour"), "0") << c.name;
    EXPECT_EQ(h.CallsOf("lineMakeCall"), 0u) << c.name;
    EXPECT_TRUE(h.Logged(c.line)) << c.name;
    EXPECT_FALSE(h.sim.files.Exists(std::string(kStatementFile) + ".~1")) << c.name;
    EXPECT_EQ(h.FileText(kStatementFile), "previous statement") << c.name;
  }
}

}  // namespace
}  // namespace korval::exchange

namespace korval::exchange {
namespace {

TEST(CloseDuringJobTest, CloseRequestEndsTheExchangePromptly) {
  StatementHarness h;
  h.Bank().statement = Statement(5);
  h.Bank().silent_at = netemu::Step::kEnd;  // the statement would wait 300 s for its end
  h.sim.windows.CloseAt(20'000);
  EXPECT_EQ(h.Receive(), app::kExitFailed);
  EXPECT_LT(h.sim.world.Now(), 30'000u);
  EXPECT_EQ(h.JobKey("Retour"), "0");
  EXPECT_FALSE(h.process.call.link_active);
  EXPECT_FALSE(h.process.call.read_thread);
  EXPECT_EQ(h.serial.DoubleCloses(), 0u);
}

}  // namespace
}  // namespace korval::exchange
