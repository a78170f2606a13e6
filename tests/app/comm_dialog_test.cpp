#include "app/comm_dialog.h"

#include <gtest/gtest.h>

#include "app/resources.h"
#include "harness/job_harness.h"

namespace korval::app {
namespace {

using platform::DialogKey;
using testing::JobHarness;

// Logs the pieces from inside the running window, then closes it.
std::vector<std::string> LogAfter(const std::vector<std::string>& pieces) {
  JobHarness h;
  CommDialog dialog(h.process);
  h.sim.world.At(50, [&] {
    for (const std::string& piece : pieces) dialog.AppendLog(piece);
  });
  h.sim.windows.CloseAt(60);
  dialog.DoModal();
  return h.sim.windows.LogLines();
}

struct SplitCase {
  std::vector<std::string> pieces;
  std::vector<std::string> lines;
};

class AppendLogTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(AppendLogTest, SplitsAtLineFeeds) {
  EXPECT_EQ(LogAfter(GetParam().pieces), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Splitting, AppendLogTest,
    ::testing::Values(SplitCase{{"Syst\xE8me = ", "Windows NT", ": (2", ")\n"},
                                {"Syst\xE8me = Windows NT: (2)", ""}},
                      SplitCase{{"un\ndeux"}, {"un", "deux"}},
                      SplitCase{{"ligne\n", "\n"}, {"ligne", "", ""}},
                      SplitCase{{"NUI : ", "\n"}, {"NUI : ", ""}},
                      SplitCase{{"sans fin"}, {"sans fin"}}, SplitCase{{"a", "b", "c"}, {"abc"}},
                      SplitCase{{"x\r\n"}, {"x\r", ""}},
                      // A leading line feed closes the line and what follows is kept.
                      SplitCase{{"a", "\nb"}, {"a", "b"}}, SplitCase{{"\n\nz"}, {"", "", "z"}},
                      SplitCase{{""}, {}}));

TEST(CommDialogTest, CaptionTakesDisplayName) {
  for (const auto& [name, caption] : std::vector<std::pair<std::string, std::string>>{
           {"Compta", "VARDEX - Communication [Compta]"}, {"", "VARDEX - Communication"}}) {
    JobHarness h;
    h.process.display_name = name;
    h.sim.windows.CloseAt(10);
    CommDialog(h.process).DoModal();
    const auto* window = h.sim.windows.Window(h.sim.windows.LastWindowOf(kMainDialog.id));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->caption, caption);
    EXPECT_EQ(window->system_menu, (std::vector<std::string>{"-", "16:&A propos de Korval..."}));
    EXPECT_TRUE(window->icons_set);
  }
}

TEST(CommDialogTest, AboutItemOpensAboutBox) {
  JobHarness h;
  h.sim.windows.SysCommandAt(20, kAboutCommandId);
  h.sim.windows.KeyAt(30, DialogKey::kEnter, kAboutDialog.id);
  h.sim.windows.CloseAt(40);
  CommDialog(h.process).DoModal();
  const auto about = h.sim.windows.LastWindowOf(kAboutDialog.id);
  ASSERT_NE(about, platform::kNoWindow);
  EXPECT_TRUE(h.sim.windows.Window(about)->ended);
  EXPECT_EQ(h.sim.windows.Window(about)->result, platform::kIdOk);
}

TEST(CommDialogTest, EmptyJobPathWaitsForCloseAndTouchesNothing) {
  JobHarness h;
  h.JobFile(testing::KorvalSection({"TypeAction=L", "Retour=1"}));
  const std::string before = h.JobText();
  h.sim.windows.CloseAt(10'000);
  EXPECT_EQ(h.Run("/b:C:\\JOBS\\J1.INI"), kExitNoExchange);
  EXPECT_GE(h.sim.world.Now(), 10'000u);
  EXPECT_TRUE(h.Log().empty());
  EXPECT_EQ(h.JobText(), before);
  EXPECT_FALSE(h.sim.windows.ModalAbandoned());
}

TEST(CommDialogTest, EnterOrEscapeBeforeTheJobEndsWithoutResult) {
  for (DialogKey key : {DialogKey::kEnter, DialogKey::kEscape}) {
    JobHarness h;
    h.JobFile(testing::KorvalSection({"TypeAction=L", "Retour=1"}));
    h.sim.windows.KeyAt(50, key);
    EXPECT_EQ(h.Run(), kExitNoExchange);
    EXPECT_EQ(h.JobKey("Retour"), "1");
    EXPECT_TRUE(h.Log().empty());
  }
}

TEST(CommDialogTest, JobRunsOnceAfterTheTimerAndTheWindowCloses) {
  JobHarness h;
  h.JobFile(testing::KorvalSection({"TypeAction=L"}));
  EXPECT_EQ(h.Run(), kExitFailed);
  EXPECT_EQ(h.sim.world.Now(), 100u);
  const auto* window = h.sim.windows.Window(h.sim.windows.LastWindowOf(kMainDialog.id));
  EXPECT_TRUE(window->ended);
  EXPECT_EQ(window->result, 1);
}

}  // namespace
}  // namespace korval::app
