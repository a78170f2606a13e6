#pragma once
// A simulated telephony provider for tests: line devices scripted by plain structs,
// calls that progress by timed scripts on the virtual clock, line events posted to
// the main thread's queue, and a record of every call made into it.
//
// Threads: everything runs on the main thread except lineGetID, which the program's
// read thread calls too; all state sits under one mutex. The line callback is always
// invoked from inside WindowSystem::PumpMessage, with no sim lock held.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim_serial.h"
#include "platform/sim/sim_world.h"
#include "platform/telephony.h"
#include "platform/telephony_errors.h"
#include "platform/window_system.h"

namespace korval::platform::sim {

// One address of a line device.
struct SimAddress {
  std::uint32_t call_features = kCallFeatureAnswer;
  std::uint32_t address_features = kAddrFeatureMakeCall;
  std::uint32_t address_states = 0x1F;
};

// Bytes each record needs beyond its fixed part, so that the first read of a growing
// read comes back asking for more. The VARSTRING answers (device configuration, port
// handle) always need more than their 24-byte fixed part.
struct SimRecordExtra {
  std::uint32_t dev_caps = 120;
  std::uint32_t address_caps = 24;
  std::uint32_t translate_caps = 300;
  std::uint32_t line_dev_status = 8;
  std::uint32_t address_status = 8;
};

// A failure of one function: after `skip` calls that succeed, `times` calls fail with
// `code`, then calls succeed again. Calls are counted per device and function (the
// sized second call of a growing read counts too).
struct SimFault {
  std::int32_t code = 0;  // 0: no fault
  unsigned skip = 0;
  unsigned times = ~0u;
};

struct SimLineFaults {
  SimFault negotiate;            // lineNegotiateAPIVersion
  SimFault get_dev_caps;         // lineGetDevCaps
  SimFault get_dev_config;       // lineGetDevConfig
  SimFault line_open;            // lineOpen
  SimFault get_address_caps;     // lineGetAddressCaps
  SimFault get_translate_caps;   // lineGetTranslateCaps (the last opened line's device)
  SimFault get_line_dev_status;  // lineGetLineDevStatus
  SimFault get_address_status;   // lineGetAddressStatus
  SimFault get_id_line;          // lineGetID with LINECALLSELECT_LINE
  SimFault get_id_call;          // lineGetID with LINECALLSELECT_CALL
  SimFault translate_address;    // lineTranslateAddress
  SimFault make_call;            // lineMakeCall (refused at once)
};

// One timed happening of a call, posted as a line event.
struct SimCallEvent {
  std::uint64_t at_ms = 0;  // after lineMakeCall
  std::uint32_t message = kLineCallState;
  std::uintptr_t param1 = 0;
  std::uintptr_t param2 = 0;
  std::uintptr_t param3 = 0;
  bool other_call = false;  // about another (incoming) call with a handle of its own
};
using SimCallScript = std::vector<SimCallEvent>;

// Event builders. LINE_CALLSTATE carries the call's handle as `device`; LINE_REPLY
// has device 0 and param1 the request id (0 here stands for lineMakeCall's); the
// line events carry the line handle.
SimCallEvent CallStateEvent(std::uint64_t at_ms, std::uint32_t state, std::uint32_t mode = 0,
                            std::uint32_t privilege = kCallPrivilegeOwner);
SimCallEvent ReplyEvent(std::uint64_t at_ms, std::int32_t result);
SimCallEvent LineDevStateEvent(std::uint64_t at_ms, std::uint32_t state);
SimCallEvent LineCloseEvent(std::uint64_t at_ms);
SimCallEvent AddressStateEvent(std::uint64_t at_ms, std::uint32_t address, std::uint32_t state);

// Ready-made scripts; every one starts with LINE_REPLY(success) at 10 ms except
// FailedReplyCall and IncomingCall.
// DIALTONE (optional), DIALING, PROCEEDING, then CONNECTED at connect_at_ms.
SimCallScript ConnectingCall(std::uint64_t connect_at_ms = 3000, bool dial_tone = true);
// The LINECALLSTATE_BUSY state at at_ms.
SimCallScript BusyCall(std::uint64_t at_ms = 2000);
// DIALING, then DISCONNECTED with `mode` (kDisconnectBusy, NoAnswer, ...) at at_ms.
SimCallScript DisconnectedCall(std::uint32_t mode, std::uint64_t at_ms = 2000);
// The request is accepted, then LINE_REPLY brings `code`; the call never existed.
SimCallScript FailedReplyCall(std::int32_t code = kLineErrCallUnavail, std::uint64_t at_ms = 50);
// DIALING, then LINE_LINEDEVSTATE(OUTOFSERVICE) at at_ms.
SimCallScript OutOfServiceLine(std::uint64_t at_ms = 1000);
// ConnectingCall, then DISCONNECTED(NORMAL) hang_up_after_ms after the connection.
// IDLE follows only when the program drops the call.
SimCallScript FarEndHangsUp(std::uint64_t hang_up_after_ms, std::uint64_t connect_at_ms = 3000);
// OFFERING of another call at at_ms, never answered; the outgoing call stays silent.
SimCallScript IncomingCall(std::uint64_t at_ms);
// a's events then b's (times are each script's own).
SimCallScript Combine(SimCallScript a, const SimCallScript& b);

std::string DefaultDevConfig();

struct SimLineDevice {
  std::string name = "Modem standard";
  bool supports_v14 = true;
  std::uint32_t media_modes = kMediaModeDataModem;
  std::vector<SimAddress> addresses = {SimAddress{}};
  std::uint32_t line_states = 0x4068E;
  SimRecordExtra extra;
  std::string dev_config = DefaultDevConfig();  // opaque block of "comm/datamodem"
  bool has_icon = true;
  SimPortSetup port;
  SimCallScript script = ConnectingCall();  // run by every lineMakeCall
  std::optional<std::string> dialable;      // lineTranslateAddress's answer, if set
  bool drop_goes_idle = true;               // false: a dropped call never reports IDLE
  // true: lineMakeCall writes the call's handle only when its request completes, just
  // before LINE_REPLY(success) is delivered, as the API allows.
  bool handle_at_reply = false;
  std::uint64_t drop_disconnect_ms = 2;  // after lineDrop (unless already DISCONNECTED)
  std::uint64_t drop_idle_ms = 5;
  SimLineFaults faults;
};

// One call into the provider. args, by function:
//   lineInitialize {instance}, text = app name       lineShutdown {app}
//   lineNegotiateAPIVersion {app, device, low, high}
//   lineGetDevCaps {app, device, version, ext_version, record size}
//   lineGetDevConfig {device, record size}           lineSetDevConfig {device}, text = block
//   lineOpen {app, device, version, ext_version, callback instance, privileges, media}
//   lineClose {line}                                 lineGetIcon {device}
//   lineGetAddressCaps {app, device, address, version, ext_version, record size}
//   lineGetTranslateCaps {app, version, record size}
//   lineGetLineDevStatus {line, record size}   lineGetAddressStatus {line, address, size}
//   lineSetStatusMessages {line, line states, address states}
//   lineGetID {line, address, call, select, record size, port handle given or 0}
//   lineTranslateAddress {app, device, version, card, options, record size},
//       text = canonical address
//   lineMakeCall {line, country, bearer mode, media mode, call param flags, address
//       mode, address id, params size, call handle given}, text = dial string
//   lineDeallocateCall {call}                        lineDrop {call}, text = user data
// device_class holds the class argument where there is one.
struct TelephonyCall {
  std::string function;
  std::vector<std::uint64_t> args;
  std::string text;
  std::string device_class;
  std::int64_t result;
  std::uint64_t at_ms;
  bool main_thread;
};

// One line event as the program's callback received it.
struct SimLineEvent {
  std::uint32_t device;
  std::uint32_t message;
  std::uintptr_t param1;
  std::uintptr_t param2;
  std::uintptr_t param3;
  std::uint64_t at_ms;
};

class SimTelephony final : public Telephony {
 public:
  SimTelephony(SimWorld& world, WindowSystem& windows, SimSerialPorts& serial);

