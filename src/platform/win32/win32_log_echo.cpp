#include "platform/win32/win32_log_echo.h"

namespace korval::platform::win32 {

LogEcho::LogEcho() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  // A program of the window subsystem started without a redirection has none.
  if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
    out_ = out;
  }
}

void LogEcho::Write(const std::string& line) {
  if (out_ == nullptr) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  // The echo is a convenience: a reader that went away must not stop the job.
  if (!WriteFile(out_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    out_ = nullptr;
  }
}

}  // namespace korval::platform::win32
