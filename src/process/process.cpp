#include "process/process.h"

#include "line/call_control.h"

namespace korval {

Process::~Process() {
  if (call.read_thread || call.link_active) line::StopReadThread(*this);
}

}  // namespace korval
