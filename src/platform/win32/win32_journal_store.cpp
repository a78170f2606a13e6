#include "platform/win32/win32_journal_store.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/win32/win32_error_text.h"
#include "platform/win32/win32_paths.h"

namespace korval::platform::win32 {
namespace {

constexpr const char* kPendingInfix = ".en-cours.";
constexpr const char* kLockSuffix = ".verrou";
constexpr DWORD kLockRetryMs = 20;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void MakeFolders(const std::string& folder) {
  for (std::size_t at = folder.find_first_of("\\/", 3);; at = folder.find_first_of("\\/", at + 1)) {
    CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
    if (at == std::string::npos) return;
  }
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    if (!WriteFile(file, bytes.data(), chunk, &wrote, nullptr)) return false;
    if (wrote == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    bytes.remove_prefix(wrote);
  }
  return true;
}

std::string ReadHandle(HANDLE file) {
  std::string text;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return text;
  char chunk[8192];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  return text;
}

std::string ReadPath(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text = ReadHandle(file);
  CloseHandle(file);
  return text;
}

bool LockWithin(HANDLE file, DWORD wait_ms) {
  for (DWORD waited = 0;; waited += kLockRetryMs) {
    OVERLAPPED at{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      return true;
    }
    if (waited >= wait_ms) return false;
    Sleep(kLockRetryMs);
  }
}

std::vector<std::string> PendingFiles(const std::string& journal) {
  std::vector<std::string> found;
  const std::string folder = FolderOf(journal);
  WIN32_FIND_DATAA entry{};
  const HANDLE search = FindFirstFileA((journal + kPendingInfix + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    found.push_back(folder + "\\" + entry.cFileName);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

Win32JournalStore::~Win32JournalStore() {
  if (pending_ != INVALID_HANDLE_VALUE) CloseHandle(pending_);
}

std::string Win32JournalStore::DefaultPath() {
  char folder[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariableA("LOCALAPPDATA", folder, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return {};
  return std::string(folder, length) + "\\Korval\\journal.log";
}

std::string Win32JournalStore::LocalTimeStamp() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  TIME_ZONE_INFORMATION zone{};
  const DWORD kind = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (kind == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (kind == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  // The bias is UTC minus local time; the offset shown is its opposite.
  const LONG offset = -bias;
  const LONG magnitude = offset < 0 ? -offset : offset;
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u %c%02ld%02ld", now.wYear,
                now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, offset < 0 ? '-' : '+',
                magnitude / 60, magnitude % 60);
  return text;
}

std::uint32_t Win32JournalStore::ProcessId() { return GetCurrentProcessId(); }

bool Win32JournalStore::Open(const std::string& journal_path) {
  journal_ = TrimTrailingBlanks(journal_path);
  if (journal_.empty() || journal_.back() == '\\' || journal_.back() == '/') {
    return Failed(ERROR_INVALID_NAME);
  }
  MakeFolders(FolderOf(journal_));
  const std::string base = journal_ + kPendingInfix + std::to_string(GetCurrentProcessId());
  for (int attempt = 0; attempt < 10 && pending_ == INVALID_HANDLE_VALUE; ++attempt) {
    pending_path_ = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    // Others may read it, never write or delete it, while the job runs.
    pending_ = CreateFileA(pending_path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (pending_ == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      return Failed(GetLastError());
    }
  }
  return pending_ != INVALID_HANDLE_VALUE || Failed(ERROR_FILE_EXISTS);
}

bool Win32JournalStore::Append(std::string_view text) {
  if (pending_ == INVALID_HANDLE_VALUE) return false;
  if (SetFilePointer(pending_, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER ||
      !WriteAll(pending_, text)) {
    return Failed(GetLastError());
  }
  return true;
}

bool Win32JournalStore::Commit(std::uint64_t max_bytes, std::string_view killed_end) {
  if (pending_ == INVALID_HANDLE_VALUE) return false;
  const HANDLE lock = CreateFileA((journal_ + kLockSuffix).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE) return Failed(GetLastError());
  bool done = false;
  DWORD error = ERROR_SUCCESS;
  if (!LockWithin(lock, kLockWaitMaxMs)) {
    error = GetLastError();
  } else {
    std::string blocks;
    std::vector<HANDLE> taken;
    std::vector<std::string> taken_paths;
    for (const std::string& path : PendingFiles(journal_)) {
      if (path == pending_path_) continue;
      // Opens only when no job holds it any more.
      const HANDLE killed = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
      if (killed == INVALID_HANDLE_VALUE) continue;
      std::string block = ReadHandle(killed);
      if (block.empty()) {
        CloseHandle(killed);
        continue;
      }
      if (block.back() != '\n') block += '\n';
      blocks += block;
      blocks += killed_end;
      taken.push_back(killed);
      taken_paths.push_back(path);
    }
    blocks += ReadHandle(pending_);
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (GetFileAttributesExA(journal_.c_str(), GetFileExInfoStandard, &info)) {
      const std::uint64_t size =
          (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
      if (size > 0 && size + blocks.size() > max_bytes) {
        MoveFileExA(journal_.c_str(), (journal_ + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
      }
    }
    const HANDLE file =
        CreateFileA(journal_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      done = WriteAll(file, blocks);
      if (!done) error = GetLastError();
      done = CloseHandle(file) && done;
    } else {
      error = GetLastError();
    }
    for (HANDLE killed : taken) CloseHandle(killed);
    if (done) {
      for (const std::string& path : taken_paths) DeleteFileA(path.c_str());
    }
    OVERLAPPED at{};
    UnlockFileEx(lock, 0, 1, 0, &at);
  }
  CloseHandle(lock);
  CloseHandle(pending_);
  pending_ = INVALID_HANDLE_VALUE;
  if (done) DeleteFileA(pending_path_.c_str());
  return done || Failed(error);
}

std::string Win32JournalStore::ReadAll(const std::string& journal_path) {
  const std::string journal = TrimTrailingBlanks(journal_path);
  std::string text = ReadPath(journal + ".1") + ReadPath(journal);
  for (const std::string& path : PendingFiles(journal)) text += ReadPath(path);
  return text;
}

bool Win32JournalStore::Failed(DWORD error) {
  last_error_ = error;
  return false;
}

std::string Win32JournalStore::LastProblemText() {
  return last_error_ == ERROR_SUCCESS ? std::string() : SystemErrorText(last_error_);
}

}  // namespace korval::platform::win32
