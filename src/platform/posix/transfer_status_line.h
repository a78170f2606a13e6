#pragma once
// The text of a long transfer's status line on the terminal, Windows-1252.

#include <string>

#include "platform/window_system.h"

namespace korval::platform::posix {

// "Envoi : 12/40 enregistrements, 960 o/s, écoulé 00:02, reste 00:05", or
// "Réception : 153 600 octets, 960 o/s, écoulé 02:40"; short enough for 80 columns.
std::string FormatTransferStatus(const TransferProgress& progress);

}  // namespace korval::platform::posix
