#include "platform/posix/modem_termios.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace korval::platform::posix {
namespace {

struct SpeedEntry {
  speed_t speed;
  std::uint32_t bps;
};

constexpr SpeedEntry kSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

constexpr char kBlockTag[8] = {'t', 'e', 'r', 'm', 'i', 'o', 's', '1'};

// COMMPROP values, as the Windows headers give them.
constexpr std::uint32_t kSpSerialComm = 0x1;
constexpr std::uint32_t kPstModem = 0x6;
constexpr std::uint32_t kBaudUser = 0x10000000;
constexpr std::uint32_t kPcfRtsCts = 0x2, kPcfRlsd = 0x4, kPcfParityCheck = 0x8, kPcfXonXoff = 0x10,
                        kPcfSetXChar = 0x20;
constexpr std::uint32_t kSettableAll = 0x7F;           // parity, baud, data bits, stop bits, ...
constexpr std::uint16_t kSettableData = 0x000F;        // 5 to 8 data bits
constexpr std::uint16_t kSettableStopParity = 0x1F05;  // 1 or 2 stop bits, every parity

struct BaudBit {
  std::uint32_t bps;
  std::uint32_t bit;
};
constexpr BaudBit kBaudBits[] = {
    {110, 0x1},     {300, 0x2},     {600, 0x4},       {1200, 0x8},
    {1800, 0x10},   {2400, 0x20},   {4800, 0x40},     {9600, 0x100},
    {19200, 0x400}, {38400, 0x800}, {57600, 0x40000}, {115200, 0x20000},
};

std::uint32_t CharSize(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

}  // namespace

std::optional<speed_t> SpeedFromBps(std::uint32_t bps) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.bps == bps) return entry.speed;
  }
  return std::nullopt;
}

std::uint32_t BpsFromSpeed(speed_t speed) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.speed == speed) return entry.bps;
  }
  return 0;
}

void MakeModemSettings(struct termios& settings, speed_t speed) {
  ::cfmakeraw(&settings);
  settings.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP);
  settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  settings.c_cflag |= CS8 | CREAD | CLOCAL | HUPCL | CRTSCTS;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  ::cfsetispeed(&settings, speed);
  ::cfsetospeed(&settings, speed);
}

std::string SaveSettingsBlock(const struct termios& settings) {
  std::string block(kBlockTag, sizeof kBlockTag);
  block.append(reinterpret_cast<const char*>(&settings), sizeof settings);
  return block;
}

std::optional<struct termios> LoadSettingsBlock(const std::string& block) {
  if (block.size() != sizeof kBlockTag + sizeof(struct termios) ||
      block.compare(0, sizeof kBlockTag, kBlockTag, sizeof kBlockTag) != 0) {
    return std::nullopt;
  }
  struct termios settings;
  std::memcpy(&settings, block.data() + sizeof kBlockTag, sizeof settings);
  return settings;
}

void WriteDcb(const struct termios& settings, Record& record, std::uint32_t offset) {
  const tcflag_t cflag = settings.c_cflag;
  const bool rtscts = (cflag & CRTSCTS) != 0;
  std::uint32_t flags = dcb::kBinary | dcb::kDtrControlEnable;
  if (settings.c_iflag & INPCK) flags |= dcb::kParityCheck;
  if (rtscts) flags |= dcb::kOutxCtsFlow;
  if (settings.c_iflag & IXON) flags |= dcb::kOutX;
  if (settings.c_iflag & IXOFF) flags |= dcb::kInX;
  flags |= rtscts ? dcb::kRtsControlHandshake : dcb::kRtsControlEnable;

  std::uint8_t parity = dcb::kNoParity;
  if (cflag & PARENB) {
    if (cflag & CMSPAR) {
      parity = (cflag & PARODD) ? dcb::kMarkParity : dcb::kSpaceParity;
    } else {
      parity = (cflag & PARODD) ? dcb::kOddParity : dcb::kEvenParity;
    }
  }
  record.Set32(offset + dcb::kLength, dcb::kSize);
  record.Set32(offset + dcb::kBaudRate, BpsFromSpeed(::cfgetospeed(&settings)));
  record.Set32(offset + dcb::kFlags, flags);
  record.Set16(offset + dcb::kXonLim, 0);
  record.Set16(offset + dcb::kXoffLim, 0);
  record.Set8(offset + dcb::kByteSize, static_cast<std::uint8_t>(CharSize(cflag)));
  record.Set8(offset + dcb::kParity, parity);
  record.Set8(offset + dcb::kStopBits, (cflag & CSTOPB) ? dcb::kTwoStopBits : dcb::kOneStopBit);
  record.Set8(offset + dcb::kXonChar, settings.c_cc[VSTART]);
  record.Set8(offset + dcb::kXoffChar, settings.c_cc[VSTOP]);
}

