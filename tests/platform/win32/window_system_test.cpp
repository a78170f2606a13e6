#include "platform/win32/win32_window_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/comm_dialog.h"
#include "app/resources.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_resource_ids.h"
#include "platform/win32/win32_test_support.h"
#include "process/process.h"

namespace korval::platform::win32 {
namespace {

using test_support::BoxWatcher;
using test_support::ResourceModule;

InstanceHandle Module() { return reinterpret_cast<InstanceHandle>(ResourceModule()); }

// Turns the queue the way the exchange's waits do, until done or bound_ms have passed;
// the number of turns taken.
int PumpUntil(WindowSystem& windows, const std::function<bool()>& done, DWORD bound_ms) {
  const DWORD start = GetTickCount();
  int turns = 0;
  while (!done() && GetTickCount() - start < bound_ms) {
    windows.PumpMessage();
    ++turns;
  }
  return turns;
}

std::vector<std::string> ListLines(HWND dialog) {
  std::vector<std::string> lines;
  HWND list = GetDlgItem(dialog, IDC_KORVAL_LIST);
  const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::string line(static_cast<std::size_t>(SendMessageA(list, LB_GETTEXTLEN, i, 0)), '\0');
    SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
    lines.push_back(line);
  }
  return lines;
}

// The system menu's last two items, as "-" for a separator or "<id>:<text>".
std::vector<std::string> SystemMenuTail(HWND window) {
  HMENU menu = GetSystemMenu(window, FALSE);
  std::vector<std::string> tail;
  for (int i = GetMenuItemCount(menu) - 2; i >= 0 && i < GetMenuItemCount(menu); ++i) {
    char text[64] = {};
    MENUITEMINFOA item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    item.dwTypeData = text;
    item.cch = sizeof(text);
    GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &item);
    tail.push_back((item.fType & MFT_SEPARATOR) ? "-" : std::to_string(item.wID) + ":" + text);
  }
  return tail;
}

HWND FindDialog(const char* caption) { return FindWindowA(KORVAL_DIALOG_CLASS, caption); }

// One of the program's dialogs other than the one given.
HWND OtherDialog(HWND known) {
  HWND found = nullptr;
  do {
    found = FindWindowExA(nullptr, found, KORVAL_DIALOG_CLASS, nullptr);
  } while (found != nullptr && found == known);
  return found;
}

constexpr const char* kNoResources =
    "the dialog resources are neither in the test nor in korvalcom.exe beside it";

// The main window of the program with a process around it; the job timer finds the
// line ready and no job file, so the window waits to be closed.
struct MainWindowRig {
  MainWindowRig() {
    process.display_name = "Compta";
    process.line.telephony_ready = true;
  }
  ~MainWindowRig() { EXPECT_FALSE(watchdog.Fired()); }
  Win32Platform os{Module()};
  Process process{os.platform, "korvalcom"};
  app::CommDialog dialog{process};
  test_support::DialogWatchdog watchdog{KORVAL_DIALOG_CLASS};
};

const std::vector<std::string> kJobLogPieces = {
    "Syst\xE8me = ",
    "Windows NT",
    ": (2",
    ")\n",
    "Demande de relev\xE9 !\n",
    "NUI : ",
    "\n",
    "Donn\351es compl\xE9mentaires :",
    "D0123456789ABCDEFGHIJ0123456789ABCDEFGHIJ0123456789XYZ",
    "\n",
    "Connexion avec site destinataire r\xE9ussie. \n",
    "Envoi carte param\xE8tre !\n",
    "Carte param\xE8tre valide !\n"};
const std::vector<std::string> kJobLogLines = {
    "Syst\xE8me = Windows NT: (2)",
    "Demande de relev\xE9 !",
    "NUI : ",
    "Donn\351es compl\xE9mentaires :D0123456789ABCDEFGHIJ0123456789ABCDEFGHIJ0123456789XYZ",
    "Connexion avec site destinataire r\xE9ussie. ",
    "Envoi carte param\xE8tre !",
    "Carte param\xE8tre valide !",
    ""};

