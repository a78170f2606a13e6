#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "platform/diagnostics.h"

namespace korval::platform::win32 {

class Win32Diagnostics final : public Diagnostics {
 public:
  void DebugOutput(const std::string& text) override { OutputDebugStringA(text.c_str()); }

  // A GUI program has a standard error only when its starter gave it one (a batch
  // redirecting it, a console that started it); the debugger sees the note anyway.
  void Warn(const std::string& text) override {
    const std::string line = "korvalcom: " + text + "\r\n";
    OutputDebugStringA(line.c_str());
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD mode;
    if (GetConsoleMode(error, &mode)) {
      WriteToConsole(error, line);
      return;
    }
    DWORD written;
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

 private:
  // A console shows its own code page, not the program's Windows-1252 text.
  static void WriteToConsole(HANDLE console, const std::string& line) {
    const int size = static_cast<int>(line.size());
    const int wide_size = MultiByteToWideChar(1252, 0, line.data(), size, nullptr, 0);
    if (wide_size <= 0) return;
    std::vector<wchar_t> wide(static_cast<std::size_t>(wide_size));
    MultiByteToWideChar(1252, 0, line.data(), size, wide.data(), wide_size);
    DWORD written;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide_size), &written, nullptr);
  }
};

// The platform identifier the system reports; on every system of the NT family it
// is VER_PLATFORM_WIN32_NT, whatever version number it owns up to.
class Win32Version final : public VersionQuery {
 public:
  std::optional<std::uint32_t> PlatformId() override {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return std::nullopt;
    return info.dwPlatformId;
  }
};

}  // namespace korval::platform::win32
