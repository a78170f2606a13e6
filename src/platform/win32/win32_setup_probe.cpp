#include "platform/win32/win32_setup_probe.h"

// windows.h first: the other Windows headers need its types.
#include <windows.h>

#include <tapi.h>

#include <cstdio>
#include <vector>

#include "platform/win32/win32_paths.h"

namespace korval::platform::win32 {
namespace {

constexpr DWORD kApiVersion = 0x00010004;
constexpr DWORD kCapsSizeMax = 1 << 16;

void CALLBACK IgnoreLineEvent(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

// The device's capabilities, grown to the size the provider asks for; empty on failure.
std::vector<char> DevCaps(HLINEAPP app, DWORD device, DWORD version) {
  std::vector<char> buffer(sizeof(LINEDEVCAPS) + 512, '\0');
  for (int round = 0; round < 4; ++round) {
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    caps->dwTotalSize = static_cast<DWORD>(buffer.size());
    if (lineGetDevCapsA(app, device, version, 0, caps) != 0) return {};
    if (caps->dwNeededSize <= caps->dwTotalSize) return buffer;
    if (caps->dwNeededSize > kCapsSizeMax) return {};
    buffer.assign(caps->dwNeededSize, '\0');
  }
  return {};
}

ModemProbe ProbeDevice(HLINEAPP app, DWORD device) {
  ModemProbe probe;
  probe.name = "ligne " + std::to_string(device);
  probe.asked = false;
  DWORD version = 0;
  LINEEXTENSIONID extension{};
  if (lineNegotiateAPIVersion(app, device, kApiVersion, kApiVersion, &version, &extension) != 0) {
    probe.problem = "refuse la version 1.4 de la t\xE9l\xE9phonie";
    return probe;
  }
  const std::vector<char> buffer = DevCaps(app, device, version);
  if (buffer.empty()) {
    probe.problem = "ses caract\xE9ristiques ne peuvent pas \xEAtre lues";
    return probe;
  }
  const auto* caps = reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
  if (caps->dwLineNameSize > 0 &&
      caps->dwLineNameOffset + caps->dwLineNameSize <= caps->dwTotalSize) {
    std::string name(buffer.data() + caps->dwLineNameOffset, caps->dwLineNameSize);
    name.erase(name.find_last_not_of('\0') + 1);
    probe.name += " (" + name + ")";
  }
  probe.data_modem = (caps->dwMediaModes & LINEMEDIAMODE_DATAMODEM) != 0;
  if (!probe.data_modem) return probe;
  // Opened as a job opens it, without taking any call: the provider takes its port.
  HLINE line = 0;
  const LONG opened =
      lineOpen(app, device, &line, version, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr);
  // The headers' error codes are unsigned; the call's result is their bit pattern.
  const DWORD failure = static_cast<DWORD>(opened);
  if (opened == 0) {
    lineClose(line);
  } else if (failure == LINEERR_NODEVICE) {
    probe.problem = "est introuvable : le port n'existe pas.";
  } else if (failure == LINEERR_RESOURCEUNAVAIL || failure == LINEERR_ALLOCATED) {
    probe.problem = "est d\xE9j\xE0 utilis\xE9 par un autre programme.";
  } else {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(opened));
    probe.problem = std::string("ne s'ouvre pas (erreur ") + code +
                    ") ; v\xE9rifiez que le modem est branch\xE9 et son port pr\xE9sent.";
  }
  return probe;
}

}  // namespace

std::string Win32SetupProbe::SystemProfileFound(std::string* missing) {
  char folder[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
  const std::string path = std::string(folder, length > MAX_PATH ? 0 : length) + "\\win.ini";
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
  *missing = "win.ini introuvable (cherch\xE9 : " + path + ").";
  return {};
}

std::vector<ModemProbe> Win32SetupProbe::ProbeModems() {
  std::vector<ModemProbe> probes;
  HLINEAPP app = 0;
  DWORD count = 0;
  if (lineInitialize(&app, reinterpret_cast<HINSTANCE>(instance_), IgnoreLineEvent, "korvalcom",
                     &count) != 0) {
    ModemProbe probe;
    probe.name = "t\xE9l\xE9phonie";
    probe.problem =
        "ne d\xE9marre pas ; v\xE9rifiez qu'un modem est install\xE9 (Panneau de "
        "configuration, Modems)";
    probes.push_back(probe);
    return probes;
  }
  for (DWORD device = 0; device < count; ++device) probes.push_back(ProbeDevice(app, device));
  lineShutdown(app);
  return probes;
}

FolderProbe Win32SetupProbe::ProbeFolder(const std::string& folder) {
  FolderProbe probe;
  const std::string path = TrimTrailingBlanks(folder);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  probe.exists =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!probe.exists) return probe;
  char name[MAX_PATH + 1] = {};
  if (GetTempFileNameA(path.c_str(), "kvl", 0, name) != 0) {
    probe.writable = true;
    DeleteFileA(name);
  }
  ULARGE_INTEGER free_bytes{};
  if (GetDiskFreeSpaceExA(path.c_str(), &free_bytes, nullptr, nullptr)) {
    probe.free_bytes = free_bytes.QuadPart;
  }
  return probe;
}

}  // namespace korval::platform::win32
