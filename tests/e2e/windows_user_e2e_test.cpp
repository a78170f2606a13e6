// The Windows program as its users meet it, under Wine: a close sent by another
// program, what the exe says of itself, and the ZIP as it ships.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "e2e_rig.h"
#include "wine_program.h"

extern char** environ;

namespace korval::e2e {
namespace {

constexpr const char* kBank = "175010123";
constexpr int kProgramTimeoutS = 120;
const std::string kStopped = "\xC3\211change interrompu \xC3\xA0 la demande de l'utilisateur !";
const std::string kReceiving = "R\xC3\251ception du relev\xC3\xA9 en cours !";

std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::optional<int> RunShell(const TempDir& dir, const std::string& command) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  Child child;
  if (!child.Start({"/bin/sh", "-c", command}, env, false, dir / "sh.out", dir / "sh.err")) {
    return {};
  }
  return child.Wait(60'000);
}

class WindowsUserE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!wine::Enabled()) GTEST_SKIP() << "the Windows program's own cases";
    WriteFile(dir / "bank.txt", "0130004 EUR 12/11/26 VIREMENT RECU 1000,00\r");
    // Two old outcomes: the job must leave one, its own.
    WriteFile(dir / "job.ini", "[KORVAL]\r\nNumeroAbonne=" + std::string(kBank) +
                                   "\r\nRetour=1\r\nTypeAction=R\r\nFichierAssocie=" +
                                   dir / "releve.txt" + "\r\nRetour=1\r\n");
  }
  // The bank's emulator, and win.ini's path for its port.
  std::string StartBank(std::vector<std::string> options) {
    options.insert(options.end(), {"--bank-number", kBank, "--access-number", "3613",
                                   "--statement-delay-ms", "0", "--statement", dir / "bank.txt"});
    for (const std::string& o : FastPeer()) options.push_back(o);
    emu = std::make_unique<Emulator>(dir, options);
    WriteFile(dir / "win.ini", "[KORVAL]\r\nNUMTRANSPAC=3613\r\n[MODEM0]\r\nPort=" + emu->pty() +
                                   "\r\nVitesse=9600\r\nInit=ATZ\r\n");
    return dir / "win.ini";
  }
  std::vector<std::string> Retour() { return KorvalValues(ReadFile(dir / "job.ini"), "Retour"); }

  TempDir dir;
  std::unique_ptr<Emulator> emu;
};

TEST_F(WindowsUserE2e, AnotherProgramsCloseStopsAStatement) {
  const std::string win_ini = StartBank({"--silent-at", "end"});
  Child program;
  ASSERT_TRUE(StartProgram(program, dir, win_ini, dir / "job.ini"));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (wine::LogAsOnLinux(ReadFile(dir / "korvalcom.out")).find(kReceiving) ==
             std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // taskkill without /F asks the program's windows to close (WM_CLOSE).
  const auto closed = std::chrono::steady_clock::now();
  EXPECT_EQ(RunShell(dir, "exec wine taskkill /IM korvalcom.exe"), std::optional<int>(0));
  const ProgramRun run = FinishProgram(program, dir, kProgramTimeoutS);

  EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::seconds(15));
  EXPECT_EQ(run.status, std::optional<int>(1)) << run.out << run.err;
  EXPECT_LT(run.out.find(kReceiving), run.out.find(kStopped)) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Retour(), std::vector<std::string>{"0"});
  emu->Finish();
  EXPECT_NE(emu->Report().find("call ended: yes"), std::string::npos) << emu->Report();
}

TEST_F(WindowsUserE2e, TheExeSaysWhatItIs) {
  const std::string exe = ReadFile(Setting("KORVAL_E2E_WINE_EXE"));
  const auto utf16 = [](const std::string& ascii) {
    std::string wide;
    for (const char c : ascii) wide.append({c, '\0'});
    return wide;
  };
  const struct {
    const char* what;
    std::string bytes;
    bool present;
  } cases[] = {
      // Windows' own functions read no UTF-8 job file; ours read every one alike.
      {"no system function for job files", "GetPrivateProfileStringA", false},
      {"nor their writer", "WritePrivateProfileStringA", false},
      {"a manifest: as the caller", "level=\"asInvoker\"", true},
      {"a manifest: DPI-aware", "<dpiAware", true},
      {"a manifest: Windows 10", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", true},
      {"a version: the product's name", utf16("ProductName"), true},
      {"a version: the file's", utf16("FileVersion"), true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(exe.find(c.bytes) != std::string::npos, c.present) << c.what;
}

// The ZIP as a user gets it: unpacked into a folder of its own, it runs a statement.
TEST_F(WindowsUserE2e, TheZipRunsAStatement) {
  const std::string zip = Setting("KORVAL_E2E_WINE_ZIP");
  if (zip.empty()) GTEST_SKIP() << "KORVAL_E2E_WINE_ZIP names no ZIP";
  ASSERT_EQ(RunShell(dir, "exec unzip -q '" + zip + "' -d '" + dir / "zip'"),
            std::optional<int>(0));
  const std::string folder = std::filesystem::directory_iterator(dir / "zip")->path().string();
  for (const std::string name : {"README.txt", "LICENSE.txt", "examples/win.ini",
                                 "examples/releve.ini", "examples/lcr.ini"}) {
    const std::string text = ReadFile(folder + "/" + name);
    EXPECT_FALSE(text.empty()) << name;
    EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1) << name << ": CR LF ends";
  }
  // The stand-in telephony beside the unpacked program, as in the build folder.
  const std::string built = Setting("KORVAL_E2E_WINE_EXE");
  std::filesystem::copy_file(built.substr(0, built.rfind('/')) + "/tapi32.dll",
                             folder + "/tapi32.dll");
  ::setenv("KORVAL_E2E_WINE_EXE", (folder + "/korvalcom.exe").c_str(), 1);
  const ProgramRun run = RunProgram(dir, StartBank({}), dir / "job.ini", kProgramTimeoutS);
  ::setenv("KORVAL_E2E_WINE_EXE", built.c_str(), 1);
  EXPECT_EQ(run.status, std::optional<int>(0)) << run.out << run.err;
  EXPECT_EQ(Retour(), std::vector<std::string>{"1"});
}

}  // namespace
}  // namespace korval::e2e
