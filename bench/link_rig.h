#pragma once
// The program's own link on the real Linux platform: a Process on PosixPlatform
// (console window system, real clock, the modem provider), with a data call placed
// through the telephony line to a PtyPeer, exactly as an exchange starts one.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/posix/posix_platform.h"
#include "process/process.h"

namespace korval::bench {

class LinkRig {
 public:
  // Writes a win.ini for the device (DelaiReponse in seconds) into a fresh temporary
  // folder and points KORVAL_WININI at it; call before any platform exists.
  LinkRig(const std::string& device, std::uint32_t reply_wait_s);
  ~LinkRig();

  // StartTelephony, PlaceCall, then turns the queue until the call is CONNECTED and
  // the read thread serves the port; false (with a message) on failure.
  bool Connect();
  // Hangs up and shuts the telephony down.
  void Close();

  Process& process() { return *process_; }

 private:
  std::string folder_;
  std::unique_ptr<platform::posix::PosixPlatform> os_;
  std::unique_ptr<Process> process_;
  bool telephony_ = false;
};

}  // namespace korval::bench
