#pragma once
// The device configuration that lineGetDevConfig gives and lineSetDevConfig takes
// back: a COMMCONFIG whose provider part is the modem's MODEMSETTINGS, as a modem
// provider lays it out. The program saves it at start and restores it at the end.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace korval::tapi_double {

struct DevConfig {
  DCB dcb{};
  std::uint32_t dial_timeout_s = 60;  // MODEMSETTINGS.dwCallSetupFailTimer
};

DevConfig DefaultDevConfig(std::uint32_t bps);
std::string SaveDevConfig(const DevConfig& config);
// Nothing when the block is no such configuration.
std::optional<DevConfig> LoadDevConfig(const std::string& block);

}  // namespace korval::tapi_double
