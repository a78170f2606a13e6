#include "process/process.h"

namespace korval {

Process::~Process() {
  if (call.read_thread && call.stop_read_thread != nullptr) call.stop_read_thread(*this);
  call.link_active = false;
}

}  // namespace korval
