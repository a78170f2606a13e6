#include "platform/profile_file_store.h"

#include "platform/profile_text.h"

namespace korval::platform {

std::string ProfileFileStore::WithoutTrailingBlanks(std::string_view path) {
  while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.remove_suffix(1);
  return std::string(path);
}

std::string ProfileFileStore::ReadPrivate(const std::string& file, const std::string& section,
                                          const std::string& key, std::size_t capacity) {
  const std::string path = WithoutTrailingBlanks(file);
  if (path.empty()) return {};
  std::string bytes;
  if (ReadWhole(FileOf(path), &bytes) != ReadOutcome::kRead) return {};
  return ReadProfileValue(bytes, section, key, capacity);
}

bool ProfileFileStore::WritePrivate(const std::string& file, const std::string& section,
                                    const std::string& key,
                                    const std::optional<std::string>& value) {
  return WritePrivateEntries(file, section, {ProfileEntry{key, value}});
}

bool ProfileFileStore::WritePrivateEntries(const std::string& file, const std::string& section,
                                           const std::vector<ProfileEntry>& entries) {
  const std::string path = WithoutTrailingBlanks(file);
  if (path.empty()) return false;
  for (const ProfileEntry& entry : entries) {
    if (!IsWritableProfileName(section, entry.key)) return false;
  }
  const std::string target = FileOf(path);

  std::string old_bytes;
  const ReadOutcome outcome = ReadWhole(target, &old_bytes);
  if (outcome == ReadOutcome::kFailed) return false;
  const bool exists = outcome == ReadOutcome::kRead;

  std::string new_bytes = old_bytes;
  for (const ProfileEntry& entry : entries) {
    new_bytes = WriteProfileValue(new_bytes, section, entry.key, entry.value);
  }
  // Nothing to change (a missing key removed, the same value again): touch nothing,
  // and above all create no file.
  if (new_bytes == old_bytes) return true;
  // One replacement for all the keys: never some of them written and not the rest.
  switch (Replace(target, new_bytes, exists)) {
    case ReplaceOutcome::kReplaced: return true;
    case ReplaceOutcome::kFolderRefused: return exists && RewriteInPlace(target, new_bytes);
    case ReplaceOutcome::kFailed: break;
  }
  return false;
}

}  // namespace korval::platform
