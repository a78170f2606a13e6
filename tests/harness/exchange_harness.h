#pragma once
// A whole job on the simulated platform against the simulated network.

#include <memory>
#include <string>
#include <vector>

#include "harness/line_harness.h"
#include "platform/sim/sim_network.h"

namespace korval::testing {

inline constexpr const char* kSubscriber = "175000123";
inline constexpr const char* kDataFile = "C:\\DATA\\ENVOI.TXT";
inline constexpr const char* kStatementFile = "C:\\DATA\\RELEVE.TXT";
inline constexpr const char* kStatementBackup = "C:\\DATA\\RELEVE.BAK";

struct ExchangeHarness : LineHarness {
  std::unique_ptr<platform::sim::SimNetwork> network;

  ExchangeHarness() {
    telephony.ModifyDevice(
        0, [](platform::sim::SimLineDevice& d) { d.script = platform::sim::ConnectingCall(3000); });
  }

  // The bank's site answers; options start as the caller leaves them.
  netemu::Options& Bank() { return options; }
  void Connect() {
    options.bank_number = options.bank_number.empty() ? kSubscriber : options.bank_number;
    network = std::make_unique<platform::sim::SimNetwork>(sim.world, telephony, options);
  }

  // A job of the given kind, with the network set up, run to its end.
  int RunJob(const std::string& type_action, const std::string& file = kDataFile,
             std::vector<std::string> extra_lines = {}) {
    std::vector<std::string> lines = {
        "NumeroAbonne=" + std::string(kSubscriber), "TypeAction=" + type_action,
        "CarteParametre=CARTE " + type_action, "FichierAssocie=" + file};
    lines.insert(lines.end(), extra_lines.begin(), extra_lines.end());
    JobFile(KorvalSection(lines));
    if (!network) Connect();
    return Run();
  }

  const netemu::Report& BankSaw() const { return network->report(); }
  std::string FileText(const std::string& path) const {
    return sim.files.Get(path).value_or("<none>");
  }
  bool Logged(const std::string& line) const {
    for (const std::string& l : Log()) {
      if (l == line) return true;
    }
    return false;
  }

  netemu::Options options;
  std::string file_path = kDataFile;
};

// Records of a file to send: record i holds its number, padded to the length.
inline std::string RecordsOf(std::size_t count, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    std::string record = "ENR" + std::to_string(i + 1) + " Montant 123,45 EUR \xE9t\xE9";
    record.resize(length, '.');
    text += record;
  }
  return text;
}

}  // namespace korval::testing
