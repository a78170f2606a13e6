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
    ::testing::Values(ChunkCase{"AB\r\nC", false, "AB\rC"},  // line feed dropped
                      ChunkCase{"\xC1", false, "A"},         // bit 7 cleared
                      ChunkCase{std::string("\x01\x09\x0A\x00\x1B", 5), false, ""},
                      ChunkCase{"\x7F\x20", false, "\x7F "}, ChunkCase{"\xC1\xF1\x40", true, "A1 "},
                      ChunkCase{std::string("\x00\x25\x0D", 3), true, "  \r"}));

TEST(BackupNameTest, StaysBesideTheFile) {
  struct Case {
    const char* name;
    const char* backup;
  };
  for (const Case& c :
       {Case{"C:\\DATA\\RELEVE.TXT", "C:\\DATA\\RELEVE.BAK"},
        Case{"/data/releve.txt", "/data/releve.BAK"}, Case{"RELEVE", "RELEVE.BAK"},
        Case{"/data/x", "/data/x.BAK"}, Case{"/data/releve.2026", "/data/releve.2026.BAK"},
        Case{"/data/a.b/c", "/data/a.b/c.BAK"}, Case{"C:\\A.B\\C", "C:\\A.B\\C.BAK"},
        Case{"/data/releve.bak", "/data/releve.bak.BAK"}, Case{"ABC", "ABC.BAK"}}) {
    EXPECT_EQ(BackupName(c.name), c.backup) << c.name;
  }
}

struct CaptureHarness : testing::JobHarness {
  CaptureHarness() { process.line.telephony_ready = true; }
  std::string File(const std::string& path) { return sim.files.Get(path).value_or("<none>"); }
  void Capture(const std::string& text) {
    ReceiveBusySection section(process);
    WriteCapture(process, text);
  }
};

TEST(OpenCaptureFileTest, CapturesBesideTheStatementUntilItIsComplete) {
  CaptureHarness h;
  h.sim.files.Put("C:\\DATA\\RELEVE.TXT", "old statement");
  h.sim.files.Put("C:\\DATA\\RELEVE.BAK", "older statement");
  OpenCaptureFile(h.process, "C:\\DATA\\RELEVE.TXT", true);
  EXPECT_TRUE(h.process.receive.capture_enabled);
  h.Capture("new");
  EXPECT_EQ(h.File("C:\\DATA\\RELEVE.TXT"), "old statement");
  EXPECT_EQ(h.File("C:\\DATA\\RELEVE.BAK"), "older statement");
  const std::string temporary = h.process.receive.capture_path;
  EXPECT_EQ(h.File(temporary), "new");
  EXPECT_TRUE(CommitCaptureFile(h.process));
  EXPECT_EQ(h.File("C:\\DATA\\RELEVE.TXT"), "new");
  EXPECT_EQ(h.File("C:\\DATA\\RELEVE.BAK"), "old statement");
  EXPECT_FALSE(h.sim.files.Exists(temporary));
}

TEST(OpenCaptureFileTest, OnlyRecordsTheSwitchWithoutTelephonyOrName) {
  CaptureHarness h;
  h.sim.files.Put("C:\\R.TXT", "kept");
  h.process.line.telephony_ready = false;
  OpenCaptureFile(h.process, "C:\\R.TXT", true);
  EXPECT_TRUE(h.process.receive.capture_enabled);
  EXPECT_EQ(h.File("C:\\R.TXT"), "kept");
  EXPECT_TRUE(h.process.receive.capture_path.empty());

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
