#include "platform/posix/posix_setup_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>

#include "platform/hayes/hayes_text.h"
#include "platform/posix/modem_device.h"
#include "platform/posix/modem_telephony.h"
#include "platform/posix/modem_termios.h"
#include "platform/posix/posix_paths.h"
#include "platform/posix/posix_profile_store.h"

namespace korval::platform::posix {
namespace {

// What the modem says to a command before its result code, on one line, or nothing
// when no OK came within wait_ms.
std::optional<std::string> AskModem(ModemDevice& device, const std::string& command,
                                    std::uint32_t wait_ms) {
  // How long the port may take no byte of the command before the write fails.
  constexpr int kWriteStallMs = 2000;
  const std::string text = command + "\r";
  std::size_t written = 0;
  int error = 0;
  if (!device.WriteAll(text.data(), text.size(), &written, kWriteStallMs, -1, &error)) {
    return std::nullopt;
  }
  hayes::ReplyScanner scanner;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  std::string said;
  char buffer[256];
  for (;;) {
    while (std::optional<std::string> line = scanner.NextLine()) {
      const hayes::ModemReply reply = hayes::ClassifyReply(*line);
      if (reply == hayes::ModemReply::kOk) return said;
      if (reply != hayes::ModemReply::kNone) return std::nullopt;
      if (*line != command) said += (said.empty() ? "" : " / ") + *line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return std::nullopt;
    const ssize_t got = device.ReadSome(buffer, sizeof buffer, static_cast<int>(left), -1, &error);
    if (got < 0) return std::nullopt;
    scanner.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
  }
}

ModemProbe ProbeModem(const ModemLineConfig& config) {
  ModemProbe probe;
  probe.name = config.section + " (" + config.port + ")";
  PortOpenResult result;
  std::shared_ptr<ModemDevice> device =
      ModemDevice::Open(config.port, DefaultLockFolders(), &result);
  if (!device) {
    std::int32_t code = 0;
    probe.problem = ModemTelephony::OpenFailureText(config, result, &code);
    // The check's line names the modem already.
    const std::string named = "Le modem " + probe.name + " ";
    if (probe.problem.rfind(named, 0) == 0) probe.problem.erase(0, named.size());
    return probe;
  }
  struct termios settings {};
  if (device->GetSettings(&settings)) {
    MakeModemSettings(settings, SpeedFromBps(config.bps).value_or(B9600));
    device->SetSettings(settings);
  }
  const std::optional<std::string> at = AskModem(*device, "AT", PosixSetupProbe::kAnswerWaitMs);
  probe.answered = at.has_value();
  if (probe.answered) {
    probe.identity = AskModem(*device, "ATI", PosixSetupProbe::kAnswerWaitMs).value_or("");
  }
  device->Release();
  return probe;
}

}  // namespace

std::string PosixSetupProbe::SystemProfileFound(std::string* missing) {
  *missing = PosixProfileStore::MissingSystemProfile();
  return missing->empty() ? PosixProfileStore::SystemProfilePath() : std::string();
}

std::vector<ModemProbe> PosixSetupProbe::ProbeModems() {
  std::vector<ModemProbe> probes;
  for (const ModemLineConfig& config : ReadModemLines(profiles_, diagnostics_)) {
    probes.push_back(ProbeModem(config));
  }
  return probes;
}

FolderProbe PosixSetupProbe::ProbeFolder(const std::string& folder) {
  FolderProbe probe;
  const std::string path = FileSystemPath(folder);
  struct stat info {};
  probe.exists = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  if (!probe.exists) return probe;
  // Created and removed at once: the only sure test of the right to write there.
  std::string name = path + "/.korval-essai.XXXXXX";
  const int fd = ::mkstemp(name.data());
  probe.writable = fd >= 0;
  if (fd >= 0) {
    ::close(fd);
    ::unlink(name.c_str());
  }
  struct statvfs space {};
  if (::statvfs(path.c_str(), &space) == 0) {
    probe.free_bytes = static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
  }
  return probe;
}

}  // namespace korval::platform::posix
