#include <gtest/gtest.h>

#include "harness/line_harness.h"
#include "link/ebcdic.h"
#include "platform/sim/sim_telephony.h"

namespace korval::exchange {
namespace {

namespace sim = platform::sim;
using testing::kJobPath;

std::string Ebcdic(std::string text) {
  link::ToEbcdic(text);
  return text;
}

// A far end that answers the card with a record whose every character counts: the
// answer record's last character must not be taken for statement data.
class TightAnswerBank final : public sim::SimFarEnd {
 public:
  TightAnswerBank(sim::SimWorld& world, std::string answer, std::uint64_t data_delay_ms)
      : world_(world), answer_(std::move(answer)), data_delay_ms_(data_delay_ms) {}
  void OnConnect(sim::SimSerialPort& port, std::uint64_t) override { port.Deliver("TRANSPAC\r\n"); }
  void OnWrite(sim::SimSerialPort& port, const std::string& bytes, std::uint64_t) override {
    seen_ += bytes;
    if (!com_sent_ && seen_.find("175\r") != std::string::npos) {
      com_sent_ = true;
      seen_.clear();
      port.Deliver("\r\nCOM\r\n");
    } else if (com_sent_ && !answered_ && seen_.size() >= 81) {
      answered_ = true;
      port.Deliver(Ebcdic(answer_));
      port.DeliverAt(world_.Now() + data_delay_ms_,
                     Ebcdic("DATA\r" + std::string("FF") + std::string(18, ' ')));
    }
  }

 private:
  sim::SimWorld& world_;
  std::string answer_;
  std::uint64_t data_delay_ms_;
  std::string seen_;
  bool com_sent_ = false;
  bool answered_ = false;
};

TEST(AnswerRecordTest, WholeRecordIsSkippedAndShortOneNeverOverruns) {
  struct Case {
    std::string answer;
    std::uint64_t data_delay_ms;
  };
  // A record cut short: the data that comes later is all stored.
  for (const Case& c : {Case{"OK 12345678ABCDEFGHZ", 0}, Case{"OK 12", 3000}}) {
    testing::LineHarness h;
    h.telephony.ModifyDevice(0, [](sim::SimLineDevice& d) { d.script = sim::ConnectingCall(500); });
    TightAnswerBank bank(h.sim.world, c.answer, c.data_delay_ms);
    h.telephony.Port().SetFarEnd(&bank);
    h.JobFile(
        testing::KorvalSection({"NumeroAbonne=175", "TypeAction=R", "FichierAssocie=C:\\R.TXT"}));
    EXPECT_EQ(h.Run(), app::kExitSucceeded);
    const std::string stored = h.sim.files.Get("C:\\R.TXT").value_or("");
    EXPECT_EQ(stored.substr(0, 5), "DATA\r") << c.answer;
    EXPECT_EQ(h.process.job.detail1, "9999") << c.answer;  // from the end record
    const auto& windows = h.sim.windows;
    EXPECT_TRUE(windows.MessageBoxes().empty()) << c.answer;
    h.telephony.Port().SetFarEnd(nullptr);
  }
}

}  // namespace
}  // namespace korval::exchange
