#pragma once
// What the window tests need around them: the module with the program's resources,
// files beside the test, the message-box watcher, and a screen capture.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace korval::platform::win32::test_support {

inline std::string BesideTest(const std::string& name) {
  char path[MAX_PATH + 1] = {};
  std::string own(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return own.substr(0, own.find_last_of("\\/") + 1) + name;
}

// Only ports mapped on purpose: Wine gives unmapped COM names to the machine's own
// serial devices.
inline bool IsMappedPort(const char* name) {
  char target[MAX_PATH] = {};
  DWORD size = sizeof target;
  return RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Wine\\Ports", name, RRF_RT_REG_SZ, nullptr,
                      target, &size) == ERROR_SUCCESS &&
         target[0] != '\0';
}

// The test's own resources when it was linked with them, or else the program's.
inline HINSTANCE ResourceModule() {
  static HINSTANCE module = [] {
    HINSTANCE own = GetModuleHandleA(nullptr);
    if (FindResourceA(own, MAKEINTRESOURCEA(102), RT_DIALOG) != nullptr) return own;
    return LoadLibraryExA(BesideTest("korvalcom.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }();
  return module;
}

// The lines the watcher has written so far.
inline std::vector<std::string> LinesOf(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The watcher, running for the whole test program.
class BoxWatcher {
 public:
  static BoxWatcher& Get() {
    static BoxWatcher watcher;
    return watcher;
  }
  bool Running() const { return process_.hProcess != nullptr; }
  std::string RecordFile() const { return record_; }
  void Stop() {
    if (!Running()) return;
    std::ofstream(stop_).put('\n');
    if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 1);
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
  }

 private:
  BoxWatcher()
      : record_(BesideTest("window_system_boxes.txt")),
        stop_(BesideTest("window_system_boxes.stop")) {
    DeleteFileA(record_.c_str());
    DeleteFileA(stop_.c_str());
    std::string command = "\"" + BesideTest("box_watcher.exe") + "\" \"" + record_ +
                          "\" --answer Reprise=4 --answer Poste=1@5000 --default 1"
                          " --stop-file \"" +
                          stop_ + "\" --timeout 300";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
      process_ = {};
    }
  }
  ~BoxWatcher() { Stop(); }

  std::string record_;
  std::string stop_;
  PROCESS_INFORMATION process_{};
};

// Closes every dialog of the program if a test has not ended within its bound, so
// that a posted task that never runs fails the test instead of hanging it.
class DialogWatchdog {
 public:
  explicit DialogWatchdog(const char* dialog_class, DWORD bound_ms = 20000)
      : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, dialog_class, bound_ms] {
          if (WaitForSingleObject(done_, bound_ms) != WAIT_TIMEOUT) return;
          fired_ = true;
          for (HWND w = FindWindowExA(nullptr, nullptr, dialog_class, nullptr); w != nullptr;
               w = FindWindowExA(nullptr, w, dialog_class, nullptr)) {
            PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
          }
        }) {}
  ~DialogWatchdog() {
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
  }
  bool Fired() const { return fired_; }

 private:
  HANDLE done_;
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

// What the screen shows of the window, as a 24-bit BMP file.
inline bool CaptureWindow(HWND window, const std::string& path) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  const DWORD size = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + size;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&header), sizeof(header));
  out.write(static_cast<const char*>(bits), size);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return copied && out.good();
}

}  // namespace korval::platform::win32::test_support