  // Devices, before the program starts. Each device gets its own port in `serial`,
  // carrier down until a call connects.
  std::size_t AddDevice(const SimLineDevice& device);
  void SetDevices(const std::vector<SimLineDevice>& devices);  // replaces them all
  std::size_t DeviceCount() const;
  // Valid until devices are added or replaced.
  const SimLineDevice& Device(std::size_t index) const;
  // Changes a device, also while the program runs (main thread): change edits a copy
  // that then replaces the device. A changed `port` reconfigures the port (and resets
  // its DCB); a changed dev_config becomes the current configuration.
  void ModifyDevice(std::size_t index, const std::function<void(SimLineDevice&)>& change);
  SimSerialPort& Port(std::size_t device = 0);

  // lineInitialize answers LINEERR_REINIT `reinit_answers` times, then `failure`
  // (0: success).
  void ScriptInitialize(unsigned reinit_answers, std::int32_t failure = 0);

  // The far end hangs up the device's current call now: DISCONNECTED with `mode`.
  void FarEndHangUp(std::size_t device = 0, std::uint32_t mode = kDisconnectNormal);

  std::vector<TelephonyCall> Calls() const;
  std::vector<TelephonyCall> Calls(const std::string& function) const;
  std::vector<std::string> Names() const;
  std::vector<SimLineEvent> Events() const;
  std::size_t DroppedEvents() const;  // posted, but the app had shut down meanwhile
  // The device's last outgoing call while it is allocated (0: none), its state.
  std::uint32_t CurrentCall(std::size_t device = 0) const;
  std::uint32_t CallStateOf(std::uint32_t call) const;  // 0: no such call
  bool LineIsOpen(std::size_t device = 0) const;
  std::string CurrentDevConfig(std::size_t device = 0) const;

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

