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
// Prepares the statement file: the previous copy becomes the .BAK file, the target is
// created anew.
void OpenCaptureFile(Process& process, const std::string& file_name, bool capture);
// The .BAK name: the name without its last four characters, then ".BAK".
std::string BackupName(const std::string& file_name);

}  // namespace korval::link