TEST(Win32MainWindowTest, ResourceDialogShowsCaptionMenuIconsAndTheJobLog) {
  ASSERT_NE(ResourceModule(), nullptr) << kNoResources;
  MainWindowRig rig;
  HWND main = nullptr;
  rig.os.windows.Post([&] {
    main = FindDialog(nullptr);
    // Well past the job timer: with no job file the window stays, its log empty.
    const DWORD start = GetTickCount();
    PumpUntil(
        rig.os.windows, [&] { return GetTickCount() - start >= 300; }, 1000);
    char caption[128] = {};
    GetWindowTextA(main, caption, sizeof(caption));
    EXPECT_STREQ(caption, "VARDEX - Communication [Compta]");
    EXPECT_TRUE(ListLines(main).empty());
    EXPECT_EQ(SystemMenuTail(main), (std::vector<std::string>{"-", "16:&A propos de Korval..."}));
    const LRESULT big = SendMessageA(main, WM_GETICON, ICON_BIG, 0);
    EXPECT_NE(big, 0);
    EXPECT_NE(SendMessageA(main, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(SendMessageA(main, WM_QUERYDRAGICON, 0, 0), big);

    for (const std::string& piece : kJobLogPieces) rig.dialog.AppendLog(piece);
    EXPECT_EQ(ListLines(main), kJobLogLines);
    RECT list;
    GetClientRect(GetDlgItem(main, IDC_KORVAL_LIST), &list);
    EXPECT_GT(SendDlgItemMessageA(main, IDC_KORVAL_LIST, LB_GETHORIZONTALEXTENT, 0, 0), list.right);
    EXPECT_TRUE(test_support::CaptureWindow(main, test_support::BesideTest("main_window.bmp")));
    PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  EXPECT_EQ(rig.dialog.DoModal(), 1);
  EXPECT_NE(main, nullptr);
  EXPECT_FALSE(IsWindow(main));
  EXPECT_FALSE(rig.process.line.telephony_ready);  // the close shut the line down

  char item[64] = {};
  LoadStringA(ResourceModule(), IDS_KORVAL_ABOUT_ITEM, item, sizeof(item));
  EXPECT_STREQ(item, app::kAboutItemText);
}

TEST(Win32MainWindowTest, SystemMenuItemOpensTheAboutBox) {
  ASSERT_NE(ResourceModule(), nullptr) << kNoResources;
  // Standard output redirected: the log goes there, the about box's lines do not.
  const std::string echo_file = test_support::BesideTest("about_echo.txt");
  const HANDLE echo = CreateFileA(echo_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
  const HANDLE old_out = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, echo);
  MainWindowRig rig;
  SetStdHandle(STD_OUTPUT_HANDLE, old_out);
  std::vector<std::string> about_lines;
  bool about_hidden = false;
  bool about_closed = false;
  rig.os.windows.Post([&] {
    HWND main = FindDialog(nullptr);
    rig.dialog.AppendLog("Demande de relev\xE9 !\n");
    PostMessageA(main, WM_SYSCOMMAND, app::kAboutCommandId, 0);
    // Runs inside the about box's own modal loop.
    rig.os.windows.Post([&, main] {
      HWND about = OtherDialog(main);
      char caption[64] = {};
      GetWindowTextA(about, caption, sizeof(caption));
      EXPECT_EQ(caption, app::kAboutDialog.caption);
      about_lines = ListLines(about);
      test_support::CaptureWindow(about, test_support::BesideTest("about_box.bmp"));
      SendMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
      about_hidden = !IsWindowVisible(about);
      // Ends the box even if its button failed, so that the test cannot hang.
      PostMessageA(about, WM_SYSCOMMAND, SC_CLOSE, 0);
      rig.os.windows.Post([&, main, about] {
        about_closed = !IsWindow(about);
        PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
      });
    });
  });
  EXPECT_EQ(rig.dialog.DoModal(), 1);
  EXPECT_EQ(about_lines,
            std::vector<std::string>(std::begin(app::kAboutLines), std::end(app::kAboutLines)));
  EXPECT_TRUE(about_hidden);  // its OK button ended it
  EXPECT_TRUE(about_closed);
  CloseHandle(echo);
  std::ifstream echoed(echo_file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(echoed), {}), "Demande de relev\xE9 !\r\n");
}

// Records what a dialog is told, and ends it as a case says.
class RecordingEvents final : public DialogEvents {
 public:
  RecordingEvents(WindowSystem& windows, bool accept) : windows_(windows), accept_(accept) {}
  bool OnCreate(WindowHandle window) override {
    window_ = window;
    seen.push_back("create");
    return accept_ && windows_.SetTimer(window, 7, 10) && windows_.SetTimer(window, 8, 20);
  }
  void OnInitDialog() override { seen.push_back("init"); }
  void OnTimer(std::uint32_t id) override {
    seen.push_back("timer " + std::to_string(id));
    if (id == 7) windows_.KillTimer(window_, 7);
    if (id == 8 && ++ticks_of_8 == 3) windows_.KillTimer(window_, 8);
  }
  void OnSysCommand(std::uint32_t id) override {
    seen.push_back("sys " + std::to_string(id));
    windows_.EndDialog(window_, static_cast<int>(id));
  }
  void OnDialogKey(DialogKey key) override {
    seen.push_back(key == DialogKey::kEnter ? "enter" : "escape");
    windows_.EndDialog(window_, key == DialogKey::kEnter ? 21 : 22);
  }
  HWND Window() const { return reinterpret_cast<HWND>(window_); }
  std::vector<std::string> seen;
  int ticks_of_8 = 0;

 private:
  WindowSystem& windows_;
  bool accept_;
  WindowHandle window_ = kNoWindow;
};

struct EventCase {
  const char* name;
  bool accept_create;
  UINT message;  // posted to the dialog once both timers are done
  WPARAM wparam;
  int result;
  const char* last_seen;
};

TEST(Win32WindowSystemTest, DialogEventsReachTheHandlers) {
  const EventCase cases[] = {
      {"refused creation", false, 0, 0, -1, "create"},
      {"Esc", true, WM_KEYDOWN, VK_ESCAPE, 22, "escape"},
      {"Enter", true, WM_KEYDOWN, VK_RETURN, 21, "enter"},
      {"close", true, WM_SYSCOMMAND, SC_CLOSE, SC_CLOSE, "sys 61536"},
      {"WM_CLOSE from another program", true, WM_CLOSE, 0, SC_CLOSE, "sys 61536"},
      {"the session ends", true, WM_ENDSESSION, TRUE, SC_CLOSE, "sys 61536"},
      {"own item", true, WM_SYSCOMMAND, 0x0010, 0x0010, "sys 16"},
  };
  ASSERT_NE(ResourceModule(), nullptr) << kNoResources;
  Win32Clock clock;
  Win32WindowSystem windows(clock, Module());
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::DialogWatchdog watchdog(KORVAL_DIALOG_CLASS);
    RecordingEvents events(windows, c.accept_create);
    if (c.accept_create) {
      windows.Post([&] {
        PumpUntil(
            windows, [&] { return events.ticks_of_8 >= 3; }, 5000);
        PostMessageA(events.Window(), c.message, c.wparam, 0);
      });
    }
    EXPECT_EQ(windows.RunModal(app::kMainDialog, events), c.result);
    ASSERT_FALSE(events.seen.empty());
    EXPECT_EQ(events.seen.back(), c.last_seen);
    EXPECT_FALSE(watchdog.Fired());
    if (!c.accept_create) {
      EXPECT_EQ(events.seen.size(), 1u);  // never initialised
      continue;
    }
    EXPECT_EQ(events.seen[1], "init");
    EXPECT_EQ(std::count(events.seen.begin(), events.seen.end(), "timer 7"), 1);
    EXPECT_EQ(std::count(events.seen.begin(), events.seen.end(), "timer 8"), 3);
  }
}

TEST(Win32WindowSystemTest, PumpWaitsWithoutSpinningAndWakesForOtherThreads) {
  Win32Clock clock;
  Win32WindowSystem windows(clock, Module());
  const DWORD idle_start = GetTickCount();
  const int idle_turns = PumpUntil(
      windows, [&] { return GetTickCount() - idle_start >= 500; }, 500);
  EXPECT_LE(idle_turns, 40);  // an idle turn waits; a spinning one would count thousands

  DWORD ran_on = 0;
  std::thread poster([&] {
    Sleep(50);
    windows.Post([&] { ran_on = GetCurrentThreadId(); });
  });
  const int post_turns = PumpUntil(
      windows, [&] { return ran_on != 0; }, 5000);
  poster.join();
  EXPECT_EQ(ran_on, GetCurrentThreadId());
  EXPECT_LE(post_turns, 10);

  std::thread waker([&] {
    Sleep(50);
    windows.Wake();
  });
  const DWORD wait_start = GetTickCount();
  windows.PumpMessageWithin(20000);
  EXPECT_LT(GetTickCount() - wait_start, 10000u);
  waker.join();

  const DWORD zero_start = GetTickCount();
  for (int i = 0; i < 200; ++i) windows.PumpMessageWithin(0);
  EXPECT_LT(GetTickCount() - zero_start, 5000u);  // 200 blocking turns would take 10 s
}

struct BoxCase {
  const char* title;
  const char* text;
  std::uint32_t style;
  int answer;
  const char* record;  // the watcher's line; nullptr: closed by a posted task first
};

TEST(Win32WindowSystemTest, MessageBoxesAreAnsweredByTheWatcher) {
  BoxWatcher& watcher = BoxWatcher::Get();
  if (!watcher.Running()) GTEST_SKIP() << "box_watcher.exe is not beside the test";
  const BoxCase cases[] = {
      {"Erreur", "Initialisation de TAPI impossible !", kMbOk | kMbIconExclamation, kIdOk,
       "Erreur\tInitialisation de TAPI impossible !\t1:OK\t1"},
      {"Reprise", "Ligne occup\351e\nR\351essayer ?", kMbRetryCancel | kMbIconQuestion, kIdRetry,
       "Reprise\tLigne occup\351e\\nR\351essayer ?\t4:"},
      {"", "Acc\xE8s refus\xE9.", kMbOk, kIdOk, "\tAcc\xE8s refus\xE9.\t1:OK\t1"},
      // A task posted before the box runs inside the box's own loop and closes it.
      {"Poste", "Attente", kMbOkCancel, kIdCancel, nullptr},
  };
  Win32Clock clock;
  Win32WindowSystem windows(clock, Module());
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.title);
    const std::size_t before = test_support::LinesOf(watcher.RecordFile()).size();
    if (c.record == nullptr) {
      windows.Post([&] { PostMessageA(FindWindowA("#32770", c.title), WM_COMMAND, IDCANCEL, 0); });
    }
    EXPECT_EQ(windows.MessageBox(kNoWindow, c.text, c.title, c.style), c.answer);
    if (c.record == nullptr) continue;
    std::vector<std::string> lines;
    PumpUntil(
        windows,
        [&] {
          lines = test_support::LinesOf(watcher.RecordFile());
          return lines.size() > before;
        },
        5000);
    ASSERT_GT(lines.size(), before);
    EXPECT_EQ(lines[before].rfind(c.record, 0), 0u) << lines[before];
  }
}

}  // namespace
}  // namespace korval::platform::win32
