#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>

#include "platform/win32/win32_error_text.h"
#include "platform/win32/win32_paths.h"

namespace korval::platform::win32 {
namespace {

// ReadFile and WriteFile take a DWORD count: larger requests go in several calls.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

using LastError = std::shared_ptr<std::atomic<std::uint32_t>>;

class Win32File final : public File {
 public:
  // last_error: where a failed read or write leaves its code; the file system says it.
  Win32File(HANDLE handle, LastError last_error)
      : handle_(handle), last_error_(std::move(last_error)) {}
  ~Win32File() override { CloseHandle(handle_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  std::optional<std::uint64_t> Size() override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_, &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  bool Read(void* bytes, std::size_t count, std::size_t* got) override {
    if (got != nullptr) *got = 0;
    if (count == 0) return true;
    DWORD read = 0;
    if (!ReadFile(handle_, bytes, static_cast<DWORD>(std::min(count, kMaxChunk)), &read, nullptr)) {
      last_error_->store(GetLastError());
      return false;
    }
    if (got != nullptr) *got = read;
    return true;
  }

  bool Write(const void* bytes, std::size_t count, std::size_t* written) override {
    const auto* next = static_cast<const char*>(bytes);
    std::size_t done = 0;
    bool ok = true;
    while (done < count) {
      DWORD went = 0;
      const auto chunk = static_cast<DWORD>(std::min(count - done, kMaxChunk));
      const bool written = WriteFile(handle_, next + done, chunk, &went, nullptr) != FALSE;
      if (!written || went == 0) {
        // A disk file that takes nothing without an error has no room left.
        last_error_->store(written ? ERROR_DISK_FULL : GetLastError());
        done += went;
        ok = false;
        break;
      }
      done += went;
    }
    if (written != nullptr) *written = done;
    return ok;
  }

  bool Rewind() override {
    LARGE_INTEGER start;
    start.QuadPart = 0;
    return SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN) != FALSE;
  }

 private:
  HANDLE handle_;
  LastError last_error_;
};

// Names already taken are tried again with the next suffix, a bounded number of times.
constexpr int kBesideAttempts = 100;

std::string BesideSuffix(int attempt) {
  static std::atomic<unsigned> counter{0};
  const unsigned seed = GetCurrentProcessId() * 2654435761u + GetTickCount() +
                        counter.fetch_add(1) * 7919u + static_cast<unsigned>(attempt);
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ".%06X", seed & 0xFFFFFFu);
  return suffix;
}

OpenProblem ProblemOfError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return OpenProblem::kMissing;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return OpenProblem::kAccessDenied;
    default: return OpenProblem::kUnknown;
  }
}

std::unique_ptr<File> OpenDiskFile(const std::string& path, DWORD access, DWORD sharing,
                                   DWORD disposition, const LastError& last_error) {
  const std::string name = TrimTrailingBlanks(path);
  if (name.empty()) {
    last_error->store(ERROR_INVALID_NAME);
    return nullptr;
  }
  const HANDLE handle = CreateFileA(name.c_str(), access, sharing, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    last_error->store(GetLastError());
    return nullptr;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    last_error->store(kNotADiskFileError);
    return nullptr;
  }
  return std::make_unique<Win32File>(handle, last_error);
}

}  // namespace

std::unique_ptr<File> Win32FileSystem::OpenForReading(const std::string& path) {
  return OpenDiskFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, last_error_);
}

std::unique_ptr<File> Win32FileSystem::CreateAlways(const std::string& path) {
  return OpenDiskFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS, last_error_);
}

std::unique_ptr<File> Win32FileSystem::CreateBeside(const std::string& path, std::string* created) {
  const std::string base = TrimTrailingBlanks(path);
  if (base.empty()) {
    last_error_->store(ERROR_INVALID_NAME);
    return nullptr;
  }
  for (int attempt = 0; attempt < kBesideAttempts; ++attempt) {
    const std::string name = base + BesideSuffix(attempt);
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      if (created != nullptr) *created = name;
      return std::make_unique<Win32File>(handle, last_error_);
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return Failed(), nullptr;
}

bool Win32FileSystem::Delete(const std::string& path) {
  return DeleteFileA(TrimTrailingBlanks(path).c_str()) != FALSE || Failed();
}

bool Win32FileSystem::Move(const std::string& from, const std::string& to) {
  return MoveFileExA(TrimTrailingBlanks(from).c_str(), TrimTrailingBlanks(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING) != FALSE ||
         Failed();
}

std::optional<std::uint64_t> Win32FileSystem::SizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExA(TrimTrailingBlanks(path).c_str(), GetFileExInfoStandard, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

OpenProblem Win32FileSystem::ReadProblem(const std::string& path) {
  const std::string name = TrimTrailingBlanks(path);
  if (name.empty()) return OpenProblem::kMissing;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ProblemOfError(GetLastError());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return OpenProblem::kFolder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return OpenProblem::kNotAFile;
  const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ProblemOfError(GetLastError());
  const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
  CloseHandle(handle);
  return disk ? OpenProblem::kNone : OpenProblem::kNotAFile;
}

}  // namespace korval::platform::win32

namespace korval::platform::win32 {

bool Win32FileSystem::Failed() {
  last_error_->store(GetLastError());
  return false;
}

std::string Win32FileSystem::LastProblemText() {
  const std::uint32_t error = last_error_->load();
  return error == ERROR_SUCCESS ? std::string() : SystemErrorText(error);
}

}  // namespace korval::platform::win32
