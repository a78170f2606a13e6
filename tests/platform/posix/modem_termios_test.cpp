#include "platform/posix/modem_termios.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace korval::platform::posix {
namespace {

constexpr std::uint32_t kDcb = 8;  // the DCB's place in COMMCONFIG

struct termios Settings(speed_t speed = B9600) {
  struct termios settings;
  std::memset(&settings, 0, sizeof settings);
  MakeModemSettings(settings, speed);
  return settings;
}

TEST(ModemTermiosTest, MapsRatesBothWays) {
  const struct {
    std::uint32_t bps;
    bool known;
  } cases[] = {{300, true},   {1200, true},   {2400, true}, {9600, true},  {19200, true},
               {57600, true}, {115200, true}, {0, false},   {9601, false}, {14400, false}};
  for (const auto& c : cases) {
    const std::optional<speed_t> speed = SpeedFromBps(c.bps);
    EXPECT_EQ(speed.has_value(), c.known) << c.bps;
    if (speed) {
      EXPECT_EQ(BpsFromSpeed(*speed), c.bps);
    }
  }
  EXPECT_EQ(BpsFromSpeed(B0), 0u);
}

TEST(ModemTermiosTest, ModemSettingsAreRaw8N1WithoutSoftwareFlowControl) {
  const struct termios settings = Settings(B2400);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ISTRIP | INPCK | ICRNL), 0u);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(settings.c_oflag & OPOST, 0u);
  EXPECT_NE(settings.c_cflag & CREAD, 0u);
  EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B2400));
}

TEST(ModemTermiosTest, ConfigurationBlockRoundTripsAndRejectsStrangers) {
  struct termios settings = Settings(B19200);
  settings.c_cc[VSTART] = 0x42;
  const std::string block = SaveSettingsBlock(settings);
  const std::optional<struct termios> loaded = LoadSettingsBlock(block);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(std::memcmp(&*loaded, &settings, sizeof settings), 0);

  for (const std::string& bad :
       {std::string(), block.substr(1), block + "x", "X" + block.substr(1)}) {
    EXPECT_FALSE(LoadSettingsBlock(bad).has_value()) << bad.size();
  }
}

TEST(ModemTermiosTest, TheDcbSaysWhatTheTermiosSays) {
  Record config(kCommConfigNeededSize);
  WriteDcb(Settings(B9600), config, kDcb);
  EXPECT_EQ(config.Get32(field::kConfigDcbFlags) & kDcbParityFlag, 0u);
  EXPECT_EQ(config.Get8(field::kConfigByteSize), 8);
  EXPECT_EQ(config.Get8(field::kConfigParity), 0);
  EXPECT_EQ(config.Get8(field::kConfigStopBits), 0);
  EXPECT_EQ(config.Get32(kDcb + dcb::kBaudRate), 9600u);
  EXPECT_EQ(config.Get32(field::kConfigDcbFlags) & (dcb::kOutX | dcb::kInX), 0u);
  EXPECT_NE(config.Get32(field::kConfigDcbFlags) & dcb::kBinary, 0u);
}

TEST(ModemTermiosTest, DcbChangesReachTheTermiosAndComeBack) {
  const struct {
    std::uint8_t byte_size, parity, stop_bits;
    bool parity_check;
    tcflag_t cflag;  // within CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
  } cases[] = {
      {8, dcb::kNoParity, dcb::kOneStopBit, false, CS8},
      {7, dcb::kEvenParity, dcb::kOneStopBit, true, CS7 | PARENB},
      {8, dcb::kOddParity, dcb::kTwoStopBits, true, CS8 | PARENB | PARODD | CSTOPB},
      {7, dcb::kMarkParity, dcb::kOneStopBit, false, CS7 | PARENB | PARODD | CMSPAR},
      {5, dcb::kSpaceParity, dcb::kOneStopBit, false, CS5 | PARENB | CMSPAR},
  };
  constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  for (const auto& c : cases) {
    struct termios settings = Settings();
    Record config(kCommConfigNeededSize);
    WriteDcb(settings, config, kDcb);
    config.Set8(field::kConfigByteSize, c.byte_size);
    config.Set8(field::kConfigParity, c.parity);
    config.Set8(field::kConfigStopBits, c.stop_bits);
    std::uint32_t flags = config.Get32(field::kConfigDcbFlags) & ~kDcbParityFlag;
    if (c.parity_check) flags |= kDcbParityFlag;
    config.Set32(field::kConfigDcbFlags, flags);

    ASSERT_TRUE(ReadDcb(config, kDcb, settings)) << int{c.byte_size};
    EXPECT_EQ(settings.c_cflag & kFrame, c.cflag) << int{c.byte_size};
    EXPECT_EQ((settings.c_iflag & INPCK) != 0, c.parity_check);
    EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B9600));

    Record again(kCommConfigNeededSize);
    WriteDcb(settings, again, kDcb);
    EXPECT_EQ(again.Bytes(kDcb, dcb::kSize), config.Bytes(kDcb, dcb::kSize));
  }
}

