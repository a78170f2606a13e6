#include "platform/hayes/modem_records.h"

#include <gtest/gtest.h>

#include <string>

namespace korval::platform::hayes {
namespace {

// The growing read as the line code makes it: the fixed size first, then the needed.
template <typename Fill>
Record GrowingRead(std::uint32_t initial, Fill fill, int* rounds) {
  Record record(initial);
  *rounds = 0;
  for (;;) {
    ++*rounds;
    EXPECT_EQ(fill(record), 0);
    if (record.TotalSize() >= record.NeededSize() || *rounds > 3) return record;
    record = Record(record.NeededSize());
  }
}

std::string Text(const Record& record, std::uint32_t size_field, std::uint32_t offset_field) {
  const std::uint32_t size = record.Get32(size_field);
  if (size == 0) return {};
  std::string text = record.Bytes(record.Get32(offset_field), size);
  EXPECT_EQ(text.back(), '\0');
  text.pop_back();
  return text;
}

TEST(ModemRecordsTest, TranslatesCanonicalAddressesAsDialledFromFrance) {
  const struct {
    const char* canonical;
    const char* dialable;
    std::uint32_t country;
  } cases[] = {
      {"+33 (0) 0123", "000123", 33},
      {"+33 (0) 36064624", "0036064624", 33},
      {"+33 (1) 45 67-89.01", "0145678901", 33},
      {"+33 0123", "0123", 33},
      {"+44 (20) 7946", "0044207946", 44},
      {"+1 (0) 555", "0010555", 1},
      {"+33 (0) 0123|55^Banque", "000123", 33},
      {"36064624", "36064624", 0},  // not canonical: dialled as it is
      {"T0123", "T0123", 0},
  };
  for (const auto& c : cases) {
    const std::optional<Translation> translation = TranslateAddress(c.canonical);
    ASSERT_TRUE(translation.has_value()) << c.canonical;
    EXPECT_EQ(translation->dialable, c.dialable) << c.canonical;
    EXPECT_EQ(translation->dest_country, c.country) << c.canonical;
  }
}

TEST(ModemRecordsTest, RefusesMalformedCanonicalAddresses) {
  for (const char* bad :
       {"", "+", "+ (0) 123", "+33 (0 123", "+33 (0A) 123", "+33 (0) ", "+33 (0) 12X4"}) {
    EXPECT_FALSE(TranslateAddress(bad).has_value()) << bad;
  }
}

TEST(ModemRecordsTest, TranslateOutputCountsTheNulAndGrows) {
  const Translation translation = *TranslateAddress("+33 (0) 0123");
  Record small(40);
  ASSERT_EQ(FillTranslateOutput(translation, small), 0);
  EXPECT_EQ(small.NeededSize(), 40u + 7 + 7);
  EXPECT_EQ(small.Get32(field::kDialableSize), 0u);  // nothing placed in too small a record

  Record output(kTranslateOutputSize);
  ASSERT_EQ(FillTranslateOutput(translation, output), 0);
  EXPECT_EQ(output.Get32(field::kDialableSize), 7u);
  EXPECT_EQ(output.Bytes(output.Get32(field::kDialableOffset), 7), std::string("000123\0", 7));
  EXPECT_EQ(output.TotalSize(), kTranslateOutputSize);
}

TEST(ModemRecordsTest, FillsOnlyTheFixedPartUntilTheRecordIsBigEnough) {
  RecordFiller filler(24);
  filler.Set32(12, 0x77);
  filler.AddText(16, 20, "abc");
  const struct {
    std::uint32_t total;
    std::int32_t result;
    std::uint32_t used;
    std::uint32_t size;
  } cases[] = {
      {8, kLineErrStructureTooSmall, 0, 0},
      {24, 0, 24, 0},
      {27, 0, 24, 0},
      {28, 0, 28, 4},
      {64, 0, 28, 4},
  };
  for (const auto& c : cases) {
    Record record(c.total);
    EXPECT_EQ(filler.Finish(record), c.result) << c.total;
    EXPECT_EQ(record.NeededSize(), 28u) << c.total;
    EXPECT_EQ(record.Get32(field::kUsedSize), c.used) << c.total;
    EXPECT_EQ(record.Get32(16), c.size) << c.total;
    EXPECT_EQ(record.TotalSize(), c.total) << c.total;
  }
}

TEST(ModemRecordsTest, DeviceCapsDescribeADataModemLine) {
  ModemLineConfig config{"MODEM0", "/dev/ttyACM0", 19200, "ATZ"};
  int rounds = 0;
  const Record caps = GrowingRead(
      kDevCapsSize, [&](Record& r) { return FillDevCaps(0, config, r); }, &rounds);
  EXPECT_EQ(rounds, 2);
  EXPECT_EQ(caps.Get32(field::kDevMediaModes), kMediaModeDataModem);
  EXPECT_EQ(caps.Get32(field::kDevNumAddresses), 1u);
  EXPECT_EQ(caps.Get32(56), 19200u);  // dwMaxRate
  EXPECT_EQ(caps.Get32(field::kDevLineStates), LineStatesOf());
  EXPECT_NE(LineStatesOf(), 0u);
  EXPECT_EQ(Text(caps, 32, 36), "MODEM0 (/dev/ttyACM0)");
  EXPECT_EQ(Text(caps, 12, 16), "Modem AT sur /dev/ttyACM0");
}

TEST(ModemRecordsTest, TheAddressCanAnswerAndMakeCalls) {
  Record caps(kAddressCapsSize);
  ASSERT_EQ(FillAddressCaps(0, {}, caps), 0);
  EXPECT_TRUE(caps.Get32(field::kAddrCallFeatures) & kCallFeatureAnswer);
  EXPECT_EQ(caps.Get32(field::kAddrAddressStates), AddressStatesOf());
  EXPECT_EQ(caps.NeededSize(), kAddressCapsSize);

  const struct {
    LineActivity activity;
    std::uint32_t features;
  } cases[] = {
      {{true, false, false}, kAddrFeatureMakeCall},
      {{true, true, false}, kAddrFeatureMakeCall},  // a finished call not yet released
      {{true, true, true}, 0},
  };
  for (const auto& c : cases) {
    Record status(kAddressStatusSize);
    ASSERT_EQ(FillAddressStatus(c.activity, status), 0);
    EXPECT_EQ(status.Get32(field::kAddrStatusFeatures), c.features);
    EXPECT_EQ(status.Get32(16), c.activity.call_active ? 1u : 0u);
  }
}

TEST(ModemRecordsTest, TranslateCapsNameOneLocationInFrance) {
  int rounds = 0;
  const Record caps = GrowingRead(kTranslateCapsSize, FillTranslateCaps, &rounds);
  EXPECT_EQ(rounds, 2);
  ASSERT_EQ(caps.Get32(12), 1u);
  const std::uint32_t entry = caps.Get32(20);
  EXPECT_EQ(caps.Get32(16), 68u);
  EXPECT_EQ(caps.Get32(entry + 12), 33u);
  EXPECT_EQ(caps.Bytes(caps.Get32(entry + 8), caps.Get32(entry + 4)), std::string("France\0", 7));
}

TEST(ModemRecordsTest, VarStringHoldsItsBytes) {
  Record var(kVarStringSize + 3);
  ASSERT_EQ(FillVarString(kStringFormatBinary, std::string("\x11\0\x13", 3), var), 0);
  EXPECT_EQ(var.Get32(field::kVarStringFormat), kStringFormatBinary);
  EXPECT_EQ(var.Get32(field::kVarStringSize), 3u);
  EXPECT_EQ(var.Bytes(var.Get32(field::kVarStringOffset), 3), std::string("\x11\0\x13", 3));
}

}  // namespace
}  // namespace korval::platform::hayes
