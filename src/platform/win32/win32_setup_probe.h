#pragma once
// The set-up as a Windows job would find it: win.ini in the Windows folder, and the
// telephony line devices, each named and told whether it carries data-modem calls.

#include "platform/setup_probe.h"
#include "platform/types.h"

namespace korval::platform::win32 {

class Win32SetupProbe final : public SetupProbe {
 public:
  explicit Win32SetupProbe(InstanceHandle instance) : instance_(instance) {}

  std::string SystemProfileFound(std::string* missing) override;
  std::vector<ModemProbe> ProbeModems() override;
  FolderProbe ProbeFolder(const std::string& folder) override;

 private:
  InstanceHandle instance_;
};

}  // namespace korval::platform::win32
