#pragma once
// The whole simulated platform of one test: a fresh world each time.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_file_system.h"
#include "platform/sim/sim_profile_store.h"
#include "platform/sim/sim_serial.h"
#include "platform/sim/sim_telephony.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/sim_window_system.h"
#include "platform/sim/sim_world.h"

namespace korval::platform::sim {

class SimDiagnostics final : public Diagnostics {
 public:
  void DebugOutput(const std::string& text) override {
    std::lock_guard lock(mutex_);
    debug_.push_back(text);
  }
  void Warn(const std::string& text) override {
    std::lock_guard lock(mutex_);
    warnings_.push_back(text);
  }
  std::vector<std::string> Debug() const {
    std::lock_guard lock(mutex_);
    return debug_;
  }
  std::vector<std::string> Warnings() const {
    std::lock_guard lock(mutex_);
    return warnings_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> debug_;
  std::vector<std::string> warnings_;
};

class SimVersion final : public VersionQuery {
 public:
  std::optional<std::uint32_t> PlatformId() override { return platform_id; }
  std::optional<std::uint32_t> platform_id = kPlatformWin32Nt;
  std::optional<std::string> SystemName() override { return system_name; }
  std::optional<std::string> system_name;
};

// One default data-modem line device is ready (its calls connect after 3 s); tests
// change it with telephony.ModifyDevice or replace it with telephony.SetDevices.
struct SimPlatform {
  explicit SimPlatform(std::uint32_t start_tick = 1000) : world(start_tick) {
    telephony.AddDevice(SimLineDevice{});
  }

  SimWorld world;
  SimWindowSystem windows{world};
  SimFileSystem files;
  SimProfileStore profiles{files};
  SimThreads threads{world};
  SimDiagnostics diagnostics;
  SimVersion version;
  SimSerialPorts serial{world, windows};
  SimTelephony telephony{world, windows, serial};
  Platform platform{world,       windows, profiles,  files, threads,
                    diagnostics, version, telephony, serial};
};

}  // namespace korval::platform::sim
