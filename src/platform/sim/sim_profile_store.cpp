#include "platform/sim/sim_profile_store.h"

#include "platform/profile_text.h"

namespace korval::platform::sim {

std::string SimProfileStore::ReadPrivate(const std::string& file, const std::string& section,
                                         const std::string& key, std::size_t capacity) {
  const std::optional<std::string> bytes = files_.Get(file);
  return bytes ? ReadProfileValue(*bytes, section, key, capacity) : std::string();
}

bool SimProfileStore::WritePrivate(const std::string& file, const std::string& section,
                                   const std::string& key,
                                   const std::optional<std::string>& value) {
  if (files_.WritesFail(file)) return false;
  const std::optional<std::string> bytes = files_.Get(file);
  if (!bytes && !value) return true;  // nothing to remove from a missing file
  std::string updated = WriteProfileValue(bytes.value_or(std::string()), section, key, value);
  if (bytes && updated == *bytes) return true;
  files_.Put(file, std::move(updated));
  ++writes_;
  return true;
}

std::string SimProfileStore::ReadSystem(const std::string& section, const std::string& key,
                                        std::size_t capacity) {
  return ReadPrivate(kSimWinIni, section, key, capacity);
}

}  // namespace korval::platform::sim
