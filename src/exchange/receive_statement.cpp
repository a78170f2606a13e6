#include <algorithm>
#include <cstdint>
#include <string>

#include "exchange/connect_to_site.h"
#include "exchange/exchange.h"
#include "exchange/open_problem_text.h"
#include "exchange/parameter_card.h"
#include "exchange/pump.h"
#include "exchange/records.h"
#include "exchange/reentry_guard.h"
#include "exchange/transfer_meter.h"
#include "line/call_control.h"
#include "line/port_handle.h"
#include "link/ebcdic.h"
#include "link/receive_buffer.h"
#include "link/receive_busy.h"
#include "link/time_limits.h"
#include "link/write_link.h"
#include "process/process.h"

namespace korval::exchange {
namespace {

constexpr std::size_t kSearchWindowMax = 40;
constexpr std::size_t kSearchWindowKept = 30;  // more than an end record split in two

// Under ReceiveBusy: what followed the answer record becomes the buffer, without its
// leading white space, and is captured first, in the section that turns capture on
// again, so that no arrival is stored twice or out of order.
void StartCapture(Process& process, bool capture) {
  link::ReceiveBusySection section(process);
  std::string& buffer = process.receive.buffer;
  const std::size_t answer = FindAcceptance(buffer);
  const std::size_t data =
      answer == std::string::npos ? buffer.size() : answer + kAnswerRecordLength;
  buffer.erase(0, std::min(data, buffer.size()));
  buffer.erase(0, std::min(buffer.find_first_not_of(" \t\n\v\f\r"), buffer.size()));
  process.receive.capture_enabled = capture;
  link::WriteCapture(process, buffer);
}

enum class Reception { kEnded, kCallDropped, kSilent, kTooLong, kNotStored };

// The bank sends its end record and then waits for "OKF": a real one is followed by
// nothing but line ends, then quiet. The same text inside a statement line ("TOTAL
// 1000,00 FF" and blanks) is followed by more data, and is data.
constexpr std::uint32_t kQuietAfterEndRecordMs = 500;
constexpr const char* kLineEnds = "\r\n";

// Under ReceiveBusy: the position of an end record that only line ends follow, or npos.
std::size_t TrailingEndRecord(const std::string& buffer) {
  const std::size_t end = buffer.rfind(kEndRecord);
  if (end == std::string::npos) return end;
  const std::size_t after = end + kEndRecord.size();
  return buffer.find_first_not_of(kLineEnds, after) == std::string::npos ? end : std::string::npos;
}

// Under ReceiveBusy: keeps an end record in view (at the start of the buffer), or
// else enough of the tail to complete one split across arrivals. True when one is
// in view.
bool KeepSearchWindow(std::string& buffer) {
  const std::size_t end = TrailingEndRecord(buffer);
  if (end != std::string::npos) {
    buffer.erase(0, end);
    buffer.resize(std::min(buffer.size(), kSearchWindowKept));  // line ends only past it
    return true;
  }
  if (buffer.size() > kSearchWindowMax) buffer.erase(0, buffer.size() - kSearchWindowKept);
  return false;
}

struct ReceptionLimits {
  std::uint32_t quiet_ms;  // from the last arrival
  std::uint32_t total_ms;  // from the start: a line that never stops sending
};

ReceptionLimits ReadReceptionLimits(Process& process) {
  return {link::ReadLimitMs(process, link::kReceptionQuietKey, link::kReceptionQuietDefaultS),
          link::ReadLimitMs(process, link::kReceptionTotalKey, link::kReceptionTotalDefaultS)};
}

// Lets the read side capture until the end record arrives. The quiet limit counts
// from the last arrival, so a statement still flowing is not cut before the total
// limit.
Reception Receive(Process& process, std::size_t* end_position) {
  const ReceptionLimits limits = ReadReceptionLimits(process);
  const std::uint32_t started = process.os.clock.TickCount();
  std::uint32_t last_arrival = started;
  std::uint64_t seen = 0;
  std::uint64_t before_statement = 0;
  {
    link::ReceiveBusySection section(process);
    seen = process.receive.received_total;
    // The buffer still holds the first piece, captured already: it counts too.
    before_statement = seen - process.receive.buffer.size();
  }
  TransferMeter meter(process, TransferMeter::Direction::kReceiving);
  bool end_in_view = false;
  // The first turn does not block: the whole statement may have come with the
  // answer, its wake-up spent on an earlier wait.
  for (bool first = true;; first = false) {
    const std::uint32_t now = process.os.clock.TickCount();
    const std::uint32_t quiet_ms = end_in_view ? kQuietAfterEndRecordMs : limits.quiet_ms;
    process.os.windows.PumpMessageWithin(
        first ? 0
              : std::min(link::WaitLeftMs(last_arrival, quiet_ms, now),
                         link::WaitLeftMs(started, limits.total_ms, now)));
    if (line::CallEnded(process)) return Reception::kCallDropped;
    {
      link::ReceiveBusySection section(process);
      // Checked under busy: the arrival that completes the end record is stored first.
      if (process.receive.capture_failed) return Reception::kNotStored;
      if (process.receive.received_total != seen) {
        seen = process.receive.received_total;
        last_arrival = process.os.clock.TickCount();
      }
      end_in_view = KeepSearchWindow(process.receive.buffer);
    }
    meter.Received(seen - before_statement);
    const std::uint32_t quiet_for = process.os.clock.TickCount() - last_arrival;
    if (end_in_view && quiet_for > kQuietAfterEndRecordMs) {
      *end_position = 0;
      return Reception::kEnded;
    }
    if (quiet_for > limits.quiet_ms) return Reception::kSilent;
    if (process.os.clock.TickCount() - started > limits.total_ms) return Reception::kTooLong;
  }
}

void TakeEndCodes(Process& process, std::size_t end_position) {
  link::ReceiveBusySection section(process);
  const std::string& buffer = process.receive.buffer;
  auto code_at = [&buffer](std::size_t at) {
    return NormaliseCode(at < buffer.size() ? buffer.substr(at, 4) : std::string());
  };
  process.job.detail1 = code_at(end_position + 3);
  process.job.detail2 = code_at(end_position + 7);
}

// A statement whose file could not be prepared must not be asked for: it would be
// acknowledged and lost. (With no file named, the caller asked for none.)
bool CaptureFileReady(Process& process, const std::string& file_path) {
  if (file_path.empty()) return true;
  bool ready = false;
  {
    link::ReceiveBusySection section(process);
    ready = process.receive.capture_file != nullptr;
  }
  if (ready) return true;
  process.log.LogProgress("Impossible de pr\xE9parer le fichier du relev\xE9 : " + file_path +
                          link::Reason(process) + "\n");
  return false;
}

void EndCapture(Process& process) {
  process.receive.capture_enabled = false;
  line::HangUp(process);
  line::ClosePort(process);
  process.receive.ebcdic = false;
}

// The exchange itself; the capture file is settled by the caller.
int ReceiveInto(Process& process, const std::string& file_path, platform::WindowHandle window,
                platform::InstanceHandle instance, std::string& dial_number,
                const std::string& subscriber, const std::string& card) {
  if (!CaptureFileReady(process, file_path)) return 0;
  const bool capture = process.receive.capture_enabled;
  process.receive.capture_enabled = false;
  EmptyReceiveBuffer(process);
  process.call.call_state = 0;
  if (ConnectToSite(process, window, instance, dial_number, subscriber, card) == 0) return 0;

  StartCapture(process, capture);
  DispatchWaiting(process);
  process.log.LogProgress("R\351ception du relev\xE9 en cours !\n");

  std::size_t end_position = 0;
  switch (Receive(process, &end_position)) {
    case Reception::kCallDropped:
      EndCapture(process);
      // After a stop, the stop has been said: the line is not to blame.
      if (!process.job.stopped_by_user) {
        process.log.LogProgress("Relev\xE9 incomplet : la communication a \xE9t\xE9 coup\351e !\n");
      }
      return 0;
    case Reception::kSilent:
      // No acknowledgement: the bank will send the statement again.
      EndCapture(process);
      process.log.LogProgress(
          "Relev\xE9 incomplet : la fin du relev\xE9 n'est pas arriv\351e dans le d\xE9lai !\n");
      return 0;
    case Reception::kTooLong:
      // No acknowledgement: a statement that long is noise or a bank gone wrong.
      EndCapture(process);
      process.log.LogProgress(
          "Relev\xE9 incomplet : dur\351e maximale de r\351ception "
          "d\xE9pass\351e (DureeMaxReception) !\n");
      return 0;
    case Reception::kNotStored:
      // No acknowledgement: the bank will send the statement again.
      EndCapture(process);
      process.log.LogProgress(
          "Relev\xE9 incomplet : erreur d'\351criture dans le fichier du "
          "relev\xE9" +
          link::Reason(process) + " !\n");
      return 0;
    case Reception::kEnded: break;
  }
  TakeEndCodes(process, end_position);
  EmptyReceiveBuffer(process);
  process.log.LogProgress("Relev\xE9 entierement re\xE7u !\n");
  process.receive.capture_enabled = false;
  std::string acknowledgement = kAcknowledgement;
  link::ToEbcdic(acknowledgement);
  link::WriteLink(process, acknowledgement);
  DispatchWaiting(process);
  EndRecord(process);
  line::HangUp(process);
  DispatchWaiting(process);
  line::ClosePort(process);
  process.receive.ebcdic = false;
  return 1;
}

// A device, a FIFO or a folder as the statement's file would be replaced by a regular
// file, and a folder as its .BAK name found only once the bank has acknowledged:
// refused before dialling, nothing touched.
bool TargetRefused(Process& process, const std::string& file_path) {
  if (file_path.empty()) return false;
  for (const std::string& path : {file_path, link::BackupName(file_path)}) {
    const platform::OpenProblem problem = process.os.files.ReadProblem(path);
    if (problem != platform::OpenProblem::kFolder && problem != platform::OpenProblem::kNotAFile) {
      continue;
    }
    process.log.LogProgress("Fichier du relev\xE9 refus\xE9 : " + path + " : " +
                            OpenProblemText(problem) + " !\n");
    return true;
  }
  return false;
}

}  // namespace

// The statement goes to a temporary file and takes the place of the previous one only
// once it is complete: a failed request leaves the statement's file and its .BAK as
// they were.
int ReceiveStatement(Process& process, const std::string& file_path, platform::WindowHandle window,
                     platform::InstanceHandle instance, std::string& dial_number,
                     const std::string& subscriber, const std::string& card) {
  ReentryGuard guard(process.exchange.receive_statement_running);
  if (!guard.entered()) return 0;
  if (TargetRefused(process, file_path)) return 0;
  link::OpenCaptureFile(process, file_path, true);
  if (ReceiveInto(process, file_path, window, instance, dial_number, subscriber, card) == 0) {
    link::AbandonCaptureFile(process);
    return 0;
  }
  return link::CommitCaptureFile(process) ? 1 : 0;
}

}  // namespace korval::exchange
