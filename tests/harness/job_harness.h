#pragma once
// A whole process on the simulated platform, with a job file and a win.ini.

#include <string>
#include <vector>

#include "app/comm_app.h"
#include "platform/sim/sim_platform.h"
#include "process/process.h"

namespace korval::testing {

inline constexpr const char* kJobPath = "C:\\JOBS\\J1.INI";

struct JobHarness {
  platform::sim::SimPlatform sim;
  Process process{sim.platform, "korvalcom"};

  void WinIni(std::string text) { sim.files.Put(platform::sim::kSimWinIni, std::move(text)); }
  void JobFile(std::string text) { sim.files.Put(kJobPath, std::move(text)); }

  int Run(const std::string& arguments = std::string("/B:") + kJobPath) {
    return app::RunCommApp(process, arguments);
  }

  std::string JobText() const { return sim.files.Get(kJobPath).value_or("<missing>"); }
  std::string JobKey(const std::string& key) {
    return sim.profiles.ReadPrivate(kJobPath, "KORVAL", key, 256);
  }
  bool HasJobKey(const std::string& key) {
    const std::string text = JobText();
    return text.find("\n" + key + "=") != std::string::npos;
  }
  std::vector<std::string> Log() const { return sim.windows.LogLines(); }
};

// "[KORVAL]" with the given lines, CRLF-ended as the calling application writes them.
inline std::string KorvalSection(const std::vector<std::string>& lines) {
  std::string text = "[KORVAL]\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace korval::testing
