#pragma once
#include <string>

#include "platform/profile_store.h"
#include "platform/sim/sim_file_system.h"

namespace korval::platform::sim {

inline constexpr const char* kSimWinIni = "C:\\WINDOWS\\WIN.INI";

// Profile files held in the simulated file system, with the same text semantics as
// the real back-ends.
class SimProfileStore final : public ProfileStore {
 public:
  explicit SimProfileStore(SimFileSystem& files) : files_(files) {}

  std::string ReadPrivate(const std::string& file, const std::string& section,
                          const std::string& key, std::size_t capacity) override;
  bool WritePrivate(const std::string& file, const std::string& section, const std::string& key,
                    const std::optional<std::string>& value) override;
  bool WritePrivateEntries(const std::string& file, const std::string& section,
                           const std::vector<ProfileEntry>& entries) override;
  std::string ReadSystem(const std::string& section, const std::string& key,
                         std::size_t capacity) override;

  std::string LastProblemText() override { return files_.LastProblemText(); }

  int WriteCount() const { return writes_; }

 private:
  SimFileSystem& files_;
  int writes_ = 0;
};

}  // namespace korval::platform::sim
