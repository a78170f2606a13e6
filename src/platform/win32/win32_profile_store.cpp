#include "platform/win32/win32_profile_store.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/win32/win32_error_text.h"

namespace korval::platform::win32 {
namespace {

// Sizes are DWORDs; a value of more than a megabyte is no job setting.
constexpr std::size_t kLargestCapacity = 1 << 20;
// A job file is a few hundred bytes; anything past this is no job file.
constexpr std::size_t kLargestFile = std::size_t{64} << 20;
constexpr int kTemporaryAttempts = 100;

// Calls read(buffer, size) and keeps what it copied: the profile functions return the
// number of characters copied, without the terminating NUL.
template <typename Reader>
std::string ReadInto(std::size_t capacity, Reader read) {
  if (capacity == 0) return {};
  capacity = std::min(capacity, kLargestCapacity);
  std::vector<char> buffer(capacity, '\0');
  const DWORD copied = read(buffer.data(), static_cast<DWORD>(capacity));
  return std::string(buffer.data(), std::min<std::size_t>(copied, capacity - 1));
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    const bool ok = CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE handle_;
};

bool WriteAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD went = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 30));
    if (!WriteFile(handle, bytes.data(), chunk, &went, nullptr) || went == 0) return false;
    bytes.remove_prefix(went);
  }
  return true;
}

// The part of the path up to its file name: its folder with the separator, or a
// drive's "C:".
std::size_t NameStart(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? 0 : separator + 1;
}

std::string TemporaryName(const std::string& file) {
  static std::atomic<unsigned> counter{0};
  const std::size_t name = NameStart(file);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%lX-%u-%lX.tmp", GetCurrentProcessId(),
                counter.fetch_add(1), GetTickCount());
  // Kept well short of MAX_PATH's name limit whatever the file's own name.
  return file.substr(0, name) + "~" + file.substr(name, 64) + suffix;
}

bool IsFolderRefusal(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

}  // namespace

std::string Win32ProfileStore::FileOfName(const std::string& path) {
  if (path.find_first_of("\\/:") != std::string::npos) return path;
  char folder[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return path;
  std::string file(folder, length);
  if (file.back() != '\\') file += '\\';
  return file + path;
}

ProfileFileStore::ReadOutcome Win32ProfileStore::ReadWhole(const std::string& file,
                                                           std::string* bytes) {
  bytes->clear();
  Handle handle(CreateFileA(file.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  last_error_ = 0;
  if (!handle.valid()) {
    const DWORD error = GetLastError();
    last_error_ = error;
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadOutcome::kMissing
                                                                          : ReadOutcome::kFailed;
  }
  // A device (CON, COM1, a pipe) is no job file, and must not be waited on.
  if (GetFileType(handle.get()) != FILE_TYPE_DISK) {
    last_error_ = kNotADiskFileError;
    return ReadOutcome::kFailed;
  }
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle.get(), buffer, sizeof buffer, &got, nullptr)) {
      last_error_ = GetLastError();
      break;
    }
    if (got == 0) return ReadOutcome::kRead;
    bytes->append(buffer, got);
    if (bytes->size() > kLargestFile) break;
  }
  bytes->clear();
  return ReadOutcome::kFailed;
}

ProfileFileStore::ReplaceOutcome Win32ProfileStore::Replace(const std::string& file,
                                                            std::string_view bytes, bool existed) {
  std::string temporary;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    temporary = TemporaryName(file);
    created = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    last_error_ = error;
    return IsFolderRefusal(error) ? ReplaceOutcome::kFolderRefused : ReplaceOutcome::kFailed;
  }
  Handle handle(created);
  if (!handle.valid()) {
    last_error_ = ERROR_FILE_EXISTS;
    return ReplaceOutcome::kFailed;
  }

  bool ok = WriteAll(handle.get(), bytes) && FlushFileBuffers(handle.get()) != FALSE;
  ok = handle.Close() && ok;
  // The new file takes the old one's attributes (hidden, archive...); a read-only
  // file is not replaced: the move fails on it.
  const DWORD attributes = existed ? GetFileAttributesA(file.c_str()) : INVALID_FILE_ATTRIBUTES;
  if (ok && attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(temporary.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  // Not ReplaceFileA: when it fails it may leave a file of its own in the folder.
  ok = ok && MoveFileExA(temporary.c_str(), file.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  if (ok) {
    last_error_ = 0;
    return ReplaceOutcome::kReplaced;
  }
  const DWORD error = GetLastError();
  last_error_ = error;
  DeleteFileA(temporary.c_str());
  return IsFolderRefusal(error) ? ReplaceOutcome::kFolderRefused : ReplaceOutcome::kFailed;
}

bool Win32ProfileStore::RewriteInPlace(const std::string& file, std::string_view bytes) {
  Handle handle(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) {
    last_error_ = GetLastError();
    return false;
  }
  if (GetFileType(handle.get()) != FILE_TYPE_DISK) {
    last_error_ = kNotADiskFileError;
    return false;
  }
  // Cut after the new bytes are in, so that a failed write leaves the most of them.
  const bool ok = WriteAll(handle.get(), bytes) && SetEndOfFile(handle.get()) != FALSE &&
                  FlushFileBuffers(handle.get()) != FALSE;
  last_error_ = ok ? 0 : GetLastError();
  const bool closed = handle.Close();
  if (ok && !closed) last_error_ = GetLastError();
  return ok && closed;
}

std::string Win32ProfileStore::LastProblemText() {
  return last_error_ == 0 ? std::string() : SystemErrorText(last_error_);
}

std::string Win32ProfileStore::ReadSystem(const std::string& section, const std::string& key,
                                          std::size_t capacity) {
  if (section.empty() || key.empty()) return {};
  return ReadInto(capacity, [&](char* buffer, DWORD size) {
    return GetProfileStringA(section.c_str(), key.c_str(), "", buffer, size);
  });
}

bool Win32ProfileStore::HasSystemKey(const std::string& section, const std::string& key) {
  if (section.empty() || key.empty()) return false;
  // A default no value can hold comes back only when the key is missing.
  char buffer[4] = {};
  GetProfileStringA(section.c_str(), key.c_str(), "\x01", buffer, sizeof buffer);
  return std::string(buffer) != "\x01";
}

}  // namespace korval::platform::win32