bool ReadDcb(const Record& record, std::uint32_t offset, struct termios& settings) {
  struct termios changed = settings;
  const std::uint32_t bps = record.Get32(offset + dcb::kBaudRate);
  if (bps != 0 && bps != BpsFromSpeed(::cfgetospeed(&settings))) {
    const std::optional<speed_t> speed = SpeedFromBps(bps);
    if (!speed) return false;
    ::cfsetispeed(&changed, *speed);
    ::cfsetospeed(&changed, *speed);
  }

  changed.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  switch (record.Get8(offset + dcb::kByteSize)) {
    case 5: changed.c_cflag |= CS5; break;
    case 6: changed.c_cflag |= CS6; break;
    case 7: changed.c_cflag |= CS7; break;
    case 8: changed.c_cflag |= CS8; break;
    default: return false;
  }
  switch (record.Get8(offset + dcb::kParity)) {
    case dcb::kNoParity: break;
    case dcb::kOddParity: changed.c_cflag |= PARENB | PARODD; break;
    case dcb::kEvenParity: changed.c_cflag |= PARENB; break;
    case dcb::kMarkParity: changed.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case dcb::kSpaceParity: changed.c_cflag |= PARENB | CMSPAR; break;
    default: return false;
  }
  switch (record.Get8(offset + dcb::kStopBits)) {
    case dcb::kOneStopBit: break;
    case dcb::kTwoStopBits: changed.c_cflag |= CSTOPB; break;
    default: return false;  // 1.5 stop bits: no termios flag for it
  }

  const std::uint32_t flags = record.Get32(offset + dcb::kFlags);
  if (flags & dcb::kOutxCtsFlow) changed.c_cflag |= CRTSCTS;
  changed.c_iflag &= ~(INPCK | IXON | IXOFF);
  if (flags & dcb::kParityCheck) changed.c_iflag |= INPCK;
  if (flags & dcb::kOutX) changed.c_iflag |= IXON;
  if (flags & dcb::kInX) changed.c_iflag |= IXOFF;
  changed.c_cc[VSTART] = record.Get8(offset + dcb::kXonChar);
  changed.c_cc[VSTOP] = record.Get8(offset + dcb::kXoffChar);
  settings = changed;
  return true;
}

bool WriteCommConfig(const struct termios& settings, const ModemState& modem, Record& config) {
  if (config.size() < kCommConfigNeededSize) return false;
  config.Set16(4, 1);  // wVersion
  WriteDcb(settings, config, 8);
  config.Set32(36, kPstModem);
  config.Set32(40, kCommConfigProviderOffset);
  config.Set32(44, kModemSettingsSize);
  const std::uint32_t m = kCommConfigProviderOffset;
  config.Set32(m + 0, kModemSettingsSize);     // dwActualSize
  config.Set32(m + 4, kModemSettingsSize);     // dwRequiredSize
  config.Set32(m + 16, modem.dial_timeout_s);  // dwCallSetupFailTimer
  config.Set32(m + 40, modem.connect_rate);    // dwNegotiatedDCERate
  return true;
}

std::uint32_t ModemDevCapsSize(const PortState& port) {
  return kModemDevCapsFixedSize + static_cast<std::uint32_t>(port.model.size()) + 1;
}

bool WriteCommProp(const PortState& port, Record& properties) {
  std::uint32_t available = properties.size();
  if (const std::uint16_t packet = properties.Get16(field::kPropPacketLength); packet != 0) {
    available = std::min<std::uint32_t>(available, packet);
  }
  if (available < kCommPropFixedSize) return false;

  std::uint32_t settable_baud = kBaudUser;
  for (const BaudBit& entry : kBaudBits) settable_baud |= entry.bit;
  const std::uint32_t required = ModemDevCapsSize(port);

  properties.Set16(0, static_cast<std::uint16_t>(
                          std::min<std::uint32_t>(field::kPropProvChar + required, 0xFFFF)));
  properties.Set16(2, 2);  // wPacketVersion
  properties.Set32(4, kSpSerialComm);
  properties.Set32(20, kBaudUser);
  properties.Set32(24, kPstModem);
  properties.Set32(field::kPropProvCapabilities, kPcfRtsCts | kPcfRlsd | kPcfParityCheck |
                                                     kPcfXonXoff | kPcfSetXChar | kPcfIntTimeouts);
  properties.Set32(32, kSettableAll);
  properties.Set32(36, settable_baud);
  properties.Set16(40, kSettableData);
  properties.Set16(42, kSettableStopParity);
  properties.Set32(44, port.out_queue);
  properties.Set32(48, port.in_queue);

  // MODEMDEVCAPS, its offsets relative to its own start.
  const std::uint32_t b = field::kPropProvChar;
  const std::uint32_t room = available - b;
  properties.Set32(b + 4, required);
  if (room < kModemDevCapsFixedSize) {
    properties.Set32(b, 0);
    return true;
  }
  properties.Set32(b + 16, 0x00010000);  // dwModemProviderVersion
  properties.Set32(b + 48, 255);         // dwCallSetupFailTimer: the most S7 takes
  properties.Set32(b + 68, std::prev(std::end(kSpeeds))->bps);  // dwMaxDTERate
  if (room < required) {
    properties.Set32(b, kModemDevCapsFixedSize);
    return true;
  }
  properties.Set32(b + 28, kModemDevCapsFixedSize);
  properties.Set32(b + 32, static_cast<std::uint32_t>(port.model.size()) + 1);
  properties.PutBytes(b + kModemDevCapsFixedSize, port.model);
  properties.Set8(b + kModemDevCapsFixedSize + static_cast<std::uint32_t>(port.model.size()), 0);
  properties.Set32(b, required);
  return true;
}

}  // namespace korval::platform::posix
