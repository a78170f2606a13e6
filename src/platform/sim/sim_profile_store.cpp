#include "platform/sim/sim_profile_store.h"

#include "platform/profile_text.h"

namespace korval::platform::sim {

std::string SimProfileStore::ReadPrivate(const std::string& file, const std::string& section,
                                         const std::string& key, std::size_t capacity) {
  if (files_.ReadProblem(file) == OpenProblem::kAccessDenied) return {};
  const std::optional<std::string> bytes = files_.Get(file);
  return bytes ? ReadProfileValue(*bytes, section, key, capacity) : std::string();
}

bool SimProfileStore::WritePrivate(const std::string& file, const std::string& section,
                                   const std::string& key,
                                   const std::optional<std::string>& value) {
  return WritePrivateEntries(file, section, {ProfileEntry{key, value}});
}

bool SimProfileStore::WritePrivateEntries(const std::string& file, const std::string& section,
                                          const std::vector<ProfileEntry>& entries) {
  // A file that cannot be read cannot be rewritten either.
  if (files_.WritesFail(file) || files_.ReadProblem(file) == OpenProblem::kAccessDenied) {
    return false;
  }
  const std::optional<std::string> bytes = files_.Get(file);
  std::string updated = bytes.value_or(std::string());
  for (const ProfileEntry& entry : entries) {
    updated = WriteProfileValue(updated, section, entry.key, entry.value);
  }
  // Nothing to change: a missing file stays missing.
  if (updated == bytes.value_or(std::string())) return true;
  files_.Put(file, std::move(updated));
  ++writes_;
  return true;
}

std::string SimProfileStore::ReadSystem(const std::string& section, const std::string& key,
                                        std::size_t capacity) {
  return ReadPrivate(kSimWinIni, section, key, capacity);
}

}  // namespace korval::platform::sim
