#include "link_rig.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "exchange/pump.h"
#include "line/call_control.h"
#include "line/port_handle.h"
#include "line/telephony_setup.h"

namespace korval::bench {

LinkRig::LinkRig(const std::string& device, std::uint32_t reply_wait_s) {
  char folder[] = "/tmp/korval-bench.XXXXXX";
  if (::mkdtemp(folder) != nullptr) folder_ = folder;
  const std::string ini = folder_ + "/win.ini";
  std::ofstream(ini) << "[KORVAL]\nNUMTRANSPAC=0836064545\nDelaiReponse=" << reply_wait_s
                     << "\n[MODEM0]\nPort=" << device << "\n";
  ::setenv("KORVAL_WININI", ini.c_str(), 1);
  os_ = std::make_unique<platform::posix::PosixPlatform>();
  process_ = std::make_unique<Process>(os_->platform, "korval_bench");
  // What the job does before any call: Linux takes the NT paths.
  const auto platform_id = os_->platform.version.PlatformId();
  process_->job.is_windows_nt = platform_id && *platform_id == platform::kPlatformWin32Nt;
}

LinkRig::~LinkRig() {
  Close();
  process_.reset();
  os_.reset();
  if (!folder_.empty()) {
    std::remove((folder_ + "/win.ini").c_str());
    ::rmdir(folder_.c_str());
  }
}

bool LinkRig::Connect() {
  Process& process = *process_;
  if (line::StartTelephony(process, platform::kNoWindow, 0) != 0) {
    std::fprintf(stderr, "StartTelephony failed\n");
    return false;
  }
  telephony_ = true;
  std::string number = "0836064545";
  if (line::PlaceCall(process, number, platform::kNoWindow) != 1) {
    std::fprintf(stderr, "PlaceCall failed\n");
    return false;
  }
  const std::uint32_t start = process.os.clock.TickCount();
  while (process.call.call_state != platform::kCallStateConnected) {
    exchange::PumpMessage(process);
    if (line::CallEnded(process) || process.os.clock.TickCount() - start > 10'000) {
      std::fprintf(stderr, "the call did not connect\n");
      return false;
    }
  }
  if (line::GetPortHandle(process) != 0) {
    std::fprintf(stderr, "no port handle\n");
    return false;
  }
  // The read thread starts on CONNECTED; give it time to reach its first read.
  exchange::Pause(process, 300);
  return process.call.link_active && process.call.read_thread;
}

void LinkRig::Close() {
  if (!telephony_) return;
  telephony_ = false;
  line::HangUp(*process_);
  line::ClosePort(*process_);
  line::ShutdownTelephony(*process_);
}

}  // namespace korval::bench
