#include "platform/win32/win32_profile_store.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/profile_text.h"
#include "platform/win32/win32_paths.h"

namespace korval::platform::win32 {
namespace {

// Sizes are DWORDs; a value of more than a megabyte is no job setting.
constexpr std::size_t kLargestCapacity = 1 << 20;

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

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::string Win32ProfileStore::ReadPrivate(const std::string& file, const std::string& section,
                                           const std::string& key, std::size_t capacity) {
  const std::string path = TrimTrailingBlanks(file);
  // An empty section or key would list names instead of reading a value.
  if (path.empty() || section.empty() || key.empty()) return {};
  return ReadInto(capacity, [&](char* buffer, DWORD size) {
    return GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, size,
                                    path.c_str());
  });
}

bool Win32ProfileStore::WritePrivate(const std::string& file, const std::string& section,
                                     const std::string& key,
                                     const std::optional<std::string>& value) {
  const std::string path = TrimTrailingBlanks(file);
  if (path.empty() || !IsWritableProfileName(section, key)) return false;
  if (!value) {
    if (!FileExists(path)) return true;
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, path.c_str()) !=
           FALSE;
  }
  // A line break in the value would add lines of its own to the file.
  const std::string line = value->substr(0, value->find_first_of("\r\n"));
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), line.c_str(),
                                    path.c_str()) != FALSE;
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
