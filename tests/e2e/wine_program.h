#pragma once
// The same cases against korvalcom.exe under Wine. The wine suites of the test
// script set:
//   KORVAL_E2E_WINE_EXE    korvalcom.exe, with the test-double tapi32.dll
//   beside it KORVAL_E2E_BOX_WATCHER box_watcher.exe, which answers and records
//   message boxes KORVAL_E2E_WINE_PORTS  a folder whose links com3, com4...
//   COM3, COM4... of the
//                          prefix are mapped to (HKLM\Software\Wine\Ports)
// with WINEPREFIX, DISPLAY and WINEDLLOVERRIDES="tapi32=n,b" for the prefix.

#include <string>
#include <vector>

namespace korval::e2e::wine {

bool Enabled();

// The program's command line: "wine korvalcom.exe /B:<job as a Windows path>
// /N:E2E".
std::vector<std::string> ProgramArgs(const std::string& job);

// Puts the case's win.ini where the Windows program reads it, each [MODEMn]
// port replaced by a COM port linked to that device; false (with the test
// failed) if it cannot.
bool InstallWinIni(const std::string& win_ini);

// Called before a run starts; then the boxes the run showed, in the Linux
// program's form: "[title] text\n" in UTF-8. Runs under Wine never overlap.
void BeginRun();
std::string BoxesOfRun();

// Where the suite wants the main window's picture; empty when it wants none.
std::string ScreenshotPath();
// Saves the display as a PNG; false (with the test failed) if it cannot.
bool SaveScreen(const std::string& png);

// The Windows program's log (Windows-1252, CR LF) in the Linux program's form.
std::string LogAsOnLinux(const std::string& log);

}  // namespace korval::e2e::wine
