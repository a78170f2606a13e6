// The receive path of a statement: the bank's side of the line is the fuzzer's
// input, in chunks at chosen times, after a PAD that connects. The bytes go through
// the read thread, the conversion, the receive buffer, the answer-record parsing,
// the capture file and the end-record search. The job ends within its bounds, and
// Retour=1 only when the file holds all the bank sent from its answer record up to
// its end record; the previous statement is never lost.
//
// Input: a byte of flags (bit 0: no previous statement; bit 1: the disk fills up
// after the next byte's count of bytes), that byte, then chunks: a byte choosing the
// pause before the chunk, a length byte (1 to 64), that many bytes (EBCDIC).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/comm_app.h"
#include "exchange/records.h"
#include "harness/exchange_harness.h"
#include "link/ebcdic.h"

namespace {

using korval::platform::sim::SimFarEnd;
using korval::platform::sim::SimSerialPort;
using korval::platform::sim::SimWorld;

constexpr std::uint64_t kPausesMs[8] = {0, 1, 20, 100, 500, 1500, 2500, 40'000};
const std::string kPrevious = "ANCIEN RELEVE\r";

struct Chunk {
  std::uint64_t pause_ms;
  std::string bytes;
};

// The PAD announces itself and connects the call line; the bank then sends the
// chunks once the card and its carriage return have come.
class FuzzedBank final : public SimFarEnd {
 public:
  FuzzedBank(SimWorld& world, std::vector<Chunk> chunks)
      : world_(world), chunks_(std::move(chunks)) {}

  void OnConnect(SimSerialPort& port, std::uint64_t at_ms) override {
    world_.At(at_ms + 500, [&port] { port.Deliver("\r\n\r\nTRANSPAC\r\n"); });
  }
  void OnWrite(SimSerialPort& port, const std::string& bytes, std::uint64_t at_ms) override {
    written_ += bytes;
    if (phase_ == 0 && written_.find('\r') != std::string::npos) {
      phase_ = 1;
      written_.clear();
      world_.At(at_ms + 300, [&port] { port.Deliver("\r\nCOM\r\n"); });
    } else if (phase_ == 1 && written_.size() > 80 && written_[80] == '\r') {
      phase_ = 2;
      std::uint64_t at = at_ms;
      for (const Chunk& chunk : chunks_) {
        at += chunk.pause_ms;
        world_.At(at, [this, &port, bytes = chunk.bytes] {
          if (!port.Carrier()) return;
          delivered_ += bytes;
          port.Deliver(bytes);
        });
      }
    }
  }

  // What the line carried after the card, as the program converts it.
  std::string Received() const {
    std::string text = delivered_;
    for (char& c : text) korval::link::FromEbcdic(c);
    return text;
  }

 private:
  SimWorld& world_;
  std::vector<Chunk> chunks_;
  std::string written_;
  int phase_ = 0;
  std::string delivered_;
};

void Fail(const std::string& what) {
  std::fprintf(stderr, "receive path: %s\n", what.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool previous = (data[0] & 1) == 0;
  const bool disk_fills = (data[0] & 2) != 0;
  const std::size_t room = data[1];
  std::vector<Chunk> chunks;
  std::uint64_t span_ms = 0;
  for (std::size_t at = 2; at + 1 < size && chunks.size() < 64;) {
    const std::uint64_t pause = kPausesMs[data[at] & 7];
    const std::size_t length = std::min<std::size_t>((data[at + 1] & 63) + 1, size - at - 2);
    at += 2;
    chunks.push_back({pause, std::string(reinterpret_cast<const char*>(data + at), length)});
    at += length;
    span_ms += pause;
  }

  using namespace korval::testing;
  ExchangeHarness h;
  h.sim.version.platform_id = 1;
  h.WinIni("[KORVAL]\r\nDelaiReponse=15\r\nDelaiReception=30\r\n");
  if (previous) h.sim.files.Put(kStatementFile, kPrevious);
  if (disk_fills) h.sim.files.FillDiskAt(kStatementFile, room);
  FuzzedBank bank(h.sim.world, std::move(chunks));
  h.telephony.Port().SetFarEnd(&bank);
  const std::uint64_t bound_ms = 200'000 + span_ms;
  h.sim.windows.SetModalLimit(bound_ms + 60'000);
  h.JobFile(KorvalSection({"NumeroAbonne=175000123", "TypeAction=R", "CarteParametre=CARTE",
                           std::string("FichierAssocie=") + kStatementFile}));
  const int status = h.Run();
  h.telephony.Port().SetFarEnd(nullptr);

  if (h.sim.windows.ModalAbandoned() || h.sim.world.Now() > bound_ms) Fail("ran past its bounds");
  if (h.serial.DoubleCloses() != 0 || h.serial.InvalidHandleUses() != 0) {
    Fail("a port handle used or closed once closed");
  }
  const std::optional<std::string> stored = h.sim.files.Get(kStatementFile);
  if (previous && stored != kPrevious && h.sim.files.Get(kStatementBackup) != kPrevious) {
    Fail("the previous statement is lost");
  }
  if ((h.JobKey("Retour") == "1") != (status == korval::app::kExitSucceeded)) {
    Fail("Retour and the exit status disagree");
  }
  if (status != korval::app::kExitSucceeded) return 0;

  // Capture began within the answer record's 20 characters, or after them and the
  // blanks that follow; from there the file holds everything up to the end record.
  const std::string received = bank.Received();
  const std::size_t answer = korval::exchange::FindAcceptance(received);
  if (answer == std::string::npos) Fail("success without an acceptance");
  const std::string file = stored.value_or("");
  const std::size_t first = file.find_first_not_of(" \t\n\v\f\r");
  const std::string kept = first == std::string::npos ? std::string() : file.substr(first);
  std::size_t latest = std::min(answer + korval::exchange::kAnswerRecordLength, received.size());
  latest = std::min(received.find_first_not_of(" \t\n\v\f\r", latest), received.size());
  for (std::size_t from = answer + 3; from <= latest; ++from) {
    if (received.compare(from, kept.size(), kept) != 0) continue;
    const std::size_t end = received.find(korval::exchange::kEndRecord, from);
    if (end != std::string::npos && end + 20 <= from + kept.size()) return 0;
  }
  Fail("success, but the file does not hold the statement up to its end record");
  return 0;
}
