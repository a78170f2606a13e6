#include "link/receive_buffer.h"

#include <gtest/gtest.h>

#include "harness/job_harness.h"
#include "link/receive_busy.h"

namespace korval::link {
namespace {

struct ChunkCase {
  std::string bytes;
  bool ebcdic;
  std::string text;
};

class ConvertChunkTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ConvertChunkTest, FiltersOrConverts) {
  EXPECT_EQ(ConvertChunk(GetParam().bytes, GetParam().ebcdic), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ConvertChunkTest,
    ::testing::Values(
        ChunkCase{"AB\r\nC", false, "AB\rC"},           // line feed dropped
        ChunkCase{"\xC1", false, "A"},                  // bit 7 cleared
        ChunkCase{std::string("\x01\x09\x0A\x00\x1B", 5), false, ""},
        ChunkCase{"\x7F\x20", false, "\x7F "},
        ChunkCase{"\xC1\xF1\x40", true, "A1 "},
        ChunkCase{std::string("\x00\x25\x0D", 3), true, "  \r"}));

TEST(BackupNameTest, DropsTheLastFourCharacters) {
  EXPECT_EQ(BackupName("C:\\DATA\\RELEVE.TXT"), "C:\\DATA\\RELEVE.BAK");
  EXPECT_EQ(BackupName("RELEVE"), "RE.BAK");
  EXPECT_EQ(BackupName("ABC"), ".BAK");
}

struct CaptureHarness : testing::JobHarness {
  CaptureHarness() { process.line.telephony_ready = true; }
  std::string File(const std::string& path) { return sim.files.Get(path).value_or("<none>"); }
  void Capture(const std::string& text) {
    ReceiveBusySection section(process);
    WriteCapture(process, text);
  }
};

TEST(OpenCaptureFileTest, RotatesThePreviousStatement) {
  CaptureHarness h;
  h.sim.files.Put("C:\\DATA\\RELEVE.TXT", "old statement");
  h.sim.files.Put("C:\\DATA\\RELEVE.BAK", "older statement");
  OpenCaptureFile(h.process, "C:\\DATA\\RELEVE.TXT", true);
  EXPECT_EQ(h.File("C:\\DATA\\RELEVE.BAK"), "old statement");
  EXPECT_EQ(h.File("C:\\DATA\\RELEVE.TXT"), "");
  EXPECT_TRUE(h.process.receive.capture_enabled);
  h.Capture("new");
  EXPECT_EQ(h.File("C:\\DATA\\RELEVE.TXT"), "new");
}

TEST(OpenCaptureFileTest, EmptyOrMissingTargetNeverReplacesTheBackup) {
  for (bool empty_target : {true, false}) {
    CaptureHarness h;
    if (empty_target) h.sim.files.Put("C:\\R.TXT", "");
    h.sim.files.Put("C:\\R.BAK", "last good statement");
    OpenCaptureFile(h.process, "C:\\R.TXT", true);
    EXPECT_EQ(h.File("C:\\R.BAK"), "last good statement");
    EXPECT_EQ(h.File("C:\\R.TXT"), "");
  }
}

TEST(OpenCaptureFileTest, OnlyRecordsTheSwitchWithoutTelephonyOrName) {
  CaptureHarness h;
  h.sim.files.Put("C:\\R.TXT", "kept");
  h.process.line.telephony_ready = false;
  OpenCaptureFile(h.process, "C:\\R.TXT", true);
  EXPECT_TRUE(h.process.receive.capture_enabled);
  EXPECT_EQ(h.File("C:\\R.TXT"), "kept");
  EXPECT_FALSE(h.sim.files.Exists("C:\\R.BAK"));

  h.process.line.telephony_ready = true;
  OpenCaptureFile(h.process, "", true);
  EXPECT_FALSE(h.process.receive.capture_file);
}

TEST(OpenCaptureFileTest, CreationFailureTurnsCaptureOff) {
  CaptureHarness h;
  h.sim.files.FailCreate("C:\\R.TXT");
  OpenCaptureFile(h.process, "C:\\R.TXT", true);
  EXPECT_FALSE(h.process.receive.capture_enabled);
  h.process.receive.capture_enabled = true;  // enabled but no file: nothing written
  ReceiveBusySection section(h.process);
  EXPECT_EQ(WriteCapture(h.process, "text"), 0u);
}

}  // namespace
}  // namespace korval::link
