#pragma once
// The set-up as a Linux job would find it: win.ini's place, and the modems of its
// MODEMn sections, each opened as a job opens it, asked AT and ATI, and closed.

#include "platform/diagnostics.h"
#include "platform/profile_store.h"
#include "platform/setup_probe.h"

namespace korval::platform::posix {

class PosixSetupProbe final : public SetupProbe {
 public:
  PosixSetupProbe(ProfileStore& profiles, Diagnostics& diagnostics)
      : profiles_(profiles), diagnostics_(diagnostics) {}

  std::string SystemProfileFound(std::string* missing) override;
  std::vector<ModemProbe> ProbeModems() override;
  FolderProbe ProbeFolder(const std::string& folder) override;

  // How long the modem has to answer each command.
  static constexpr std::uint32_t kAnswerWaitMs = 1000;

 private:
  ProfileStore& profiles_;
  Diagnostics& diagnostics_;
};

}  // namespace korval::platform::posix
