#pragma once
// How the provider behaves where the telephony API lets providers differ, from the
// [TAPI32] section of win.ini (README.md has the table). The defaults are the
// friendliest reading; each key makes the double behave as some other provider may.

// windows.h first: the other Windows headers need its types.
#include <windows.h>

#include <tapi.h>

#include <cstdint>

namespace korval::tapi_double {

enum class PortLoss {
  kDisconnected,  // DISCONNECTED with lost_mode once the port stops answering
  kLineClose,     // LINE_CLOSE, as when the modem is unplugged
  kUnwatched,     // the port is not watched: nothing is said
};

struct ProviderVariant {
  bool owner_privilege = true;       // Privilege: the first call state grants ownership
  bool handle_at_reply = false;      // HandleAtReply: lineMakeCall's handle written late
  bool states_before_reply = false;  // StatesBeforeReply: LINE_REPLY after the states
  bool connected_only = false;       // ConnectedOnly: no state before CONNECTED
  DWORD reply_error = 0;             // ReplyError: LINE_REPLY's error, the call never made
  PortLoss port_loss = PortLoss::kDisconnected;  // PortLost
  DWORD lost_mode = LINEDISCONNECTMODE_NORMAL;   // DisconnectMode
};

ProviderVariant ReadProviderVariant();

}  // namespace korval::tapi_double
