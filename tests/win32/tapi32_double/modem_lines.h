#pragma once
// The line devices: win.ini's [MODEM0], [MODEM1], ... up to the first without a Port,
// read as the Linux back-end reads them (Port=COMn, Vitesse, Init).

#include <vector>

#include "platform/hayes/modem_records.h"

namespace korval::tapi_double {

std::vector<platform::hayes::ModemLineConfig> ReadModemLines();

}  // namespace korval::tapi_double
