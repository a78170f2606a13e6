#include "dev_config.h"

#include <mcx.h>

#include <cstring>

namespace korval::tapi_double {
namespace {

constexpr std::uint32_t kBlockSize = sizeof(COMMCONFIG) + sizeof(MODEMSETTINGS);
// The modem's own limit on S7, the wait for a carrier.
constexpr std::uint32_t kDialTimeoutMaxS = 255;

}  // namespace

DevConfig DefaultDevConfig(std::uint32_t bps) {
  DevConfig config;
  config.dcb.DCBlength = sizeof(DCB);
  config.dcb.BaudRate = bps;
  config.dcb.fBinary = 1;
  config.dcb.fDtrControl = DTR_CONTROL_ENABLE;
  config.dcb.fRtsControl = RTS_CONTROL_ENABLE;
  config.dcb.ByteSize = 8;
  config.dcb.Parity = NOPARITY;
  config.dcb.StopBits = ONESTOPBIT;
  return config;
}

std::string SaveDevConfig(const DevConfig& config) {
  std::string block(kBlockSize, '\0');
  COMMCONFIG comm{};
  comm.dwSize = kBlockSize;
  comm.wVersion = 1;
  comm.dcb = config.dcb;
  comm.dwProviderSubType = PST_MODEM;
  comm.dwProviderOffset = sizeof(COMMCONFIG);
  comm.dwProviderSize = sizeof(MODEMSETTINGS);
  MODEMSETTINGS modem{};
  modem.dwActualSize = modem.dwRequiredSize = sizeof(MODEMSETTINGS);
  modem.dwCallSetupFailTimer = config.dial_timeout_s;
  std::memcpy(block.data(), &comm, sizeof comm);
  std::memcpy(block.data() + sizeof comm, &modem, sizeof modem);
  return block;
}

std::optional<DevConfig> LoadDevConfig(const std::string& block) {
  if (block.size() < kBlockSize) return std::nullopt;
  COMMCONFIG comm;
  std::memcpy(&comm, block.data(), sizeof comm);
  if (comm.dwSize < kBlockSize || comm.dwProviderSubType != PST_MODEM ||
      comm.dwProviderOffset > block.size() ||
      block.size() - comm.dwProviderOffset < sizeof(MODEMSETTINGS) ||
      comm.dcb.DCBlength != sizeof(DCB)) {
    return std::nullopt;
  }
  MODEMSETTINGS modem;
  std::memcpy(&modem, block.data() + comm.dwProviderOffset, sizeof modem);
  if (modem.dwCallSetupFailTimer == 0 || modem.dwCallSetupFailTimer > kDialTimeoutMaxS) {
    return std::nullopt;
  }
  DevConfig config;
  config.dcb = comm.dcb;
  config.dial_timeout_s = modem.dwCallSetupFailTimer;
  return config;
}

}  // namespace korval::tapi_double
