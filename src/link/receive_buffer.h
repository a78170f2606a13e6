#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace korval {
struct Process;
}

namespace korval::link {

// Read thread: converts one chunk and appends it to ReceiveBuffer, and to the capture
// file while capture is on, in one ReceiveBusy section.
void StoreReceivedChunk(Process& process, const char* bytes, std::size_t count);
// The chunk's text: EBCDIC converted, or 7-bit text with control bytes but CR dropped.
std::string ConvertChunk(std::string_view bytes, bool ebcdic);
// Writes to the capture file while capture is on; the bytes written. The caller
// holds ReceiveBusy.
std::size_t WriteCapture(Process& process, std::string_view text);
// Prepares the capture: a new temporary file beside the statement's file receives it;
// the statement's file and its .BAK copy are not touched yet.
void OpenCaptureFile(Process& process, const std::string& file_name, bool capture);
// Once the statement is complete: the .BAK copy removed, the previous statement
// becomes the .BAK copy (an empty one is not worth keeping), the temporary file
// becomes the statement. False, with a progress line saying where the statement is,
// when a step fails. True when there was no capture file.
bool CommitCaptureFile(Process& process);
// After a failed reception: the temporary file is removed when it is empty, else kept
// and named in a progress line. The statement's file and its .BAK are untouched.
void AbandonCaptureFile(Process& process);
// The .BAK name beside the file: "RELEVE.TXT" gives "RELEVE.BAK", a name without
// such an extension gets ".BAK" added ("RELEVE" gives "RELEVE.BAK").
std::string BackupName(const std::string& file_name);
// " (the system's reason)" for the last failed file operation, or nothing where the
// platform cannot tell.
std::string Reason(Process& process);

}  // namespace korval::link