TEST(ModemTermiosTest, RefusesWhatThePortCannotDo) {
  const struct {
    std::uint32_t offset;
    std::uint32_t value;
    bool wide;
  } cases[] = {
      {field::kConfigByteSize, 9, false},   {field::kConfigByteSize, 4, false},
      {field::kConfigParity, 5, false},     {field::kConfigStopBits, dcb::kOne5StopBits, false},
      {kDcb + dcb::kBaudRate, 14400, true},
  };
  for (const auto& c : cases) {
    const struct termios before = Settings();
    struct termios settings = before;
    Record config(kCommConfigNeededSize);
    WriteDcb(settings, config, kDcb);
    if (c.wide) {
      config.Set32(c.offset, c.value);
    } else {
      config.Set8(c.offset, static_cast<std::uint8_t>(c.value));
    }
    EXPECT_FALSE(ReadDcb(config, kDcb, settings)) << c.offset << " " << c.value;
    EXPECT_EQ(std::memcmp(&settings, &before, sizeof settings), 0);
  }
}

TEST(ModemTermiosTest, AChangedRateIsApplied) {
  struct termios settings = Settings(B9600);
  Record config(kCommConfigNeededSize);
  WriteDcb(settings, config, kDcb);
  config.Set32(kDcb + dcb::kBaudRate, 2400);
  ASSERT_TRUE(ReadDcb(config, kDcb, settings));
  EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B2400));
}

TEST(ModemTermiosTest, CommConfigCarriesAModemProviderBlock) {
  Record small(kCommConfigNeededSize - 1);
  EXPECT_FALSE(WriteCommConfig(Settings(), {}, small));
  Record config(100);
  ModemState modem;
  modem.dial_timeout_s = 60;
  modem.connect_rate = 2400;
  ASSERT_TRUE(WriteCommConfig(Settings(), modem, config));
  EXPECT_EQ(config.Get32(40), kCommConfigProviderOffset);
  EXPECT_EQ(config.Get32(44), kModemSettingsSize);
  EXPECT_EQ(config.Get32(kCommConfigProviderOffset + 16), 60u);
  EXPECT_EQ(config.Get32(kCommConfigProviderOffset + 40), 2400u);
}

TEST(ModemTermiosTest, CommPropIsReadInTwoPassesWithAnHonestRequiredSize) {
  PortState port;
  port.model = "/dev/ttyACM0";
  port.in_queue = 4096;
  port.out_queue = 4096;
  const std::uint32_t required = ModemDevCapsSize(port);

  Record first(kCommPropFirstSize);
  first.Set16(field::kPropPacketLength, kCommPropFirstSize);
  ASSERT_TRUE(WriteCommProp(port, first));
  EXPECT_NE(first.Get32(field::kPropProvCapabilities) & kPcfIntTimeouts, 0u);
  EXPECT_EQ(first.Get32(64), required);
  EXPECT_LT(first.Get32(60), required);  // dwActualSize: only the fixed part fitted
  EXPECT_EQ(first.Get32(60 + 32), 0u);   // no model name yet

  const std::uint32_t second_size = first.Get32(64) + 64;
  Record second(second_size);
  second.Set16(field::kPropPacketLength, static_cast<std::uint16_t>(second_size));
  ASSERT_TRUE(WriteCommProp(port, second));
  EXPECT_EQ(second.Get32(60), required);
  const std::uint32_t model_at = 60 + second.Get32(60 + 28);
  EXPECT_EQ(second.Bytes(model_at, second.Get32(60 + 32)), std::string("/dev/ttyACM0\0", 13));
  EXPECT_EQ(second.Get32(48), 4096u);  // dwCurrentRxQueue

  // wPacketLength limits the filling even in a bigger buffer.
  Record limited(512);
  limited.Set16(field::kPropPacketLength, 100);
  ASSERT_TRUE(WriteCommProp(port, limited));
  EXPECT_EQ(limited.Get32(60 + 32), 0u);

  Record tiny(40);
  EXPECT_FALSE(WriteCommProp(port, tiny));
}

}  // namespace
}  // namespace korval::platform::posix
