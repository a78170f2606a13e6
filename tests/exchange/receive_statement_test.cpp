#include <gtest/gtest.h>

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
  };
  for (const Case& c : {Case{"paced chunks", 64, 200, false},
                        Case{"data with the answer record", 500, 0, false},
                        Case{"end record split across chunks", 37, 200, false},
                        Case{"profile 7", 128, 200, true}}) {
    StatementHarness h;
    if (c.profile7) h.WinIni("[175000123]\r\nPROFIL7=O\r\n");
    const std::string statement = Statement(12);
    h.Bank().statement = statement;
    h.Bank().chunk_size = c.chunk;
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
    EXPECT_TRUE(h.Logged("R\xE9" "ception du relev\xE9 en cours !")) << c.name;
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
  EXPECT_EQ(h.FileText(kStatementFile).substr(0, h.Bank().statement.size()),
            h.Bank().statement);
}

TEST(ReceiveStatementTest, StatementWithoutEndIsIncompleteAndNotAcknowledged) {
  StatementHarness h;
  h.WinIni("[KORVAL]\r\nDelaiReception=10\r\n");
  h.Bank().statement = Statement(5);
  h.Bank().silent_at = netemu::Step::kEnd;
  EXPECT_EQ(h.Receive(), app::kExitFailed);
  EXPECT_EQ(h.JobKey("Retour"), "0");
  EXPECT_FALSE(h.BankSaw().ack_received);
  EXPECT_FALSE(h.Logged("Relev\xE9 entierement re\xE7u !"));
  EXPECT_TRUE(h.Logged("Relev\xE9 incomplet : la fin du relev\xE9 n'est pas arriv\xE9" "e dans le d\xE9lai !"));
  EXPECT_EQ(h.FileText(kStatementFile), Statement(5));  // what came is kept
  EXPECT_EQ(h.FileText(kStatementBackup), "previous statement");
}

TEST(ReceiveStatementTest, DroppedInTheMiddleKeepsWhatWasCaptured) {
  StatementHarness h;
  h.Bank().statement = Statement(20);
  h.Bank().chunk_size = 100;
  h.Bank().drop_after_bytes = 300;
  EXPECT_EQ(h.Receive(), app::kExitFailed);
  EXPECT_TRUE(h.Logged("Relev\xE9 incomplet : la communication a \xE9t\xE9 coup\xE9" "e !"));
  const std::string stored = h.FileText(kStatementFile);
  EXPECT_FALSE(stored.empty());
  EXPECT_EQ(stored, Statement(20).substr(0, stored.size()));
  EXPECT_FALSE(h.BankSaw().ack_received);
}

TEST(ReceiveStatementTest, FailedConnectionLeavesAnEmptyTargetAndTheBackup) {
  for (auto step : {netemu::Step::kBanner, netemu::Step::kCom, netemu::Step::kCard}) {
    StatementHarness h;
    h.Bank().drop_at = step;
    EXPECT_EQ(h.Receive(), app::kExitFailed);
    EXPECT_EQ(h.FileText(kStatementFile), "");
    EXPECT_EQ(h.FileText(kStatementBackup), "previous statement");
    // The next run must not lose the previous statement either.
    StatementHarness again;
    again.sim.files.Put(kStatementFile, "");
    again.sim.files.Put(kStatementBackup, "previous statement");
    again.Bank().drop_at = step;
    again.Receive();
    EXPECT_EQ(again.FileText(kStatementBackup), "previous statement");
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

// A statement the file did not take must not be acknowledged: the bank would not
// send it again.
TEST(ReceiveStatementTest, StatementThatCannotBeStoredIsNeverAcknowledged) {
  struct Case {
    const char* name;
    void (*fault)(StatementHarness&);
    bool dialled;
    const char* target;  // what the target holds at the end
    const char* backup;  // what the .BAK holds at the end, or nullptr for none
    const char* log_line;
  };
  const std::string cannot_prepare =
      std::string("Impossible de pr\xE9parer le fichier du relev\xE9 : ") + kStatementFile;
  for (const Case& c : {
           Case{"target cannot be created",
                [](StatementHarness& h) { h.sim.files.FailCreate(kStatementFile); }, false,
                "<none>", "previous statement", cannot_prepare.c_str()},
           Case{"previous statement cannot be set aside",
                [](StatementHarness& h) { h.sim.files.AddFolder(kStatementBackup); }, false,
                "previous statement", nullptr, cannot_prepare.c_str()},
           Case{"writes fail",
                [](StatementHarness& h) { h.sim.files.FailWrites(kStatementFile); }, true, "",
                "previous statement",
                "Relev\xE9 incomplet : erreur d'\xE9" "criture dans le fichier du relev\xE9 !"},
       }) {
    StatementHarness h;
    h.Bank().statement = Statement(3);
    c.fault(h);
    EXPECT_EQ(h.Receive(), app::kExitFailed) << c.name;
    EXPECT_EQ(h.JobKey("Retour"), "0") << c.name;
    EXPECT_EQ(h.CallsOf("lineMakeCall") > 0, c.dialled) << c.name;
    EXPECT_FALSE(h.BankSaw().ack_received) << c.name;
    EXPECT_TRUE(h.Logged(c.log_line)) << c.name;
    EXPECT_EQ(h.FileText(kStatementFile), c.target) << c.name;
    if (c.backup) {
      EXPECT_EQ(h.FileText(kStatementBackup), c.backup) << c.name;
    }
  }
}

TEST(ReceiveStatementTest, RefusedCardStoresNothing) {
  StatementHarness h;
  h.Bank().verdict = "NOK";
  h.Bank().code1 = "R001";
  EXPECT_EQ(h.Receive(), app::kExitFailed);
  EXPECT_EQ(h.JobKey("Detail1"), "R001");
  EXPECT_EQ(h.FileText(kStatementFile), "");
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
