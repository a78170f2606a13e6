// Line events and the ready-made call scripts that tests give the simulated devices.
#include "platform/sim/sim_telephony.h"

#include <algorithm>
#include <string>

namespace korval::platform::sim {

SimCallEvent CallStateEvent(std::uint64_t at_ms, std::uint32_t state, std::uint32_t mode,
                            std::uint32_t privilege) {
  return {at_ms, kLineCallState, state, mode, privilege, false};
}

SimCallEvent ReplyEvent(std::uint64_t at_ms, std::int32_t result) {
  return {at_ms, kLineReply, 0, static_cast<std::uint32_t>(result), 0, false};
}

SimCallEvent LineDevStateEvent(std::uint64_t at_ms, std::uint32_t state) {
  return {at_ms, kLineLineDevState, state, 0, 0, false};
}

SimCallEvent LineCloseEvent(std::uint64_t at_ms) { return {at_ms, kLineClose, 0, 0, 0, false}; }

SimCallEvent AddressStateEvent(std::uint64_t at_ms, std::uint32_t address, std::uint32_t state) {
  return {at_ms, kLineAddressState, address, state, 0, false};
}

SimCallScript ConnectingCall(std::uint64_t connect_at_ms, bool dial_tone) {
  const std::uint64_t c = connect_at_ms;
  SimCallScript script = {ReplyEvent(std::min<std::uint64_t>(10, c), 0)};
  if (dial_tone) script.push_back(CallStateEvent(c / 30, kCallStateDialtone));
  script.push_back(CallStateEvent(c / 10, kCallStateDialing));
  script.push_back(CallStateEvent(c / 3, kCallStateProceeding));
  script.push_back(CallStateEvent(c, kCallStateConnected));
  return script;
}

SimCallScript BusyCall(std::uint64_t at_ms) {
  return {ReplyEvent(std::min<std::uint64_t>(10, at_ms), 0),
          CallStateEvent(at_ms / 4, kCallStateDialing), CallStateEvent(at_ms, kCallStateBusy)};
}

SimCallScript DisconnectedCall(std::uint32_t mode, std::uint64_t at_ms) {
  return {ReplyEvent(std::min<std::uint64_t>(10, at_ms), 0),
          CallStateEvent(at_ms / 4, kCallStateDialing),
          CallStateEvent(at_ms, kCallStateDisconnected, mode)};
}

SimCallScript FailedReplyCall(std::int32_t code, std::uint64_t at_ms) {
  return {ReplyEvent(at_ms, code)};
}

SimCallScript OutOfServiceLine(std::uint64_t at_ms) {
  return {ReplyEvent(std::min<std::uint64_t>(10, at_ms), 0),
          CallStateEvent(at_ms / 4, kCallStateDialing),
          LineDevStateEvent(at_ms, kLineDevStateOutOfService)};
}

SimCallScript FarEndHangsUp(std::uint64_t hang_up_after_ms, std::uint64_t connect_at_ms) {
  SimCallScript script = ConnectingCall(connect_at_ms);
  script.push_back(
      CallStateEvent(connect_at_ms + hang_up_after_ms, kCallStateDisconnected, kDisconnectNormal));
  return script;
}

SimCallScript IncomingCall(std::uint64_t at_ms) {
  SimCallEvent offering = CallStateEvent(at_ms, kCallStateOffering);
  offering.other_call = true;
  return {offering};
}

SimCallScript Combine(SimCallScript a, const SimCallScript& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string DefaultDevConfig() {
  // Binary, with NULs inside, as a real configuration block is.
  std::string block(40, '\0');
  block[0] = 40;
  block[4] = 1;
  block[6] = 0x10;
  for (std::size_t i = 12; i < block.size(); i += 2) block[i] = static_cast<char>('A' + i);
  return block;
}

}  // namespace korval::platform::sim
