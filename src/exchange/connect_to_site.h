#pragma once
#include <string>

#include "platform/types.h"

namespace korval {
struct Process;
}

namespace korval::exchange {

// Dials the network, has the PAD connect the site and presents the card: 1 when the
// card was accepted, with the call still up.
int ConnectToSite(Process& process, platform::WindowHandle window,
                  platform::InstanceHandle instance, std::string& dial_number,
                  const std::string& subscriber, const std::string& card);

}  // namespace korval::exchange
