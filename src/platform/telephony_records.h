#pragma once
// The telephony API's variable-size records, as byte buffers laid out like the
// version-1.4 structures, and the constants the line code passes and tests.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace korval::platform {

// A zero-filled record whose first field, dwTotalSize, says how big it is; the
// provider writes dwNeededSize (and fills what fits).
class Record {
 public:
  explicit Record(std::uint32_t size = 0) : bytes_(size, 0) {
    if (size >= 4) Set32(0, size);
  }
  std::uint32_t size() const { return static_cast<std::uint32_t>(bytes_.size()); }
  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }

  // Out-of-range reads give 0 and writes are dropped: a record never overflows.
  std::uint32_t Get32(std::uint32_t offset) const {
    std::uint32_t value = 0;
    if (offset + 4 <= bytes_.size()) std::memcpy(&value, bytes_.data() + offset, 4);
    return value;
  }
  void Set32(std::uint32_t offset, std::uint32_t value) {
    if (offset + 4 <= bytes_.size()) std::memcpy(bytes_.data() + offset, &value, 4);
  }
  std::uint16_t Get16(std::uint32_t offset) const {
    std::uint16_t value = 0;
    if (offset + 2 <= bytes_.size()) std::memcpy(&value, bytes_.data() + offset, 2);
    return value;
  }
  void Set16(std::uint32_t offset, std::uint16_t value) {
    if (offset + 2 <= bytes_.size()) std::memcpy(bytes_.data() + offset, &value, 2);
  }
  std::uint8_t Get8(std::uint32_t offset) const {
    return offset < bytes_.size() ? bytes_[offset] : 0;
  }
  void Set8(std::uint32_t offset, std::uint8_t value) {
    if (offset < bytes_.size()) bytes_[offset] = value;
  }
  // size bytes at offset, cut at the end of the record.
  std::string Bytes(std::uint32_t offset, std::uint32_t count) const {
    if (offset >= bytes_.size()) return {};
    count = std::min<std::uint32_t>(count, size() - offset);
    return std::string(reinterpret_cast<const char*>(bytes_.data()) + offset, count);
  }
  void PutBytes(std::uint32_t offset, const std::string& text) {
    for (std::uint32_t i = 0; i < text.size(); ++i) {
      Set8(offset + i, static_cast<std::uint8_t>(text[i]));
    }
  }

  std::uint32_t TotalSize() const { return Get32(0); }
  std::uint32_t NeededSize() const { return Get32(4); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Field offsets, in bytes, of the fields this program reads or writes.
namespace field {
inline constexpr std::uint32_t kTotalSize = 0;
inline constexpr std::uint32_t kNeededSize = 4;
inline constexpr std::uint32_t kUsedSize = 8;
// LINEDEVCAPS
inline constexpr std::uint32_t kDevNumAddresses = 48;
inline constexpr std::uint32_t kDevMediaModes = 60;
inline constexpr std::uint32_t kDevLineStates = 128;
// LINEADDRESSCAPS
inline constexpr std::uint32_t kAddrAddressStates = 36;
inline constexpr std::uint32_t kAddrCallFeatures = 108;
// LINEADDRESSSTATUS
inline constexpr std::uint32_t kAddrStatusFeatures = 28;
// VARSTRING
inline constexpr std::uint32_t kVarStringFormat = 12;
inline constexpr std::uint32_t kVarStringSize = 16;
inline constexpr std::uint32_t kVarStringOffset = 20;
// LINETRANSLATEOUTPUT
inline constexpr std::uint32_t kDialableSize = 12;
inline constexpr std::uint32_t kDialableOffset = 16;
// LINECALLPARAMS
inline constexpr std::uint32_t kCallBearerMode = 4;
inline constexpr std::uint32_t kCallMediaMode = 16;
inline constexpr std::uint32_t kCallParamFlags = 20;
inline constexpr std::uint32_t kCallAddressMode = 24;
inline constexpr std::uint32_t kCallAddressId = 28;
// COMMPROP (wPacketLength is 16 bits)
inline constexpr std::uint32_t kPropPacketLength = 0;
inline constexpr std::uint32_t kPropProvCapabilities = 28;
inline constexpr std::uint32_t kPropProvChar = 60;
// COMMCONFIG, with its DCB at offset 8
inline constexpr std::uint32_t kConfigSize = 0;
inline constexpr std::uint32_t kConfigDcbFlags = 8 + 8;  // fParity is bit 1
inline constexpr std::uint32_t kConfigByteSize = 8 + 18;
inline constexpr std::uint32_t kConfigParity = 8 + 19;
inline constexpr std::uint32_t kConfigStopBits = 8 + 20;
}  // namespace field

inline constexpr std::uint32_t kDcbParityFlag = 0x2;
inline constexpr std::uint32_t kPcfIntTimeouts = 0x0080;

// Fixed-part sizes, the initial sizes of the growing reads.
inline constexpr std::uint32_t kDevCapsSize = 240;
inline constexpr std::uint32_t kAddressCapsSize = 180;
inline constexpr std::uint32_t kTranslateCapsSize = 44;
inline constexpr std::uint32_t kLineDevStatusSize = 76;
inline constexpr std::uint32_t kAddressStatusSize = 64;
inline constexpr std::uint32_t kVarStringSize = 24;
inline constexpr std::uint32_t kTranslateOutputSize = 5040;
inline constexpr std::uint32_t kCallParamsSize = 112;
inline constexpr std::uint32_t kCommPropFirstSize = 144;
inline constexpr std::uint32_t kCommConfigFirstSize = 100;

inline constexpr std::uint32_t kApiVersion14 = 0x00010004;

// Line messages (LINE_*), call states, features and modes.
inline constexpr std::uint32_t kLineAddressState = 0;
inline constexpr std::uint32_t kLineCallState = 2;
inline constexpr std::uint32_t kLineClose = 3;
inline constexpr std::uint32_t kLineLineDevState = 8;
inline constexpr std::uint32_t kLineReply = 12;

inline constexpr std::uint32_t kCallStateIdle = 0x1;
inline constexpr std::uint32_t kCallStateOffering = 0x2;
inline constexpr std::uint32_t kCallStateAccepted = 0x4;
inline constexpr std::uint32_t kCallStateDialtone = 0x8;
inline constexpr std::uint32_t kCallStateDialing = 0x10;
inline constexpr std::uint32_t kCallStateRingback = 0x20;
inline constexpr std::uint32_t kCallStateBusy = 0x40;
inline constexpr std::uint32_t kCallStateSpecialInfo = 0x80;
inline constexpr std::uint32_t kCallStateConnected = 0x100;
inline constexpr std::uint32_t kCallStateProceeding = 0x200;
inline constexpr std::uint32_t kCallStateOnHold = 0x400;
inline constexpr std::uint32_t kCallStateDisconnected = 0x4000;
inline constexpr std::uint32_t kCallStateUnknown = 0x8000;

inline constexpr std::uint32_t kDisconnectNormal = 0x1;
inline constexpr std::uint32_t kDisconnectUnknown = 0x2;
inline constexpr std::uint32_t kDisconnectReject = 0x4;
inline constexpr std::uint32_t kDisconnectBusy = 0x20;
inline constexpr std::uint32_t kDisconnectNoAnswer = 0x40;
inline constexpr std::uint32_t kDisconnectBadAddress = 0x80;
inline constexpr std::uint32_t kDisconnectUnreachable = 0x100;
inline constexpr std::uint32_t kDisconnectIncompatible = 0x400;
inline constexpr std::uint32_t kDisconnectUnavail = 0x800;
inline constexpr std::uint32_t kDisconnectNoDialtone = 0x1000;

inline constexpr std::uint32_t kLineDevStateDisconnected = 0x8;
inline constexpr std::uint32_t kLineDevStateOutOfService = 0x80;
inline constexpr std::uint32_t kLineDevStateClose = 0x400;

inline constexpr std::uint32_t kMediaModeDataModem = 0x10;
inline constexpr std::uint32_t kCallPrivilegeMonitor = 0x2;
inline constexpr std::uint32_t kCallPrivilegeOwner = 0x4;
inline constexpr std::uint32_t kCallFeatureAnswer = 0x4;
inline constexpr std::uint32_t kAddrFeatureMakeCall = 0x2;
inline constexpr std::uint32_t kCallSelectLine = 0x1;
inline constexpr std::uint32_t kCallSelectCall = 0x4;
inline constexpr std::uint32_t kBearerModeVoice = 0x1;
inline constexpr std::uint32_t kCallParamFlagsIdle = 0x2;
inline constexpr std::uint32_t kAddressModeAddressId = 0x1;

inline constexpr const char* kDataModemClass = "comm/datamodem";

}  // namespace korval::platform
