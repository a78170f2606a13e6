#include <optional>

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

constexpr std::uint32_t kQuietAfterRecordMs = 100;
constexpr std::uint32_t kNtQuietBeforeEndMs = 2000;
constexpr const char* kShortWrite = "Probl\xE8me dans l'\351criture !\n";

enum class ChunkRead { kWhole, kShort, kError };

// Reads exactly count bytes unless the file ends first.
ChunkRead ReadChunk(platform::File& file, std::string& chunk, std::size_t count) {
  chunk.resize(count);
  std::size_t have = 0;
  while (have < count) {
    std::size_t got = 0;
    if (!file.Read(chunk.data() + have, count - have, &got)) return ChunkRead::kError;
    if (got == 0) break;
    have += got;
  }
  chunk.resize(have);
  return have == count ? ChunkRead::kWhole : ChunkRead::kShort;
}

// Bytes that may trail the last whole record without being data.
bool IsFillerByte(char c) { return c == '\r' || c == '\n' || c == 0x1A || c == ' ' || c == '\0'; }

// Reads the whole file once before dialling: a remainder that holds data would be
// dropped, and a file that cannot be read would stop in the middle of the transfer.
bool CheckWholeRecords(Process& process, platform::File& file, std::size_t record_length) {
  std::string chunk;
  for (;;) {
    const ChunkRead read = ReadChunk(file, chunk, record_length);
    if (read == ChunkRead::kError) {
      process.log.LogProgress("Erreur de lecture du fichier" + link::Reason(process) + "\n");
      return false;
    }
    if (read == ChunkRead::kWhole) continue;
    for (char c : chunk) {
      if (!IsFillerByte(c)) {
        process.log.LogProgress(
            "Fichier mal form\xE9 : sa fin n'est pas un enregistrement entier de " +
            std::to_string(record_length) + " octets\n");
        return false;
      }
    }
    return file.Rewind();
  }
}

// A record the bank got only in part must not be followed by the next one, nor the
// job be reported done: the transfer stops.
bool WrittenWhole(Process& process, std::size_t written, std::size_t count) {
  if (written == count) return true;
  process.os.diagnostics.DebugOutput(kShortWrite);
  // Follows WriteLink's own line about the failed write.
  process.log.LogProgress(" Envoi interrompu !\n");
  return false;
}

void DropCall(Process& process) {
  line::HangUp(process);
  line::ClosePort(process);
}

// The records, each followed by the end-of-record signal and some quiet; false when
// the transfer stopped.
bool SendRecords(Process& process, platform::File& file, std::size_t record_length,
                 std::uint64_t records_total) {
  TransferMeter meter(process, TransferMeter::Direction::kSending, records_total);
  std::uint64_t sent = 0;
  std::string record;
  for (;;) {
    const ChunkRead read = ReadChunk(file, record, record_length);
    if (read == ChunkRead::kShort) return true;
    if (read == ChunkRead::kError) {
      process.log.LogProgress("Erreur de lecture du fichier" + link::Reason(process) +
                              " : envoi interrompu !\n");
      DropCall(process);
      return false;
    }
    link::ToEbcdic(record);
    if (!WrittenWhole(process, link::WriteLink(process, record), record.size())) {
      DropCall(process);
      return false;
    }
    DispatchWaiting(process);
    EndRecord(process);
    ++sent;
    meter.Sent(sent, sent * record_length);
    if (!PauseWhileCallUp(process, kQuietAfterRecordMs)) {
      if (!process.job.stopped_by_user) {
        process.log.LogProgress(
            "Envoi interrompu : la communication a \xE9t\xE9 coup\351e "
            "apr\xE8s " +
            std::to_string(sent) + " enregistrement(s) !\n");
      }
      DropCall(process);
      return false;
    }
  }
}

}  // namespace

int SendFile(Process& process, const std::string& file_path, platform::WindowHandle window,
             platform::InstanceHandle instance, std::string& dial_number,
             const std::string& subscriber, const std::string& card, int record_length) {
  ReentryGuard guard(process.exchange.send_file_running);
  if (!guard.entered()) return 0;
  log::ProgressLog& log = process.log;
  if (file_path.empty()) {
    log.LogProgress("Fichier Vide\n");
    return 0;
  }
  std::unique_ptr<platform::File> file = process.os.files.OpenForReading(file_path);
  if (!file) {
    const std::string cause = OpenFailureText(process.os.files, file_path);
    log.LogProgress("Impossible d'ouvrir le fichier\n");
    log.LogProgress(file_path + (cause.empty() ? "" : " : " + cause) + "\n");
    return 0;
  }
  const std::optional<std::uint64_t> length = file->Size();
  if (!length || *length == 0) {
    log.LogProgress("Fichier Vide\n");
    return 0;
  }
  const auto record_bytes = static_cast<std::size_t>(record_length);
  if (!CheckWholeRecords(process, *file, record_bytes)) return 0;

  EmptyReceiveBuffer(process);
  process.call.call_state = 0;
  if (ConnectToSite(process, window, instance, dial_number, subscriber, card) == 0) return 0;

  process.os.diagnostics.DebugOutput("Envoi du contenu du fichier !\n");
  log.LogProgress("Envoi du contenu du fichier !\n");
  if (!SendRecords(process, *file, record_bytes, *length / record_bytes)) return 0;

  if (process.job.is_windows_nt) Pause(process, kNtQuietBeforeEndMs);
  EmptyReceiveBuffer(process);  // "OKF" counts only from here on
  process.os.diagnostics.DebugOutput("Envoi de FF !\n");
  std::string end_record = kEndRecord;
  link::ToEbcdic(end_record);
  if (!WrittenWhole(process, link::WriteLink(process, end_record), end_record.size())) {
    DropCall(process);
    return 0;
  }
  EndRecord(process);

  const std::uint32_t acknowledgement_limit_ms =
      link::ReadLimitMs(process, link::kAcknowledgementWaitKey, link::kAcknowledgementWaitDefaultS);
  if (AwaitAnswerWithin(process, "OKF", "", acknowledgement_limit_ms) == 0) {
    process.os.diagnostics.DebugOutput("Sortie anormale !\n");
    // The bank probably holds the file: sending it again could make a duplicate.
    log.LogProgress(
        "Fichier envoy\xE9 mais non acquitt\xE9 par la banque : v\xE9rifiez aupr\xE8s d'elle "
        "avant de le renvoyer !\n");
    return 0;
  }
  process.os.diagnostics.DebugOutput("Envoi du fichier termin\xE9 normalement !\n");
  log.LogProgress("Envoi du fichier termin\xE9 normalement !\n");
  process.call.call_state = platform::kCallStateDisconnected;
  DropCall(process);
  process.receive.ebcdic = false;
  return 1;
}

}  // namespace korval::exchange
