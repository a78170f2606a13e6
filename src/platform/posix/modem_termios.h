#pragma once
// The port's termios settings seen through the Windows records that the program
// reads and writes: the opaque device configuration block, the DCB inside COMMCONFIG,
// and COMMPROP with its modem provider block.

#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/telephony_records.h"

namespace korval::platform::posix {

// Bits per second to a termios speed and back; nothing (or 0) for a rate the
// terminal driver has no constant for.
std::optional<speed_t> SpeedFromBps(std::uint32_t bps);
std::uint32_t BpsFromSpeed(speed_t speed);

// The settings the modem runs with: raw, 8 data bits, no parity, one stop bit, no
// software flow control (EBCDIC data holds 0x11 and 0x13), RTS/CTS handshake,
// modem lines ignored (carrier is watched by the line itself), DTR dropped on close.
void MakeModemSettings(struct termios& settings, speed_t speed);

// The "comm/datamodem" configuration block: the whole termios record behind a tag.
std::string SaveSettingsBlock(const struct termios& settings);
std::optional<struct termios> LoadSettingsBlock(const std::string& block);

// DCB offsets, relative to the DCB's start.
namespace dcb {
inline constexpr std::uint32_t kLength = 0;
inline constexpr std::uint32_t kBaudRate = 4;
inline constexpr std::uint32_t kFlags = 8;
inline constexpr std::uint32_t kXonLim = 14;
inline constexpr std::uint32_t kXoffLim = 16;
inline constexpr std::uint32_t kByteSize = 18;
inline constexpr std::uint32_t kParity = 19;
inline constexpr std::uint32_t kStopBits = 20;
inline constexpr std::uint32_t kXonChar = 21;
inline constexpr std::uint32_t kXoffChar = 22;
inline constexpr std::uint32_t kEofChar = 24;
inline constexpr std::uint32_t kSize = 28;

inline constexpr std::uint32_t kBinary = 0x1;
inline constexpr std::uint32_t kParityCheck = 0x2;
inline constexpr std::uint32_t kOutxCtsFlow = 0x4;
inline constexpr std::uint32_t kDtrControlEnable = 0x10;
inline constexpr std::uint32_t kOutX = 0x100;
inline constexpr std::uint32_t kInX = 0x200;
inline constexpr std::uint32_t kRtsControlMask = 0x3000;
inline constexpr std::uint32_t kRtsControlEnable = 0x1000;
inline constexpr std::uint32_t kRtsControlHandshake = 0x2000;

inline constexpr std::uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3,
                              kSpaceParity = 4;
inline constexpr std::uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;
}  // namespace dcb

// Writes the DCB that describes settings at offset in record.
void WriteDcb(const struct termios& settings, Record& record, std::uint32_t offset);
// Changes settings as the DCB at offset says; false (settings untouched) when it
// asks for something the port cannot do.
bool ReadDcb(const Record& record, std::uint32_t offset, struct termios& settings);

// COMMCONFIG: its fixed part, the DCB, and the modem provider's MODEMSETTINGS block.
inline constexpr std::uint32_t kCommConfigProviderOffset = 48;
inline constexpr std::uint32_t kModemSettingsSize = 44;
inline constexpr std::uint32_t kCommConfigNeededSize =
    kCommConfigProviderOffset + kModemSettingsSize;

struct ModemState {
  std::uint32_t dial_timeout_s = 0;
  std::uint32_t connect_rate = 0;  // from the last CONNECT, 0 when unknown
};
// False when the record is smaller than kCommConfigNeededSize.
bool WriteCommConfig(const struct termios& settings, const ModemState& modem, Record& config);

struct PortState {
  std::uint32_t in_queue = 0;
  std::uint32_t out_queue = 0;
  std::string model;  // the modem's name in the provider block
};
inline constexpr std::uint32_t kCommPropFixedSize = 64;
inline constexpr std::uint32_t kModemDevCapsFixedSize = 76;
// The provider block's size when complete: MODEMDEVCAPS and the model's name.
std::uint32_t ModemDevCapsSize(const PortState& port);
// Fills what the record's wPacketLength and size allow: COMMPROP, then the provider
// block (whole, or only its fixed part, with dwRequiredSize honest). False when even
// COMMPROP does not fit.
bool WriteCommProp(const PortState& port, Record& properties);

}  // namespace korval::platform::posix
