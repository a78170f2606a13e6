#include "modem_lines.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace korval::tapi_double {
namespace {

// The speeds a modem's port is set to; anything else keeps the default.
constexpr std::uint32_t kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

std::string Trim(std::string text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string ReadKey(const std::string& section, const char* key) {
  char value[260] = {};
  GetProfileStringA(section.c_str(), key, "", value, sizeof value);
  return Trim(value);
}

}  // namespace

std::vector<platform::hayes::ModemLineConfig> ReadModemLines() {
  std::vector<platform::hayes::ModemLineConfig> lines;
  for (std::uint32_t index = 0;; ++index) {
    platform::hayes::ModemLineConfig config;
    config.section = "MODEM" + std::to_string(index);
    config.port = ReadKey(config.section, "Port");
    if (config.port.empty()) break;
    const std::string speed = ReadKey(config.section, "Vitesse");
    const bool digits =
        !speed.empty() && speed.size() <= 9 &&
        std::all_of(speed.begin(), speed.end(), [](char c) { return c >= '0' && c <= '9'; });
    const std::uint32_t bps = digits ? static_cast<std::uint32_t>(std::stoul(speed)) : 0;
    if (std::find(std::begin(kSpeeds), std::end(kSpeeds), bps) != std::end(kSpeeds)) {
      config.bps = bps;
    }
    if (std::string init = ReadKey(config.section, "Init"); !init.empty()) config.init = init;
    lines.push_back(std::move(config));
  }
  return lines;
}

}  // namespace korval::tapi_double
