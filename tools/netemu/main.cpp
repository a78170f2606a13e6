// korval-netemu: the far end of the program's modem line on a pseudo-terminal.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "engine/far_end.h"
#include "pty_front_end.h"

namespace {

using korval::netemu::CliConfig;

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  CliConfig config;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (auto error = korval::netemu::ParseCommandLine(args, config)) {
    std::cerr << "korval-netemu: " << *error << "\nTry --help.\n";
    return 2;
  }
  if (config.help) {
    std::cout << korval::netemu::HelpText();
    return 0;
  }
  if (!config.statement_path.empty() &&
      !ReadWholeFile(config.statement_path, config.engine.statement)) {
    std::cerr << "korval-netemu: cannot read " << config.statement_path << "\n";
    return 1;
  }

  korval::netemu::PtyLine line;
  std::string error;
  if (!line.Open(error)) {
    std::cerr << "korval-netemu: " << error << "\n";
    return 1;
  }
  std::cout << line.slave_path() << std::endl;

  korval::netemu::FarEnd far_end(config.engine);
  bool write_failed = false;
  korval::netemu::RunSettings settings;
  settings.once = config.once;
  settings.timeout_ms = config.timeout_ms;
  settings.verbose = config.verbose;
  settings.on_report = [&](const korval::netemu::Report& report) {
    if (!config.report_path.empty() &&
        !WriteWholeFile(config.report_path, korval::netemu::FormatReport(report))) {
      write_failed = true;
    }
    if (!config.received_path.empty() &&
        !WriteWholeFile(config.received_path, report.received_file)) {
      write_failed = true;
    }
  };

  const auto outcome = korval::netemu::RunOnPty(line, far_end, settings, std::cerr);
  if (write_failed) std::cerr << "korval-netemu: cannot write the report or the received file\n";
  if (outcome == korval::netemu::RunOutcome::kSystemError || write_failed) return 1;
  if (outcome == korval::netemu::RunOutcome::kTimedOut) return 3;
  return far_end.report().violations.empty() ? 0 : 4;
}
