#pragma once
// The telephony line devices of a Linux machine: Hayes-compatible modems on serial
// ports, one per win.ini section MODEM0, MODEM1, ... (keys Port, Vitesse, Init).
// lineInitialize takes the first of them that no other process holds and keeps it
// until lineShutdown: that modem is the one line device the application sees, so
// jobs started together spread over the modems, and a job that finds them all taken
// fails before it starts.
// Each line has one address and carries one outgoing data call at a time, run by a
// ModemCall; line events reach the callback through WindowSystem::Post, so they run
// on the main thread inside PumpMessage.
//
// Threads: every operation may be called from any thread (the program's read thread
// asks for port handles); the callback runs only on the main thread.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/hayes/modem_records.h"
#include "platform/posix/modem_call.h"
#include "platform/posix/modem_device.h"
#include "platform/posix/modem_port.h"
#include "platform/profile_store.h"
#include "platform/telephony.h"
#include "platform/window_system.h"

namespace korval::platform::posix {

// The records of a modem line are the same on every back-end.
using hayes::LineActivity;
using hayes::ModemLineConfig;

struct ModemOptions {
  ModemTimings timings;
  std::vector<std::string> lock_folders = DefaultLockFolders();
};

// The line devices that win.ini describes, in order up to the first section
// without a Port.
std::vector<ModemLineConfig> ReadModemLines(ProfileStore& profiles, Diagnostics& diagnostics);

class ModemTelephony final : public Telephony {
 public:
  ModemTelephony(ProfileStore& profiles, WindowSystem& windows, Diagnostics& diagnostics,
                 ModemPorts& ports, ModemOptions options = {});
  ~ModemTelephony() override;
  ModemTelephony(const ModemTelephony&) = delete;
  ModemTelephony& operator=(const ModemTelephony&) = delete;

  std::int32_t lineInitialize(std::uint32_t* app, InstanceHandle instance, LineCallback callback,
                              const std::string& app_name, std::uint32_t* device_count) override;
  std::int32_t lineShutdown(std::uint32_t app) override;
  std::int32_t lineNegotiateAPIVersion(std::uint32_t app, std::uint32_t device, std::uint32_t low,
                                       std::uint32_t high, std::uint32_t* version) override;
  std::int32_t lineGetDevCaps(std::uint32_t app, std::uint32_t device, std::uint32_t version,
                              std::uint32_t ext_version, Record& caps) override;
  std::int32_t lineGetDevConfig(std::uint32_t device, Record& config,
                                const std::string& device_class) override;
  std::int32_t lineSetDevConfig(std::uint32_t device, const std::string& block,
                                const std::string& device_class) override;
  std::int32_t lineOpen(std::uint32_t app, std::uint32_t device, std::uint32_t* line,
                        std::uint32_t version, std::uint32_t ext_version,
                        std::uintptr_t callback_instance, std::uint32_t privileges,
                        std::uint32_t media_modes) override;
  std::int32_t lineClose(std::uint32_t line) override;
  bool lineGetIcon(std::uint32_t device) override;
  std::int32_t lineGetAddressCaps(std::uint32_t app, std::uint32_t device, std::uint32_t address,
                                  std::uint32_t version, std::uint32_t ext_version,
                                  Record& caps) override;
  std::int32_t lineGetTranslateCaps(std::uint32_t app, std::uint32_t version,
                                    Record& caps) override;
  std::int32_t lineGetLineDevStatus(std::uint32_t line, Record& status) override;
  std::int32_t lineGetAddressStatus(std::uint32_t line, std::uint32_t address,
                                    Record& status) override;
  std::int32_t lineSetStatusMessages(std::uint32_t line, std::uint32_t line_states,
                                     std::uint32_t address_states) override;
  std::int32_t lineGetID(std::uint32_t line, std::uint32_t address, std::uint32_t call,
                         std::uint32_t select, Record& id,
                         const std::string& device_class) override;
  std::int32_t lineTranslateAddress(std::uint32_t app, std::uint32_t device, std::uint32_t version,
                                    const std::string& canonical, std::uint32_t card,
                                    std::uint32_t options, Record& output) override;
  std::int32_t lineMakeCall(std::uint32_t line, std::uint32_t* call, const std::string& dial_string,
                            std::uint32_t country, const Record& call_params) override;
  std::int32_t lineDeallocateCall(std::uint32_t call) override;
  std::int32_t lineDrop(std::uint32_t call, const std::string& user_data) override;

  // Where line events go, and whether they may still go there.
  struct Delivery {
    LineCallback callback;
    std::atomic<bool> alive{true};
  };
  // Why the port could not be taken, and the telephony error that says it.
  static std::string OpenFailureText(const ModemLineConfig& config, const PortOpenResult& result,
                                     std::int32_t* code);

  struct LineToken {
    std::shared_ptr<Delivery> app;
    std::uintptr_t instance = 0;
    std::atomic<bool> open{true};
  };

 private:
  struct Line {
    std::uint32_t device = 0;
    std::shared_ptr<ModemDevice> port;
    std::shared_ptr<LineToken> token;
    std::uint32_t line_states = 0;  // enabled by lineSetStatusMessages
    std::uint32_t address_states = 0;
  };
  struct Call {
    std::uint32_t line = 0;
    std::unique_ptr<ModemCall> modem;
  };
  // What a closing line leaves to finish outside the lock: hanging up may take seconds.
  struct Detached {
    std::shared_ptr<ModemDevice> port;
    std::vector<std::unique_ptr<ModemCall>> calls;
  };

  bool AppValid(std::uint32_t app) const { return app_ != nullptr && app == app_handle_; }
  Detached DetachLine(std::map<std::uint32_t, Line>::iterator line);
  void FinishDetached(Detached& detached);
  std::shared_ptr<ModemDevice> OpenPortOf(std::uint32_t device) const;
  // The line's port, else the modem held since lineInitialize, else null.
  std::shared_ptr<ModemDevice> HeldPortOf(std::uint32_t device) const;
  std::int32_t OpenFailure(const ModemLineConfig& config, const PortOpenResult& result);
  // The first modem no other process holds, into devices_ and held_; false with the
  // reasons told when there is none.
  bool TakeFirstFreeModem(std::vector<ModemLineConfig> configured);
  void ReleaseHeld();
  LineActivity ActivityOf(std::uint32_t line) const;
  void PostAddressState(const Line& line, std::uint32_t handle, std::uint32_t state);

  ProfileStore& profiles_;
  WindowSystem& windows_;
  Diagnostics& diagnostics_;
  ModemPorts& ports_;
  const ModemOptions options_;

  mutable std::mutex mutex_;
  std::shared_ptr<Delivery> app_;         // guarded by mutex_; null before lineInitialize
  std::uint32_t app_handle_ = 0;          // guarded by mutex_
  std::uint32_t next_app_ = 1;            // guarded by mutex_
  std::vector<ModemLineConfig> devices_;  // guarded by mutex_
  // The modem taken at lineInitialize until its line opens; guarded by mutex_.
  std::shared_ptr<ModemDevice> held_;
  std::map<std::uint32_t, Line> lines_;  // guarded by mutex_
  std::map<std::uint32_t, Call> calls_;  // guarded by mutex_
  std::uint32_t next_handle_ = 0x10001;  // guarded by mutex_; lines and calls alike
  std::int32_t next_request_ = 1;        // guarded by mutex_
};

}  // namespace korval::platform::posix
