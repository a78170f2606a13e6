#include "wine_program.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "e2e_rig.h"
#include "platform/text_encoding.h"

extern char** environ;

namespace korval::e2e::wine {
namespace {

// COM1 and COM2 of the prefix are the Windows tests' own null-modem pair.
constexpr int kFirstPort = 3;
constexpr int kPortCount = 4;

std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Loader() {
  const std::string path = Setting("PATH");
  for (std::size_t from = 0; from <= path.size();) {
    const std::size_t end = std::min(path.find(':', from), path.size());
    const std::string candidate = path.substr(from, end - from) + "/wine";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    from = end + 1;
  }
  return "/usr/bin/wine";
}

std::string WindowsPath(const std::string& path) {
  // Wine shows the Linux root as drive Z:.
  std::string windows = "Z:" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::size_t run_mark = 0;  // the record's size when the run began

std::string BoxRecord() { return Setting("KORVAL_E2E_WINE_PORTS") + "/boxes.txt"; }

// One watcher serves every run of this test process: the runs never overlap.
void StartWatcherOnce() {
  static std::unique_ptr<Child> watcher;
  if (watcher) return;
  watcher = std::make_unique<Child>();
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  // Retry/Cancel boxes get Cancel and the others OK, as the console answers
  // them.
  const std::string folder = Setting("KORVAL_E2E_WINE_PORTS");
  EXPECT_TRUE(watcher->Start({Loader(), Setting("KORVAL_E2E_BOX_WATCHER"), BoxRecord(), "--default",
                              "2", "--timeout", "86400"},
                             env, false, folder + "/watcher.out", folder + "/watcher.err"));
}

std::string Unescaped(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      plain += text[i];
      continue;
    }
    const char next = text[++i];
    plain += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next;
  }
  return plain;
}

bool Link(const std::string& target, const std::string& link) {
  const std::string temporary = link + ".new";
  std::filesystem::remove(temporary);
  return ::symlink(target.c_str(), temporary.c_str()) == 0 &&
         std::rename(temporary.c_str(), link.c_str()) == 0;
}

}  // namespace

bool Enabled() { return !Setting("KORVAL_E2E_WINE_EXE").empty(); }

std::vector<std::string> ProgramArgs(const std::string& job) {
  return {Loader(), Setting("KORVAL_E2E_WINE_EXE"), "/B:" + WindowsPath(job), "/N:E2E"};
}

bool InstallWinIni(const std::string& win_ini) {
  std::string text;
  int next_port = kFirstPort;
  bool in_modem = false;
  for (const std::string& line : Lines(ReadFile(win_ini))) {
    if (!line.empty() && line[0] == '[') in_modem = line.rfind("[MODEM", 0) == 0;
    if (!in_modem || line.rfind("Port=", 0) != 0) {
      text += line;
      continue;
    }
    std::string device = line.substr(5);
    while (!device.empty() && (device.back() == '\n' || device.back() == '\r')) device.pop_back();
    if (next_port == kFirstPort + kPortCount) {
      ADD_FAILURE() << "more modems than the prefix has ports";
      return false;
    }
    const std::string port = "com" + std::to_string(next_port);
    if (!Link(device, Setting("KORVAL_E2E_WINE_PORTS") + "/" + port)) {
      ADD_FAILURE() << "cannot link " << port << " to " << device;
      return false;
    }
    text += "Port=COM" + std::to_string(next_port++) + "\r\n";
  }
  WriteFile(Setting("WINEPREFIX") + "/drive_c/windows/win.ini", text);
  return !::testing::Test::HasFatalFailure();
}

void BeginRun() {
  StartWatcherOnce();
  run_mark = ReadFile(BoxRecord()).size();
}

std::string BoxesOfRun() {
  const std::string record = ReadFile(BoxRecord());
  const std::size_t mark = run_mark;
  std::string boxes;
  for (const std::string& line : Lines(record.size() > mark ? record.substr(mark) : "")) {
    // title TAB text TAB buttons TAB pressed
    const std::size_t tab = line.find('\t');
    const std::size_t tab2 = line.find('\t', tab + 1);
    if (tab == std::string::npos || tab2 == std::string::npos) continue;
    boxes += "[" + platform::Cp1252ToUtf8(Unescaped(line.substr(0, tab))) + "] " +
             platform::Cp1252ToUtf8(Unescaped(line.substr(tab + 1, tab2 - tab - 1))) + "\n";
  }
  return boxes;
}

std::string ScreenshotPath() { return Enabled() ? Setting("KORVAL_E2E_SCREENSHOT") : ""; }

bool SaveScreen(const std::string& png) {
  constexpr int kImportTimeoutMs = 30000;
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  Child import;
  const bool started = import.Start({"/usr/bin/import", "-window", "root", png}, env, false,
                                    png + ".out", png + ".err");
  const std::optional<int> status = started ? import.Wait(kImportTimeoutMs) : std::nullopt;
  EXPECT_EQ(status, std::optional<int>(0)) << ReadFile(png + ".err");
  return status == 0 && std::filesystem::file_size(png) > 0;
}

std::string LogAsOnLinux(const std::string& log) {
  std::string lines;
  for (std::string line : Lines(log)) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
      line.erase(line.size() - 2, 1);
    }
    lines += line;
  }
  return platform::Cp1252ToUtf8(lines);
}

}  // namespace korval::e2e::wine
