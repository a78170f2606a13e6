#include "soak/exchange_scenario.h"

#include <sstream>

#include "app/comm_app.h"
#include "engine/ebcdic.h"
#include "exchange/records.h"
#include "harness/exchange_harness.h"
#include "link/ebcdic.h"

namespace korval::soak {
namespace {

using testing::ExchangeHarness;
using testing::kDataFile;
using testing::kJobPath;
using testing::kStatementBackup;
using testing::kStatementFile;

constexpr std::uint32_t kReplyWaitS = 15;
constexpr std::uint32_t kAcknowledgementWaitS = 45;
constexpr std::uint32_t kReceptionQuietS = 30;

// The steps at which the far end can play each fault, by kind of exchange.
std::vector<netemu::Step> StepsFor(Fault fault, bool statement) {
  using netemu::Step;
  std::vector<Step> steps = {Step::kBanner, Step::kCom, Step::kCard};
  if (fault == Fault::kDropAtStep) steps.push_back(Step::kProf7);
  if (!statement) steps.push_back(Step::kOkf);
  if (statement && fault == Fault::kSilence) steps.push_back(Step::kEnd);
  return steps;
}

std::string Text(Draw& draw, std::size_t length) {
  // What both sides' character tables agree on, and never a run of blanks that
  // could make an end record.
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 ,.-/:+*\xE9";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text += kAlphabet[draw.Below(kAlphabet.size())];
  return text;
}

std::string DrawStatement(Draw& draw) {
  std::string statement;
  const std::uint64_t lines = draw.Chance(5) ? 0 : draw.Between(1, 40);
  for (std::uint64_t i = 0; i < lines; ++i) statement += Text(draw, draw.Between(1, 70)) + "\r";
  return statement;
}

std::string DrawFile(Draw& draw, std::size_t record_length) {
  std::string file = testing::RecordsOf(draw.Between(0, 8), record_length);
  switch (draw.Below(5)) {
    case 0: file += "\r\n"; break;
    case 1: file += "\x1A"; break;
    case 2:
      if (draw.Chance(30)) file += Text(draw, draw.Between(1, record_length - 1));
      break;
    default: break;
  }
  return file;
}

std::size_t RecordLength(char action) { return action == 'D' ? 560 : 160; }

std::string LStrip(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\n\v\f\r");
  return first == std::string::npos ? std::string() : text.substr(first);
}

// What the bank decodes from what the program converts.
std::string AsTheBankReadsIt(std::string text) {
  link::ToEbcdic(text);
  for (char& c : text) c = static_cast<char>(link::FromEbcdicByte(static_cast<std::uint8_t>(c)));
  return text;
}

// What the program decodes from what the bank sends.
std::string AsWeReadTheBank(const std::string& text) {
  std::string received = netemu::EncodeEbcdic(text);
  for (char& c : received) link::FromEbcdic(c);
  return received;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> WithoutResults(const std::string& text) {
  std::vector<std::string> kept;
  bool in_korval = false;
  for (const std::string& line : Lines(text)) {
    if (!line.empty() && line[0] == '[') in_korval = line == "[KORVAL]";
    if (in_korval && (line.starts_with("Retour=") || line.starts_with("Detail1=") ||
                      line.starts_with("Detail2="))) {
      continue;
    }
    kept.push_back(line);
  }
  return kept;
}

std::string JobFileText(const Scenario& s) {
  std::string text = "; ecrit par la comptabilite\r\n[KORVAL]\r\n";
  text += "NumeroAbonne=" + std::string(testing::kSubscriber) + "\r\n";
  text += std::string("TypeAction=") + s.action + "\r\n";
  text += "Societe=ACME\r\nRetour=1\r\n";
  text += "CarteParametre=CARTE SOAK " + std::string(1, s.action) + "\r\n";
  text += "FichierAssocie=" + std::string(s.action == 'R' ? kStatementFile : kDataFile) + "\r\n";
  text += "Detail1=AAAA\r\n[AUTRE]\r\nRetour=garde\r\n";
  return text;
}

std::string WinIniText(const Scenario& s) {
  std::string text = "[KORVAL]\r\nDelaiReponse=" + std::to_string(kReplyWaitS) +
                     "\r\nDelaiAcquittement=" + std::to_string(kAcknowledgementWaitS) +
                     "\r\nDelaiReception=" + std::to_string(kReceptionQuietS) + "\r\n";
  text += "[" + std::string(testing::kSubscriber) + "]\r\n";
  if (s.profile7) text += "PROFIL7=O\r\n";
  if (!s.nui.empty()) text += "NUI=" + s.nui + "\r\n";
  if (!s.complement.empty()) text += "COMPLEMENT=" + s.complement + "\r\n";
  return text;
}

std::size_t RecordsIn(const Scenario& s) {
  return s.file ? s.file->size() / RecordLength(s.action) : 0;
}

std::uint64_t StatementSpan(const Scenario& s) {
  const std::size_t chunks = s.statement.size() / std::max<std::size_t>(s.chunk_size, 1) + 2;
  return s.statement_delay_ms + chunks * s.chunk_pace_ms;
}

// Every bound of the exchange added up, with a margin for the hang-ups.
std::uint64_t BoundMs(const Scenario& s) {
  const std::uint64_t end_record = s.profile7 ? 4000 : 0;
  std::uint64_t bound = 70'000 + 60'000;  // dialling, and the wait for the connection
  bound += 3ull * kReplyWaitS * 1000;     // banner, COM, the card's answer
  bound += kAcknowledgementWaitS * 1000;  // OKF
  bound += 500 + 2000 + 2 * 2000;         // after PROF7, the record's tail, NT pauses
  bound += (RecordsIn(s) + 3) * (100 + end_record);
  bound += StatementSpan(s) + kReceptionQuietS * 1000;
  return bound + 30'000;
}

netemu::Options BankOptions(const Scenario& s) {
  netemu::Options o;
  o.bank_number = testing::kSubscriber;
  const bool statement = s.action == 'R';
  o.mode = statement ? netemu::BankMode::kSendStatement : netemu::BankMode::kReceiveFile;
  o.statement = s.statement;
  o.chunk_size = s.chunk_size;
  o.chunk_pace_ms = s.chunk_pace_ms;
  o.statement_delay_ms = s.statement_delay_ms;
  for (Fault fault : s.faults) {
    switch (fault) {
      case Fault::kDropAtStep:
      case Fault::kSilence:
      case Fault::kNoise: {
        const std::vector<netemu::Step> steps = StepsFor(fault, statement);
        const netemu::Step step = steps[static_cast<std::size_t>(s.step) % steps.size()];
        netemu::Step& at = fault == Fault::kDropAtStep ? o.drop_at
                           : fault == Fault::kSilence  ? o.silent_at
                                                       : o.garbage_at;
        at = step;
        break;
      }
      case Fault::kDropAtByte:
        if (statement) {
          o.drop_after_bytes = s.at_count;
        } else {
          o.drop_after_records = s.at_count;
        }
        break;
      case Fault::kRefusal: o.verdict = "NOK"; break;
      default: break;
    }
  }
  return o;
}

}  // namespace

const char* FaultName(Fault fault) {
  static constexpr const char* kNames[] = {"drop-at-step",
                                           "drop-at-byte",
                                           "silence",
                                           "noise",
                                           "refusal",
                                           "no-connection",
                                           "short-write",
                                           "read-errors",
                                           "statement-disk-full",
                                           "job-file-unwritable",
                                           "close-request"};
  return kNames[static_cast<std::size_t>(fault)];
}

bool Scenario::Has(Fault fault) const {
  for (Fault f : faults) {
    if (f == fault) return true;
  }
  return false;
}

std::string Scenario::Describe() const {
  std::ostringstream out;
  out << "action=" << action << " nt=" << nt << " profile7=" << profile7 << " nui='" << nui
      << "' complement='" << complement << "'";
  if (action == 'R') {
    out << " statement=" << statement.size() << "B chunk=" << chunk_size
        << " pace=" << chunk_pace_ms << "ms delay=" << statement_delay_ms
        << "ms previous=" << (previous_statement ? previous_statement->size() : 0) << "B";
  } else {
    out << " file=" << (file ? std::to_string(file->size()) + "B" : std::string("missing"));
  }
  out << " faults=";
  for (Fault f : faults) out << FaultName(f) << ",";
  out << " step=" << step << " count=" << at_count << " at=" << at_ms << "ms size=" << fault_size
      << " late=" << late_connection;
  return out.str();
}

Scenario DrawScenario(Draw& draw) {
  Scenario s;
  static constexpr char kActions[] = {'R', 'R', 'L', 'V', 'D'};
  s.action = kActions[draw.Below(5)];
  s.nt = draw.Chance(50);
  s.profile7 = draw.Chance(25);
  if (draw.Chance(25)) s.nui = Text(draw, draw.Between(1, 12));
  if (draw.Chance(25)) s.complement = Text(draw, draw.Between(1, 12));
  if (s.action == 'R') {
    s.statement = DrawStatement(draw);
    s.chunk_size = draw.Between(1, 300);
    s.chunk_pace_ms = draw.Below(4) == 0 ? draw.Between(0, 2000) : draw.Between(0, 60);
    s.statement_delay_ms = draw.Chance(30) ? 0 : draw.Between(1, 1500);
    if (draw.Chance(70)) {
      s.previous_statement = "ANCIEN RELEVE\r" + Text(draw, draw.Between(1, 300));
    }
  } else if (!draw.Chance(5)) {
    s.file = draw.Chance(3) ? std::string() : DrawFile(draw, RecordLength(s.action));
  }

  const std::uint64_t faults = draw.Below(10) < 2 ? 0 : draw.Below(10) < 7 ? 1 : 2;
  for (std::uint64_t i = 0; i < faults; ++i) {
    s.faults.push_back(static_cast<Fault>(draw.Below(kFaultKinds)));
  }
  s.step = static_cast<int>(draw.Below(5));
  const std::size_t span = s.action == 'R' ? s.statement.size() + 20 : RecordsIn(s) + 1;
  s.at_count = draw.Below(span + 1);
  const std::uint64_t records_ms = RecordsIn(s) * (s.profile7 ? 4200 : 120);
  s.at_ms = draw.Between(2000, 12'000 + records_ms + StatementSpan(s));
  s.fault_size = draw.Between(0, 40);
  s.late_connection = draw.Chance(50);
  return s;
}

Outcome RunScenario(const Scenario& s) {
  Outcome outcome;
  auto violation = [&outcome](const std::string& what) { outcome.violations.push_back(what); };

  ExchangeHarness h;
  h.sim.version.platform_id = s.nt ? 2 : 1;
  h.WinIni(WinIniText(s));
  const std::string job_before = JobFileText(s);
  h.JobFile(job_before);
  if (s.file) h.sim.files.Put(kDataFile, *s.file);
  if (s.previous_statement) h.sim.files.Put(kStatementFile, *s.previous_statement);
  h.options = BankOptions(s);

  if (s.Has(Fault::kNoConnection)) {
    h.telephony.ModifyDevice(0, [&s](platform::sim::SimLineDevice& d) {
      d.script =
          s.late_connection ? platform::sim::ConnectingCall(70'000) : platform::sim::BusyCall(2000);
    });
  }
  if (s.Has(Fault::kStatementDiskFull)) h.sim.files.FillDiskAt(kStatementFile, s.at_count);
  if (s.Has(Fault::kJobFileUnwritable)) h.sim.files.FailWrites(kJobPath);
  if (s.Has(Fault::kCloseRequest)) h.sim.windows.CloseAt(s.at_ms);
  platform::sim::SimSerialPort& port = h.telephony.Port();
  if (s.Has(Fault::kShortWrite)) {
    h.sim.world.At(s.at_ms, [&port, size = s.fault_size] {
      port.ScriptWriteFault({platform::sim::SimWriteFault::Kind::kShort, size});
    });
  }
  if (s.Has(Fault::kReadErrors)) {
    h.sim.world.At(s.at_ms, [&port, count = s.fault_size] {
      port.FailNextReads(static_cast<unsigned>(count) + 1);
    });
  }
  outcome.bound_ms = BoundMs(s);
  // A run past its bound is given up, so that a hang is reported, not suffered.
  h.sim.windows.SetModalLimit(outcome.bound_ms + 60'000);

  h.Connect();
  const std::uint64_t start_ms = h.sim.world.Now();
  const int status = h.Run();
  outcome.virtual_ms = h.sim.world.Now() - start_ms;

  // 1. It ended, within its bounds.
  if (h.sim.windows.ModalAbandoned() || outcome.virtual_ms > outcome.bound_ms) {
    violation("ran " + std::to_string(outcome.virtual_ms) + " ms, bound " +
              std::to_string(outcome.bound_ms) + " ms");
  }

  // 4. The job file: whole when it could not be written, else only the results changed.
  const std::string job_after = h.JobText();
  const bool job_writable = !s.Has(Fault::kJobFileUnwritable);
  if (!job_writable && job_after != job_before) violation("an unwritable job file changed");
  if (WithoutResults(job_after) != WithoutResults(job_before)) {
    violation("a line of the job file other than the results changed");
  }
  const std::string retour = job_writable ? h.JobKey("Retour") : std::string();
  outcome.succeeded = status == app::kExitSucceeded;
  if (job_writable && (retour == "1") != outcome.succeeded) {
    violation("Retour=" + retour + " but exit status " + std::to_string(status));
  }

  // 2. Success only when the bank really has everything, or we have all it sent.
  const netemu::Report& bank = h.BankSaw();
  if (outcome.succeeded && s.action != 'R') {
    const std::size_t records = RecordsIn(s);
    const std::string whole = s.file ? s.file->substr(0, records * RecordLength(s.action)) : "";
    if (!bank.end_record_received || !bank.okf_sent) violation("success without OKF");
    if (bank.received_file != AsTheBankReadsIt(whole) || bank.records.size() != records) {
      violation("success, but the bank got " + std::to_string(bank.records.size()) + " of " +
                std::to_string(records) + " records");
    }
  }
  const std::optional<std::string> stored = h.sim.files.Get(kStatementFile);
  if (outcome.succeeded && s.action == 'R') {
    const std::string sent = AsWeReadTheBank(s.statement + exchange::kEndRecord);
    if (LStrip(stored.value_or("")) != LStrip(sent)) {
      violation("success, but the statement file holds '" + stored.value_or("<none>") +
                "' instead of '" + sent + "'");
    }
  }

  // 3. A statement held before the run is never lost.
  if (s.previous_statement && stored != s.previous_statement &&
      h.sim.files.Get(kStatementBackup) != s.previous_statement) {
    violation("the previous statement is lost");
  }

  if (h.serial.DoubleCloses() != 0) violation("a port handle closed twice");
  if (h.serial.InvalidHandleUses() != 0) violation("a closed port handle used");
  return outcome;
}

}  // namespace korval::soak
