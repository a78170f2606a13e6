#pragma once
// What the check of the set-up asks of the platform: where things are, and whether
// each modem is there and answers, without dialling anything.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korval::platform {

struct ModemProbe {
  std::string name;        // "MODEM0 (/dev/ttyACM0)", or the line device's name
  std::string problem;     // why it cannot be used, in French; empty when it opened free
  bool asked = true;       // AT was tried (Windows leaves the modem to its telephony)
  bool answered = false;   // it answered AT with OK within a second
  std::string identity;    // what ATI said, on one line
  bool data_modem = true;  // a telephony line device that can carry data-modem calls
};

struct FolderProbe {
  bool exists = false;
  bool writable = false;                    // a file could be created there and removed
  std::optional<std::uint64_t> free_bytes;  // nothing when it cannot be told
};

class SetupProbe {
 public:
  virtual ~SetupProbe() = default;
  // Where win.ini is; empty when there is none, with *missing saying where it was
  // looked for.
  virtual std::string SystemProfileFound(std::string* missing) = 0;
  // Every modem a job could use, each opened, asked AT and ATI, and closed.
  virtual std::vector<ModemProbe> ProbeModems() = 0;
  virtual FolderProbe ProbeFolder(const std::string& folder) = 0;
};

}  // namespace korval::platform
