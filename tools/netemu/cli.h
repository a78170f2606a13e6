// Command line of korval-netemu, kept apart from the pty code so it can be tested.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/options.h"

namespace korval::netemu {

struct CliConfig {
  Options engine;
  std::string statement_path;  // empty: the bank receives a file
  std::string received_path;
  std::string report_path;
  bool once = false;
  std::optional<std::uint64_t> timeout_ms;
  bool verbose = false;
  bool help = false;
};

// Fills config from the arguments (without the program name); returns the
// reason when they are wrong.
std::optional<std::string> ParseCommandLine(const std::vector<std::string>& args,
                                            CliConfig& config);

std::string HelpText();

}  // namespace korval::netemu
