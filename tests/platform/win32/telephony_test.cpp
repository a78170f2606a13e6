// The telephony back-end against Wine's tapi32, whose calls are stubs: it initialises
// with no line device and answers nothing else.

#include <gtest/gtest.h>

#include <windows.h>

#include "app/comm_app.h"
#include "line/telephony_setup.h"
#include "platform/win32/win32_port_id.h"
#include "win32_line_platform.h"

namespace korval::platform::win32 {
namespace {

constexpr std::int32_t kInvalPointer = static_cast<std::int32_t>(0x80000035);

TEST(Win32TelephonyTest, InitialisesWithNoDeviceWhereTheSystemHasNone) {
  Win32Telephony telephony;
  std::uint32_t app = 0;
  std::uint32_t count = 7;  // the stub writes no count: the wrapper must
  ASSERT_EQ(0, telephony.lineInitialize(
                   &app, reinterpret_cast<InstanceHandle>(GetModuleHandleA(nullptr)),
                   [](auto...) {}, "TAPIProcess", &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0, telephony.lineShutdown(app));
}

// The job file is not touched and the one box is the start-up's own.
TEST(Win32TelephonyTest, StartUpFailsCleanlyOnTheStubs) {
  Win32Telephony telephony;
  Win32SerialPorts serial;
  testing::LinePlatform line(telephony, serial);
  const std::string job = "C:\\korval_tapi_test.job";
  DeleteFileA(job.c_str());

  EXPECT_EQ(app::kExitNoTelephony, app::RunCommApp(line.process, "/B:" + job));

  const auto boxes = line.windows.Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Initialisation de TAPI impossible !", boxes[0].text);
  EXPECT_EQ("korvalcom", boxes[0].title);
  EXPECT_EQ(kMbOk | kMbIconExclamation, boxes[0].style);
  EXPECT_FALSE(line::IsTelephonyReady(line.process));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(job.c_str()));
}

// A record whose dwTotalSize promises more room than it has never reaches the API.
TEST(Win32TelephonyTest, RefusesRecordsThatClaimMoreRoomThanTheyHave) {
  Win32Telephony telephony;
  Record oversold(kVarStringSize);
  oversold.Set32(field::kTotalSize, 4096);
  Record tiny(8);
  for (Record* record : {&oversold, &tiny}) {
    const Record before = *record;
    EXPECT_EQ(kInvalPointer, telephony.lineGetDevConfig(0, *record, kDataModemClass));
    EXPECT_EQ(kInvalPointer,
              telephony.lineGetID(1, 0, 0, kCallSelectLine, *record, kDataModemClass));
    EXPECT_EQ(kInvalPointer, telephony.lineGetDevCaps(1, 0, kApiVersion14, 0, *record));
    EXPECT_EQ(kInvalPointer,
              telephony.lineTranslateAddress(1, 0, kApiVersion14, "+33 (0) 1", 0, 0, *record));
    EXPECT_EQ(before.Bytes(0, before.size()), record->Bytes(0, record->size()));
  }
}

Record WideAnswer(std::uint32_t total, std::uint64_t handle, const std::string& name) {
  Record wide(total);
  const auto size = static_cast<std::uint32_t>(8 + name.size());
  wide.Set32(field::kNeededSize, kVarStringSize + size);
  if (total < kVarStringSize + size) return wide;
  wide.Set32(field::kUsedSize, kVarStringSize + size);
  wide.Set32(field::kVarStringFormat, 4);  // STRINGFORMAT_BINARY
  wide.Set32(field::kVarStringSize, size);
  wide.Set32(field::kVarStringOffset, kVarStringSize);
  wide.Set32(kVarStringSize, static_cast<std::uint32_t>(handle));
  wide.Set32(kVarStringSize + 4, static_cast<std::uint32_t>(handle >> 32));
  wide.PutBytes(kVarStringSize + 8, name);
  return wide;
}

// What the line code reads: the handle's 32 bits first, then the name, sizes to match.
TEST(Win32TelephonyTest, NarrowsAWin64PortHandleForTheLineCode) {
  const std::string name("COM1\0", 5);
  struct Case {
    std::uint32_t total;
    std::uint64_t handle;
    std::uint32_t want_needed;
    std::uint32_t want_string_size;
    std::uint32_t want_handle;
  };
  const Case cases[] = {
      {24 + 8 + 5, 0xABCD, 24 + 4 + 5, 4 + 5, 0xABCD},
      {64, 0xFFFFFFFFFFFFFF9Cull, 24 + 4 + 5, 4 + 5, 0xFFFFFF9C},
      {24, 0xABCD, 24 + 4 + 5, 0, 0},  // too small: only the size, for a second read
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.total);
    const Record wide = WideAnswer(c.total, c.handle, name);
    Record id(c.total >= 8 ? c.total - 4 : c.total);
    NarrowPortId(wide, id, 8);
    EXPECT_EQ(id.size(), id.TotalSize());
    EXPECT_EQ(c.want_needed, id.NeededSize());
    EXPECT_EQ(c.want_string_size, id.Get32(field::kVarStringSize));
    if (c.want_string_size == 0) continue;
    const std::uint32_t offset = id.Get32(field::kVarStringOffset);
    EXPECT_EQ(c.want_handle, id.Get32(offset));
    EXPECT_EQ(name, id.Bytes(offset + 4, c.want_string_size - 4));
  }
}

}  // namespace
}  // namespace korval::platform::win32
