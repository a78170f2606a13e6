#include <gtest/gtest.h>

#include "line/call_control.h"
#include "line/growing_read.h"
#include "process/port_slot.h"

namespace korval::line {
namespace {

TEST(KeypadDigitsTest, LettersBecomeTheirKeys) {
  struct Case {
    std::string text, digits;
  };
  for (const Case& c :
       {Case{"1 AZ", "1 21"}, Case{"abcdefghijklmnopqrstuvwxyz", "22233344455566671778889991"},
        Case{"+33 (0) 0836", "+33 (0) 0836"},
        Case{"\xE9t\xE9",
             "\3518"
             "\xE9"}}) {
    std::string text = c.text;
    KeypadDigits(text);
    EXPECT_EQ(text, c.digits) << c.text;
  }
}

TEST(GrowingReadTest, GrowsToTheNeededSizeAndKeepsTheRecord) {
  std::optional<platform::Record> held = platform::Record(8);
  std::vector<std::uint32_t> sizes;
  const auto result = GrowingRead(held, 240, -5, [&](platform::Record& record) {
    sizes.push_back(record.TotalSize());
    record.Set32(platform::field::kNeededSize, 300);
    if (record.TotalSize() >= 300) record.Set32(60, 0x10);
    return 0;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(sizes, (std::vector<std::uint32_t>{240, 300}));
  ASSERT_TRUE(held);
  EXPECT_EQ(held->Get32(60), 0x10u);
}

TEST(GrowingReadTest, ErrorFreesTheHeldCopy) {
  std::optional<platform::Record> held = platform::Record(8);
  EXPECT_EQ(GrowingRead(held, 24, -5, [](platform::Record&) { return -7; }), -7);
  EXPECT_FALSE(held);
}

TEST(GrowingReadTest, ProviderThatNeverSettlesIsRefused) {
  std::optional<platform::Record> held;
  const auto result = GrowingRead(held, 24, -5, [](platform::Record& record) {
    record.Set32(platform::field::kNeededSize, record.TotalSize() + 1);
    return 0;
  });
  EXPECT_EQ(result, -5);
  EXPECT_FALSE(held);
}

TEST(PortSlotTest, CloseOnceAndReplace) {
  PortSlot slot;
  EXPECT_FALSE(slot.TakeOpen());
  EXPECT_FALSE(slot.Replace(7));
  EXPECT_TRUE(slot.open());
  EXPECT_EQ(slot.Replace(9), std::optional<platform::PortHandle>(7));
  EXPECT_EQ(slot.TakeOpen(), std::optional<platform::PortHandle>(9));
  EXPECT_FALSE(slot.TakeOpen());  // a second close finds nothing to close
  EXPECT_EQ(slot.handle(), 9u);   // the value stays, as the handle did
}

}  // namespace
}  // namespace korval::line
