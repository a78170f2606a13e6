// The line code reads and writes the telephony and port records by byte offset; these
// offsets and fixed sizes must be the Windows structures' own, on 32 and 64 bits.

// windows.h first: the other Windows headers need its types.
#include <windows.h>

#include <mcx.h>
#include <tapi.h>

#include <cstddef>

#include "platform/serial_port.h"
#include "platform/telephony_records.h"

namespace korval::platform::win32 {
namespace {

namespace f = field;

static_assert(offsetof(VARSTRING, dwTotalSize) == f::kTotalSize);
static_assert(offsetof(VARSTRING, dwNeededSize) == f::kNeededSize);
static_assert(offsetof(VARSTRING, dwUsedSize) == f::kUsedSize);
static_assert(offsetof(VARSTRING, dwStringFormat) == f::kVarStringFormat);
static_assert(offsetof(VARSTRING, dwStringSize) == f::kVarStringSize);
static_assert(offsetof(VARSTRING, dwStringOffset) == f::kVarStringOffset);
static_assert(sizeof(VARSTRING) == kVarStringSize);

// The version-1.4 fixed parts end where the later versions' first field begins.
static_assert(offsetof(LINEDEVCAPS, dwNumAddresses) == f::kDevNumAddresses);
static_assert(offsetof(LINEDEVCAPS, dwMediaModes) == f::kDevMediaModes);
static_assert(offsetof(LINEDEVCAPS, dwLineStates) == f::kDevLineStates);
static_assert(offsetof(LINEDEVCAPS, dwSettableDevStatus) == kDevCapsSize);

static_assert(offsetof(LINEADDRESSCAPS, dwAddressStates) == f::kAddrAddressStates);
static_assert(offsetof(LINEADDRESSCAPS, dwCallFeatures) == f::kAddrCallFeatures);
static_assert(offsetof(LINEADDRESSCAPS, dwPredictiveAutoTransferStates) == kAddressCapsSize);

static_assert(offsetof(LINEADDRESSSTATUS, dwAddressFeatures) == f::kAddrStatusFeatures);
static_assert(sizeof(LINEADDRESSSTATUS) == kAddressStatusSize);
static_assert(sizeof(LINETRANSLATECAPS) == kTranslateCapsSize);
static_assert(offsetof(LINEDEVSTATUS, dwAvailableMediaModes) == kLineDevStatusSize);

static_assert(offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize) == f::kDialableSize);
static_assert(offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset) == f::kDialableOffset);
static_assert(sizeof(LINETRANSLATEOUTPUT) <= kTranslateOutputSize);

static_assert(offsetof(LINECALLPARAMS, dwBearerMode) == f::kCallBearerMode);
static_assert(offsetof(LINECALLPARAMS, dwMediaMode) == f::kCallMediaMode);
static_assert(offsetof(LINECALLPARAMS, dwCallParamFlags) == f::kCallParamFlags);
static_assert(offsetof(LINECALLPARAMS, dwAddressMode) == f::kCallAddressMode);
static_assert(offsetof(LINECALLPARAMS, dwAddressID) == f::kCallAddressId);
static_assert(offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates) == kCallParamsSize);

// COMMPROP followed by a modem's MODEMDEVCAPS; COMMCONFIG followed by its MODEMSETTINGS.
static_assert(offsetof(COMMPROP, wPacketLength) == f::kPropPacketLength);
static_assert(offsetof(COMMPROP, dwProvCapabilities) == f::kPropProvCapabilities);
static_assert(offsetof(COMMPROP, wcProvChar) == f::kPropProvChar);
static_assert(sizeof(COMMPROP) + sizeof(MODEMDEVCAPS) == kCommPropFirstSize);
static_assert(offsetof(COMMCONFIG, dwSize) == f::kConfigSize);
static_assert(offsetof(COMMCONFIG, dcb) + offsetof(DCB, ByteSize) == f::kConfigByteSize);
static_assert(offsetof(COMMCONFIG, dcb) + offsetof(DCB, Parity) == f::kConfigParity);
static_assert(offsetof(COMMCONFIG, dcb) + offsetof(DCB, StopBits) == f::kConfigStopBits);
static_assert(offsetof(COMMCONFIG, dcb) + offsetof(DCB, BaudRate) + 4 == f::kConfigDcbFlags);
static_assert(sizeof(COMMCONFIG) + sizeof(MODEMSETTINGS) == kCommConfigFirstSize);

static_assert(PCF_INTTIMEOUTS == kPcfIntTimeouts);
static_assert(ERROR_INVALID_HANDLE == kErrorInvalidHandle);
static_assert(ERROR_IO_PENDING == kErrorIoPending);
static_assert(ERROR_OPERATION_ABORTED == kErrorOperationAborted);
static_assert(ERROR_GEN_FAILURE == kErrorGenFailure);
static_assert(PURGE_RXCLEAR == kPurgeRxClear);
static_assert(MAXDWORD == kMaxDword);
static_assert(sizeof(COMMTIMEOUTS) == sizeof(CommTimeouts));

static_assert(LINEMEDIAMODE_DATAMODEM == kMediaModeDataModem);
static_assert(LINECALLPRIVILEGE_OWNER == kCallPrivilegeOwner);
static_assert(LINECALLPRIVILEGE_MONITOR == kCallPrivilegeMonitor);
static_assert(LINECALLFEATURE_ANSWER == kCallFeatureAnswer);
static_assert(LINEADDRFEATURE_MAKECALL == kAddrFeatureMakeCall);
static_assert(LINECALLSELECT_LINE == kCallSelectLine);
static_assert(LINECALLSELECT_CALL == kCallSelectCall);
static_assert(LINE_ADDRESSSTATE == kLineAddressState && LINE_CALLSTATE == kLineCallState);
static_assert(LINE_CLOSE == kLineClose && LINE_LINEDEVSTATE == kLineLineDevState);
static_assert(LINE_REPLY == kLineReply);
static_assert(LINECALLSTATE_CONNECTED == kCallStateConnected);
static_assert(LINECALLSTATE_DISCONNECTED == kCallStateDisconnected);

// fParity, the second bit of the DCB's flag word.
constexpr bool ParityIsFlagBit1() {
  DCB dcb{};
  dcb.fParity = 1;
  struct Words {
    DWORD length, rate, flags;
    BYTE rest[sizeof(DCB) - 12];
  };
  return __builtin_bit_cast(Words, dcb).flags == kDcbParityFlag;
}
static_assert(ParityIsFlagBit1());

}  // namespace
}  // namespace korval::platform::win32
