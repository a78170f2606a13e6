#pragma once
#include <string>

#include "platform/types.h"

namespace korval {
struct Process;
}

namespace korval::exchange {

// Each runs one whole exchange on the main thread: 1 on success, 0 otherwise.
int SendFile(Process& process, const std::string& file_path, platform::WindowHandle window,
             platform::InstanceHandle instance, std::string& dial_number,
             const std::string& subscriber, const std::string& card, int record_length);
int ReceiveStatement(Process& process, const std::string& file_path, platform::WindowHandle window,
                     platform::InstanceHandle instance, std::string& dial_number,
                     const std::string& subscriber, const std::string& card);

}  // namespace korval::exchange