 private:
  struct DeviceState {
    SimLineDevice config;
    SimSerialPort* port;
    std::string current_config;
    std::map<std::string, unsigned> fault_calls;
    std::uint32_t current_call = 0;
  };
  struct LineState {
    std::size_t device;
    std::uintptr_t instance;
    bool open;
  };
  struct CallState {
    std::size_t device;
    std::uint32_t line;
    std::uint32_t state = 0;
    std::uint64_t epoch = 0;  // bumped to cancel the events still scheduled
    std::uint32_t request = 0;
    std::uint32_t* handle_place = nullptr;  // written at the reply (handle_at_reply)
    bool incoming = false;
    std::uint32_t other = 0;  // the incoming call that this call's script offered
  };
  // Effects to apply once the lock is released.
  struct Effects {
    std::vector<std::pair<SimSerialPort*, bool>> carrier;
  };
  using Lock = std::unique_lock<std::mutex>;

  TelephonyCall Begin(const char* function, std::vector<std::uint64_t> args);
  std::int32_t Finish(TelephonyCall call, std::int32_t result);
  bool AppValid(std::uint32_t app) const;
  DeviceState* FindDevice(std::uint32_t device);
  LineState* FindLine(std::uint32_t line);
  std::int32_t Fault(DeviceState& device, const SimFault& fault, const char* function);
  // The growing-read step: 0 with only dwNeededSize when the record is too small.
  static bool Fits(Record& record, std::uint32_t needed);
  void Schedule(std::uint32_t call, std::uint64_t epoch, std::uint64_t at_ms, SimCallEvent event);
  void Fire(std::uint32_t call, std::uint64_t epoch, SimCallEvent event);
  void Dispatch(SimLineEvent event, std::uint64_t generation, SimSerialPort* connected_port,
                std::uintptr_t instance);
  void EndCall(std::uint32_t call, Effects& effects);
  void Apply(const Effects& effects);

  SimWorld& world_;
  WindowSystem& windows_;
  SimSerialPorts& serial_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // checked by queued actions

  mutable std::mutex mutex_;
  std::vector<DeviceState> devices_;
  std::vector<SimSerialPort*> ports_;  // made for devices; reused by SetDevices
  std::map<std::uint32_t, LineState> lines_;
  std::map<std::uint32_t, CallState> calls_;  // allocated calls only
  bool initialized_ = false;
  std::uint32_t app_ = 0;
  std::uint64_t generation_ = 0;  // bumped at every initialize and shutdown
  LineCallback callback_;
  unsigned reinit_answers_ = 0;
  std::int32_t init_failure_ = 0;
  std::size_t translate_device_ = 0;
  std::uint32_t next_app_ = 0x1001;
  std::uint32_t next_line_ = 0x2001;
  std::uint32_t next_call_ = 0x3001;
  std::uint32_t next_request_ = 1;
  std::vector<TelephonyCall> log_;
  std::vector<SimLineEvent> events_;
  std::size_t dropped_events_ = 0;
};

}  // namespace korval::platform::sim
