#include "exchange/parameter_card.h"

#include <algorithm>

#include "exchange/failure_box.h"
#include "exchange/pump.h"
#include "exchange/records.h"
#include "line/call_control.h"
#include "line/port_handle.h"
#include "link/ebcdic.h"
#include "link/receive_busy.h"
#include "link/time_limits.h"
#include "link/write_link.h"
#include "process/process.h"

namespace korval::exchange {
namespace {

constexpr std::uint32_t kNtQuietBeforeCardMs = 2000;
constexpr std::uint32_t kRecordTailWaitMs = 2000;
constexpr std::uint32_t kBreakQuietMs = 2000;
constexpr std::uint32_t kBreakMs = 2000;
constexpr const char* kShortWrite = "Probl\xE8me dans l'\351criture !\n";

// The answer's position: its first "OK ", else its first "NOK"; nothing without either.
std::optional<std::size_t> VerdictPosition(const std::string& buffer) {
  std::size_t at = FindAcceptance(buffer);
  if (at == std::string::npos) at = buffer.find("NOK");
  if (at == std::string::npos) return std::nullopt;
  return at;
}

std::size_t BufferLength(Process& process) {
  link::ReceiveBusySection section(process);
  return process.receive.buffer.size();
}

// The whole record is awaited, so that none of it is taken for statement data.
void AwaitRestOfRecord(Process& process, std::size_t record_end) {
  const std::uint32_t start = process.os.clock.TickCount();
  while (BufferLength(process) < record_end && !line::CallEnded(process) &&
         process.os.clock.TickCount() - start <= kRecordTailWaitMs) {
    process.os.windows.PumpMessageWithin(
        link::WaitLeftMs(start, kRecordTailWaitMs, process.os.clock.TickCount()));
  }
}

std::string CodeAt(const std::string& buffer, std::ptrdiff_t position) {
  if (position < 0 || static_cast<std::size_t>(position) >= buffer.size()) {
    return NormaliseCode({});
  }
  return NormaliseCode(buffer.substr(static_cast<std::size_t>(position), 4));
}

}  // namespace

std::string NormaliseCode(std::string code) {
  // A line end (or any control byte) is no part of a code: the record was cut there.
  const auto control = std::find_if(code.begin(), code.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
  code.erase(control, code.end());
  const bool blank = code.find_first_not_of(' ') == std::string::npos;
  return blank ? std::string(job::kNoCode) : code;
}

void EndRecord(Process& process) {
  if (!process.job.use_profile7) {
    link::WriteLink(process, "\r");
    return;
  }
  // The call may end during either pause, and whoever ends it closes the port.
  Pause(process, kBreakQuietMs);
  if (!process.line.port.open()) return;
  process.os.serial.SetCommBreak(process.line.port.handle());
  Pause(process, kBreakMs);
  if (process.line.port.open()) process.os.serial.ClearCommBreak(process.line.port.handle());
}

int SendParameterCard(Process& process, const std::string& card) {
  process.receive.ebcdic = true;
  process.log.LogProgress("Envoi carte param\xE8tre !\n");
  if (process.job.is_windows_nt) Pause(process, kNtQuietBeforeCardMs);
  EmptyReceiveBuffer(process);
  std::string converted = card;
  link::ToEbcdic(converted);
  if (link::WriteLink(process, converted) != converted.size()) {
    process.os.diagnostics.DebugOutput(kShortWrite);
  }
  DispatchWaiting(process);
  EndRecord(process);

  const bool answered = AwaitAnswer(process, "NOK", "OK ") != 0;
  if (!answered) {
    ShowFailureBox(process, "Pas de r\xE9ponse \xE0 l'envoi de la carte param\xE8tre",
                   "Communication", platform::kMbOkCancel | platform::kMbIconQuestion);
    process.receive.ebcdic = false;
  }

  std::optional<std::size_t> verdict;
  {
    link::ReceiveBusySection section(process);
    verdict = VerdictPosition(process.receive.buffer);
  }
  const std::ptrdiff_t p = verdict ? static_cast<std::ptrdiff_t>(*verdict) : -1;
  AwaitRestOfRecord(process, static_cast<std::size_t>(p + kAnswerRecordLength));

  bool accepted = false;
  {
    link::ReceiveBusySection section(process);
    const std::string& buffer = process.receive.buffer;
    process.job.detail1 = CodeAt(buffer, p + 3);
    process.job.detail2 = CodeAt(buffer, p + 7);
    // Once the wait has ended with the call, an "OK " that came meanwhile opens no
    // exchange.
    accepted = answered && FindAcceptance(buffer) != std::string::npos;
  }
  if (accepted) {
    process.log.LogProgress("Carte param\xE8tre valide !\n");
    return 1;
  }
  // The read thread reads the port until HangUp stops it: only then is it closed.
  line::HangUp(process);
  line::ClosePort(process);
  ShowFailureBox(process, "Carte param\xE8tre non valide !", "Communication",
                 platform::kMbOk | platform::kMbIconQuestion);
  process.receive.ebcdic = false;
  return 0;
}

}  // namespace korval::exchange
