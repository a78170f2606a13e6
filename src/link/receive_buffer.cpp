#include "link/receive_buffer.h"

#include "link/ebcdic.h"
#include "link/receive_busy.h"
#include "process/process.h"

namespace korval::link {

std::string ConvertChunk(std::string_view bytes, bool ebcdic) {
  std::string text;
  text.reserve(bytes.size());
  for (char byte : bytes) {
    if (ebcdic) {
      FromEbcdic(byte);
      text.push_back(byte);
      continue;
    }
    const auto seven_bit = static_cast<unsigned char>(byte & 0x7F);
    if (seven_bit >= 0x20 || seven_bit == '\r') text.push_back(static_cast<char>(seven_bit));
  }
  return text;
}

void StoreReceivedChunk(Process& process, const char* bytes, std::size_t count) {
  TakeReceiveBusyOnReader(process);
  const std::string text =
      ConvertChunk(std::string_view(bytes, count), process.receive.ebcdic.load());
  process.receive.buffer += text;
  process.receive.received_total += text.size();
  WriteCapture(process, text);
  ReleaseReceiveBusyOnReader(process);
}

std::size_t WriteCapture(Process& process, std::string_view text) {
  ReceiveState& receive = process.receive;
  if (!receive.capture_enabled || !receive.capture_file || text.empty()) return 0;
  std::size_t written = 0;
  if (!receive.capture_file->Write(text.data(), text.size(), &written) ||
      written != text.size()) {
    receive.capture_failed = true;
  }
  return written;
}

std::string BackupName(const std::string& file_name) {
  const std::size_t kept = file_name.size() > 4 ? file_name.size() - 4 : 0;
  return file_name.substr(0, kept) + ".BAK";
}

void OpenCaptureFile(Process& process, const std::string& file_name, bool capture) {
  process.receive.capture_enabled = capture;
  process.receive.capture_failed = false;
  if (!process.line.telephony_ready || file_name.empty()) return;
  platform::FileSystem& files = process.os.files;
  // Only a statement is worth keeping: an empty target (a failed reception) never
  // replaces the previous statement in the backup.
  const std::optional<std::uint64_t> size = files.SizeOf(file_name);
  bool previous_kept = true;
  if (size && *size > 0) {
    const std::string backup = BackupName(file_name);
    files.Delete(backup);
    previous_kept = files.Move(file_name, backup);
  }
  // A previous statement that could not be set aside is never emptied.
  std::unique_ptr<platform::File> file =
      previous_kept ? files.CreateAlways(file_name) : nullptr;
  if (!file) process.receive.capture_enabled = false;
  ReceiveBusySection section(process);
  process.receive.capture_file = std::move(file);
}

}  // namespace korval::link
