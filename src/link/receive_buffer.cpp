#include "link/receive_buffer.h"

#include <algorithm>
#include <cctype>
#include <optional>

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
  if (!receive.capture_file->Write(text.data(), text.size(), &written) || written != text.size()) {
    receive.capture_failed = true;
  }
  return written;
}

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

void CloseCapture(Process& process) {
  ReceiveBusySection section(process);
  process.receive.capture_file.reset();
  process.receive.capture_enabled = false;
}

}  // namespace

std::string BackupName(const std::string& file_name) {
  const std::size_t size = file_name.size();
  const bool has_extension = size >= 4 && file_name[size - 4] == '.' &&
                             file_name.find_first_of("./\\:", size - 3) == std::string::npos;
  std::string backup = has_extension ? file_name.substr(0, size - 4) + ".BAK" : file_name + ".BAK";
  // A statement named like a backup must not be its own backup.
  if (SameIgnoringCase(backup, file_name)) backup = file_name + ".BAK";
  return backup;
}

void OpenCaptureFile(Process& process, const std::string& file_name, bool capture) {
  ReceiveState& receive = process.receive;
  receive.capture_enabled = capture;
  receive.capture_failed = false;
  receive.capture_target.clear();
  receive.capture_path.clear();
  if (!process.line.telephony_ready || file_name.empty()) return;
  std::string path;
  std::unique_ptr<platform::File> file = process.os.files.CreateBeside(file_name, &path);
  if (!file) {
    receive.capture_enabled = false;
  } else {
    receive.capture_target = file_name;
    receive.capture_path = path;
  }
  ReceiveBusySection section(process);
  receive.capture_file = std::move(file);
}

// " (the system's reason)" after a failed step, where the platform tells it.
std::string Reason(Process& process) {
  const std::string text = process.os.files.LastProblemText();
  return text.empty() ? text : " (" + text + ")";
}

bool CommitCaptureFile(Process& process) {
  ReceiveState& receive = process.receive;
  CloseCapture(process);
  if (receive.capture_path.empty()) return true;
  platform::FileSystem& files = process.os.files;
  const std::string& target = receive.capture_target;
  const std::string& temporary = receive.capture_path;
  const std::string backup = BackupName(target);
  const std::string kept = "Le relev\xE9 re\xE7u est conserv\xE9 dans " + temporary + " : ";
  const std::optional<std::uint64_t> previous = files.SizeOf(target);
  // The calling application's other users still read the statement they read before.
  if (previous) files.KeepPermissions(target, temporary);
  if (previous && *previous > 0) {
    if (files.SizeOf(backup) && !files.Delete(backup)) {
      process.log.LogProgress(kept + "impossible de supprimer " + backup + Reason(process) + "\n");
      return false;
    }
    if (!files.Move(target, backup)) {
      process.log.LogProgress(kept + "impossible de renommer " + target + " en " + backup +
                              Reason(process) + "\n");
      return false;
    }
  } else if (previous && !files.Delete(target)) {
    process.log.LogProgress(kept + "impossible de remplacer " + target + Reason(process) + "\n");
    return false;
  }
  if (!files.Move(temporary, target)) {
    process.log.LogProgress(kept + "impossible de le renommer en " + target + Reason(process) +
                            "\n");
    return false;
  }
  receive.capture_path.clear();
  return true;
}

void AbandonCaptureFile(Process& process) {
  ReceiveState& receive = process.receive;
  CloseCapture(process);
  if (receive.capture_path.empty()) return;
  platform::FileSystem& files = process.os.files;
  const std::optional<std::uint64_t> size = files.SizeOf(receive.capture_path);
  if (size && *size == 0 && files.Delete(receive.capture_path)) {
    receive.capture_path.clear();
    return;
  }
  process.log.LogProgress("Relev\xE9 partiel conserv\xE9 dans " + receive.capture_path + "\n");
  receive.capture_path.clear();
}

}  // namespace korval::link
