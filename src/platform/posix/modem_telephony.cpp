#include "platform/posix/modem_telephony.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/posix/modem_termios.h"
#include "platform/posix/posix_error_text.h"
#include "platform/posix/posix_profile_store.h"

namespace korval::platform::posix {
namespace {

using hayes::AddressStatesOf;
using hayes::FillAddressCaps;
using hayes::FillAddressStatus;
using hayes::FillDevCaps;
using hayes::FillLineDevStatus;
using hayes::FillTranslateCaps;
using hayes::FillTranslateOutput;
using hayes::FillVarString;
using hayes::kAddrStateInUseOne;
using hayes::kAddrStateInUseZero;
using hayes::kStringFormatBinary;
using hayes::LineStatesOf;
using hayes::TranslateAddress;
using hayes::Translation;

constexpr std::uint32_t kCallSelectAddress = 0x2;
constexpr std::uint32_t kPrivilegeNone = 0x1;
constexpr std::int32_t kInvalPointer = LineErrorCode(0x35);

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool IsDataModemClass(const std::string& device_class) {
  const std::string expected = kDataModemClass;
  return device_class.size() == expected.size() &&
         std::equal(device_class.begin(), device_class.end(), expected.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

void PostEvent(WindowSystem& windows, const std::shared_ptr<ModemTelephony::LineToken>& token,
               std::uint32_t device, std::uint32_t message, std::uintptr_t param1,
               std::uintptr_t param2, std::uintptr_t param3) {
  windows.Post([token, device, message, param1, param2, param3] {
    // A line closed (or a telephony shut down) since the event was posted hears no more.
    if (!token->open.load() || !token->app->alive.load()) return;
    token->app->callback(device, message, token->instance, param1, param2, param3);
  });
}

std::string Describe(const ModemLineConfig& config) {
  return config.section + " (" + config.port + ")";
}

// Dialling commands end at the first control character; ';' would leave the modem
// in command mode after dialling, which is no data call.
bool IsDialable(const std::string& dial) {
  if (dial.empty()) return false;
  return std::none_of(dial.begin(), dial.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == ';' || c == 0x7F;
  });
}

}  // namespace

std::vector<ModemLineConfig> ReadModemLines(ProfileStore& profiles, Diagnostics& diagnostics) {
  std::vector<ModemLineConfig> lines;
  for (std::uint32_t index = 0;; ++index) {
    ModemLineConfig config;
    config.section = "MODEM" + std::to_string(index);
    config.port = Trim(profiles.ReadSystem(config.section, "Port", 260));
    if (config.port.empty()) break;
    const std::string speed = Trim(profiles.ReadSystem(config.section, "Vitesse", 32));
    if (!speed.empty()) {
      const bool digits = speed.size() <= 9 && std::all_of(speed.begin(), speed.end(), [](char c) {
                            return c >= '0' && c <= '9';
                          });
      const std::uint32_t bps = digits ? static_cast<std::uint32_t>(std::stoul(speed)) : 0;
      if (SpeedFromBps(bps)) {
        config.bps = bps;
      } else {
        diagnostics.Warn(config.section + " : vitesse \xAB " + speed +
                         " \xBB non reconnue, 9600 bits/s retenus.");
      }
    }
    const std::string init = Trim(profiles.ReadSystem(config.section, "Init", 256));
    if (!init.empty()) config.init = init;
    lines.push_back(std::move(config));
  }
  return lines;
}

ModemTelephony::ModemTelephony(ProfileStore& profiles, WindowSystem& windows,
                               Diagnostics& diagnostics, ModemPorts& ports, ModemOptions options)
    : profiles_(profiles),
      windows_(windows),
      diagnostics_(diagnostics),
      ports_(ports),
      options_(std::move(options)) {
  ports_.SetDialTimeout(options_.timings.dial_timeout_ms / 1000);
}

ModemTelephony::~ModemTelephony() {
  std::vector<Detached> closing;
  {
    std::lock_guard lock(mutex_);
    while (!lines_.empty()) closing.push_back(DetachLine(lines_.begin()));
    if (app_) app_->alive = false;
    app_.reset();
    ReleaseHeld();
  }
  for (Detached& detached : closing) FinishDetached(detached);
}

ModemTelephony::Detached ModemTelephony::DetachLine(std::map<std::uint32_t, Line>::iterator line) {
  Detached detached;
  detached.port = line->second.port;
  line->second.token->open = false;
  for (auto call = calls_.begin(); call != calls_.end();) {
    if (call->second.line == line->first) {
      detached.calls.push_back(std::move(call->second.modem));
      call = calls_.erase(call);
    } else {
      ++call;
    }
  }
  lines_.erase(line);
  return detached;
}

void ModemTelephony::FinishDetached(Detached& detached) {
  // Handles first, so that the program's reads no longer take the modem's answers
  // to the hang-up.
  ports_.Forget(detached.port.get());
  detached.calls.clear();
  detached.port->Release();
  detached.port.reset();
}

std::shared_ptr<ModemDevice> ModemTelephony::OpenPortOf(std::uint32_t device) const {
  for (const auto& [handle, line] : lines_) {
    if (line.device == device) return line.port;
  }
  return nullptr;
}

std::string ModemTelephony::OpenFailureText(const ModemLineConfig& config,
                                            const PortOpenResult& result, std::int32_t* code) {
  const std::string modem = "Le modem " + Describe(config);
  switch (result.status) {
    case PortOpenStatus::kBusy:
      *code = kLineErrResourceUnavail;
      return modem + " est d\xE9j\xE0 utilis\xE9 par un autre programme" +
             (result.holder > 0 ? " (processus " + std::to_string(result.holder) + ")."
                                : std::string("."));
    case PortOpenStatus::kMissing:
      *code = kLineErrNoDevice;
      return modem + " est introuvable : le port n'existe pas.";
    case PortOpenStatus::kNotSerial:
      *code = kLineErrNoDevice;
      return modem + " est inutilisable : ce n'est pas un port s\xE9rie.";
    case PortOpenStatus::kDenied:
      *code = kLineErrResourceUnavail;
      return modem +
             " est inaccessible : droits insuffisants sur le port "
             "(groupe dialout par exemple).";
    default:
      *code = kLineErrOperationFailed;
      return modem + " ne peut pas \xEAtre ouvert : " + SystemErrorText(result.error) + ".";
  }
}

std::int32_t ModemTelephony::OpenFailure(const ModemLineConfig& config,
                                         const PortOpenResult& result) {
  std::int32_t code = kLineErrOperationFailed;
  diagnostics_.Warn(OpenFailureText(config, result, &code));
  return code;
}

bool ModemTelephony::TakeFirstFreeModem(std::vector<ModemLineConfig> configured) {
  devices_.clear();
  if (configured.empty()) return true;  // no line: the application finds no device
  std::vector<std::string> reasons;
  bool any_busy = false;
  for (ModemLineConfig& config : configured) {
    PortOpenResult result;
    std::shared_ptr<ModemDevice> port =
        ModemDevice::Open(config.port, options_.lock_folders, &result);
    if (port) {
      held_ = std::move(port);
      devices_.push_back(std::move(config));
      return true;
    }
    std::int32_t code = 0;
    any_busy |= result.status == PortOpenStatus::kBusy;
    reasons.push_back(OpenFailureText(config, result, &code));
  }
  // Told only when no modem is left: a busy first modem is no fault while another
  // one carries the job.
  for (const std::string& reason : reasons) diagnostics_.Warn(reason);
  // A modem that does not exist or cannot be used is no busy one: "libre" would send
  // the user looking for another program.
  const char* kind = any_busy ? "libre" : "utilisable";
  diagnostics_.Warn(configured.size() == 1
                        ? std::string("Aucun modem ") + kind + " : l'\351change n'est pas lanc\xE9."
                        : std::string("Aucun modem ") + kind + " : les " +
                              std::to_string(configured.size()) +
                              " modems de win.ini sont pris ou inutilisables, l'\351change "
                              "n'est pas lanc\xE9.");
  return false;
}

void ModemTelephony::ReleaseHeld() {
  if (!held_) return;
  held_->Release();
  held_.reset();
}

std::shared_ptr<ModemDevice> ModemTelephony::HeldPortOf(std::uint32_t device) const {
  if (std::shared_ptr<ModemDevice> port = OpenPortOf(device)) return port;
  return device == 0 ? held_ : nullptr;
}

LineActivity ModemTelephony::ActivityOf(std::uint32_t line) const {
  LineActivity activity;
  activity.open = true;
  for (const auto& [handle, call] : calls_) {
    if (call.line != line) continue;
    const std::uint32_t state = call.modem->state();
    activity.call_in_use = state != kCallStateIdle;
    activity.call_active =
        !call.modem->finished() && state != kCallStateIdle && state != kCallStateDisconnected;
  }
  return activity;
}

void ModemTelephony::PostAddressState(const Line& line, std::uint32_t handle, std::uint32_t state) {
  if (line.address_states & state) {
    PostEvent(windows_, line.token, handle, kLineAddressState, 0, state, 0);
  }
}

std::int32_t ModemTelephony::lineInitialize(std::uint32_t* app, InstanceHandle,
                                            LineCallback callback, const std::string&,
                                            std::uint32_t* device_count) {
  if (app == nullptr || device_count == nullptr || !callback) return kInvalPointer;
  std::lock_guard lock(mutex_);
  // One application at a time: the program initialises once per run.
  if (app_) return kLineErrOperationFailed;
  if (!TakeFirstFreeModem(ReadModemLines(profiles_, diagnostics_))) {
    return kLineErrResourceUnavail;
  }
  if (devices_.empty()) {
    // Said before the start-up's own message, which names no cause.
    const std::string missing = PosixProfileStore::MissingSystemProfile();
    diagnostics_.Warn(!missing.empty()
                          ? missing
                          : "Aucun modem : win.ini (" + PosixProfileStore::SystemProfilePath() +
                                ") n'a pas de section [MODEM0] avec sa cl\xE9 Port.");
  }
  app_ = std::make_shared<Delivery>();
  app_->callback = std::move(callback);
  app_handle_ = next_app_++;
  *app = app_handle_;
  *device_count = static_cast<std::uint32_t>(devices_.size());
  return 0;
}

std::int32_t ModemTelephony::lineShutdown(std::uint32_t app) {
  std::vector<Detached> closing;
  {
    std::lock_guard lock(mutex_);
    if (!AppValid(app)) return kLineErrInvalAppHandle;
    while (!lines_.empty()) closing.push_back(DetachLine(lines_.begin()));
    app_->alive = false;
    app_.reset();
    ReleaseHeld();
  }
  for (Detached& detached : closing) FinishDetached(detached);
  return 0;
}

std::int32_t ModemTelephony::lineNegotiateAPIVersion(std::uint32_t app, std::uint32_t device,
                                                     std::uint32_t low, std::uint32_t high,
                                                     std::uint32_t* version) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return kLineErrInvalAppHandle;
  if (device >= devices_.size()) return kLineErrBadDeviceId;
  if (low > kApiVersion14 || high < kApiVersion14) return kLineErrIncompatibleApiVersion;
  if (version == nullptr) return kInvalPointer;
  *version = kApiVersion14;
  return 0;
}

std::int32_t ModemTelephony::lineGetDevCaps(std::uint32_t app, std::uint32_t device,
                                            std::uint32_t version, std::uint32_t ext_version,
                                            Record& caps) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return kLineErrInvalAppHandle;
  if (device >= devices_.size()) return kLineErrBadDeviceId;
  if (version != kApiVersion14) return kLineErrIncompatibleApiVersion;
  if (ext_version != 0) return kLineErrIncompatibleExtVersion;
  return FillDevCaps(device, devices_[device], caps);
}

std::int32_t ModemTelephony::lineGetDevConfig(std::uint32_t device, Record& config,
                                              const std::string& device_class) {
  if (!IsDataModemClass(device_class)) return kLineErrInvalDeviceClass;
  std::lock_guard lock(mutex_);
  if (!app_) return kLineErrUninitialized;
  if (device >= devices_.size()) return kLineErrBadDeviceId;
  std::shared_ptr<ModemDevice> port = HeldPortOf(device);
  if (!port) {
    // Taken only for the time of the reading.
    PortOpenResult result;
    port = ModemDevice::Open(devices_[device].port, options_.lock_folders, &result);
    if (!port) return OpenFailure(devices_[device], result);
  }
  struct termios settings;
  if (!port->GetSettings(&settings)) return kLineErrOperationFailed;
  return FillVarString(kStringFormatBinary, SaveSettingsBlock(settings), config);
}

std::int32_t ModemTelephony::lineSetDevConfig(std::uint32_t device, const std::string& block,
                                              const std::string& device_class) {
  if (!IsDataModemClass(device_class)) return kLineErrInvalDeviceClass;
  const std::optional<struct termios> settings = LoadSettingsBlock(block);
  if (!settings) return kLineErrInvalParam;
  std::lock_guard lock(mutex_);
  if (!app_) return kLineErrUninitialized;
  if (device >= devices_.size()) return kLineErrBadDeviceId;
  std::shared_ptr<ModemDevice> port = HeldPortOf(device);
  if (!port) {
    PortOpenResult result;
    port = ModemDevice::Open(devices_[device].port, options_.lock_folders, &result);
    if (!port) return OpenFailure(devices_[device], result);
  }
  return port->SetSettings(*settings) ? 0 : kLineErrOperationFailed;
}

std::int32_t ModemTelephony::lineOpen(std::uint32_t app, std::uint32_t device, std::uint32_t* line,
                                      std::uint32_t version, std::uint32_t ext_version,
                                      std::uintptr_t callback_instance, std::uint32_t privileges,
                                      std::uint32_t media_modes) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return kLineErrInvalAppHandle;
  if (device >= devices_.size()) return kLineErrBadDeviceId;
  if (line == nullptr) return kInvalPointer;
  if (version != kApiVersion14) return kLineErrIncompatibleApiVersion;
  if (ext_version != 0) return kLineErrIncompatibleExtVersion;
  const bool watching = privileges == kPrivilegeNone;
  if (!watching &&
      (privileges == 0 || (privileges & ~(kCallPrivilegeMonitor | kCallPrivilegeOwner)) != 0)) {
    return kLineErrInvalPrivSelect;
  }
  if ((privileges & kCallPrivilegeOwner) && media_modes != kMediaModeDataModem) {
    return kLineErrInvalMediaMode;
  }
  const ModemLineConfig& config = devices_[device];
  if (OpenPortOf(device)) {
    diagnostics_.Warn("Le modem " + Describe(config) + " est d\xE9j\xE0 ouvert.");
    return kLineErrResourceUnavail;
  }
  // The modem held since lineInitialize becomes the line's, and is given back with it.
  std::shared_ptr<ModemDevice> port = device == 0 ? std::move(held_) : nullptr;
  if (!port) {
    PortOpenResult result;
    port = ModemDevice::Open(config.port, options_.lock_folders, &result);
    if (!port) return OpenFailure(config, result);
  }

  struct termios settings;
  if (!port->GetSettings(&settings)) return kLineErrOperationFailed;
  MakeModemSettings(settings, *SpeedFromBps(config.bps));
  if (!port->SetSettings(settings)) {
    diagnostics_.Warn("Le modem " + Describe(config) +
                      " refuse les r\xE9glages du port : " + SystemErrorText(errno) + ".");
    port->Release();
    return kLineErrOperationFailed;
  }
  // Ready: where the port has modem lines, DTR and RTS up.
  port->ChangeLines(TIOCM_DTR | TIOCM_RTS, true);

  Line opened;
  opened.device = device;
  opened.port = std::move(port);
  opened.token = std::make_shared<LineToken>();
  opened.token->app = app_;
  opened.token->instance = callback_instance;
  const std::uint32_t handle = next_handle_++;
  lines_.emplace(handle, std::move(opened));
  *line = handle;
  return 0;
}

std::int32_t ModemTelephony::lineClose(std::uint32_t line) {
  Detached detached;
  {
    std::lock_guard lock(mutex_);
    const auto it = lines_.find(line);
    if (it == lines_.end()) return kLineErrInvalLineHandle;
    detached = DetachLine(it);
  }
  FinishDetached(detached);
  return 0;
}

bool ModemTelephony::lineGetIcon(std::uint32_t) { return false; }

std::int32_t ModemTelephony::lineGetAddressCaps(std::uint32_t app, std::uint32_t device,
                                                std::uint32_t address, std::uint32_t version,
                                                std::uint32_t ext_version, Record& caps) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return kLineErrInvalAppHandle;
  if (device >= devices_.size()) return kLineErrBadDeviceId;
  if (address != 0) return kLineErrInvalAddressId;
  if (version != kApiVersion14) return kLineErrIncompatibleApiVersion;
  if (ext_version != 0) return kLineErrIncompatibleExtVersion;
  return FillAddressCaps(device, devices_[device], caps);
}

std::int32_t ModemTelephony::lineGetTranslateCaps(std::uint32_t app, std::uint32_t version,
                                                  Record& caps) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return kLineErrInvalAppHandle;
  if (version != kApiVersion14) return kLineErrIncompatibleApiVersion;
  return FillTranslateCaps(caps);
}

std::int32_t ModemTelephony::lineGetLineDevStatus(std::uint32_t line, Record& status) {
  std::lock_guard lock(mutex_);
  if (lines_.count(line) == 0) return kLineErrInvalLineHandle;
  return FillLineDevStatus(ActivityOf(line), status);
}

std::int32_t ModemTelephony::lineGetAddressStatus(std::uint32_t line, std::uint32_t address,
                                                  Record& status) {
  std::lock_guard lock(mutex_);
  if (lines_.count(line) == 0) return kLineErrInvalLineHandle;
  if (address != 0) return kLineErrInvalAddressId;
  return FillAddressStatus(ActivityOf(line), status);
}

std::int32_t ModemTelephony::lineSetStatusMessages(std::uint32_t line, std::uint32_t line_states,
                                                   std::uint32_t address_states) {
  std::lock_guard lock(mutex_);
  const auto it = lines_.find(line);
  if (it == lines_.end()) return kLineErrInvalLineHandle;
  if (line_states & ~LineStatesOf()) return kLineErrInvalLineState;
  if (address_states & ~AddressStatesOf()) return kLineErrInvalAddressState;
  it->second.line_states = line_states;
  it->second.address_states = address_states;
  return 0;
}

std::int32_t ModemTelephony::lineGetID(std::uint32_t line, std::uint32_t address,
                                       std::uint32_t call, std::uint32_t select, Record& id,
                                       const std::string& device_class) {
  if (!IsDataModemClass(device_class)) return kLineErrInvalDeviceClass;
  std::lock_guard lock(mutex_);
  std::uint32_t line_handle = line;
  if (select == kCallSelectCall) {
    const auto it = calls_.find(call);
    if (it == calls_.end()) return kLineErrInvalCallHandle;
    line_handle = it->second.line;
  } else if (select != kCallSelectLine && select != kCallSelectAddress) {
    return kLineErrInvalCallSelect;
  }
  const auto it = lines_.find(line_handle);
  if (it == lines_.end()) return kLineErrInvalLineHandle;
  if (select == kCallSelectAddress && address != 0) return kLineErrInvalAddressId;

  const std::string& name = it->second.port->path();
  std::string answer(4 + name.size() + 1, '\0');
  const std::uint32_t room = std::min(id.TotalSize(), id.size());
  // A handle is made only when the answer fits: a record too small is asked again.
  if (room >= kVarStringSize + answer.size()) {
    const auto handle = static_cast<std::uint32_t>(ports_.Open(it->second.port));
    std::memcpy(answer.data(), &handle, 4);
    std::memcpy(answer.data() + 4, name.data(), name.size());
  }
  return FillVarString(kStringFormatBinary, std::move(answer), id);
}

std::int32_t ModemTelephony::lineTranslateAddress(std::uint32_t app, std::uint32_t device,
                                                  std::uint32_t version,
                                                  const std::string& canonical, std::uint32_t,
                                                  std::uint32_t, Record& output) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return kLineErrInvalAppHandle;
  if (device >= devices_.size()) return kLineErrBadDeviceId;
  if (version != kApiVersion14) return kLineErrIncompatibleApiVersion;
  const std::optional<Translation> translation = TranslateAddress(canonical);
  if (!translation) return kLineErrInvalAddress;
  return FillTranslateOutput(*translation, output);
}

std::int32_t ModemTelephony::lineMakeCall(std::uint32_t line, std::uint32_t* call,
                                          const std::string& dial_string, std::uint32_t,
                                          const Record& call_params) {
  std::unique_ptr<ModemCall> replaced;
  std::lock_guard lock(mutex_);
  const auto it = lines_.find(line);
  if (it == lines_.end()) return kLineErrInvalLineHandle;
  if (call == nullptr) return kInvalPointer;
  if (call_params.size() > field::kCallMediaMode) {
    const std::uint32_t media = call_params.Get32(field::kCallMediaMode);
    if (media != 0 && media != kMediaModeDataModem) return kLineErrInvalMediaMode;
  }
  if (!IsDialable(dial_string)) return kLineErrInvalAddress;
  for (auto existing = calls_.begin(); existing != calls_.end(); ++existing) {
    if (existing->second.line != line) continue;
    if (!existing->second.modem->finished()) return kLineErrCallUnavail;
    // The modem carries one call: a finished one that was never released gives way.
    replaced = std::move(existing->second.modem);
    calls_.erase(existing);
    break;
  }

  Line& owner = it->second;
  const std::uint32_t handle = next_handle_++;
  const std::int32_t request = next_request_;
  next_request_ = next_request_ == 0x7FFFFFFF ? 1 : next_request_ + 1;
  const ModemLineConfig& config = devices_[owner.device];

  CallReports reports;
  WindowSystem& windows = windows_;
  const std::shared_ptr<LineToken> token = owner.token;
  reports.accepted = [&windows, token, request] {
    PostEvent(windows, token, 0, kLineReply, static_cast<std::uintptr_t>(request), 0, 0);
  };
  const auto first = std::make_shared<std::atomic<bool>>(true);
  reports.state = [&windows, token, handle, first](std::uint32_t state, std::uint32_t mode) {
    // The first event tells the program that it owns the call.
    const std::uintptr_t privilege = first->exchange(false) ? kCallPrivilegeOwner : 0;
    PostEvent(windows, token, handle, kLineCallState, state, mode, privilege);
  };
  Diagnostics& diagnostics = diagnostics_;
  reports.warn = [&diagnostics](const std::string& text) { diagnostics.Warn(text); };

  auto modem = std::make_unique<ModemCall>(owner.port, config.init, dial_string, options_.timings,
                                           std::move(reports));
  if (!modem->Start()) return kLineErrResourceUnavail;
  calls_.emplace(handle, Call{line, std::move(modem)});
  PostAddressState(owner, line, kAddrStateInUseOne);
  *call = handle;
  return request;
}

std::int32_t ModemTelephony::lineDeallocateCall(std::uint32_t call) {
  std::unique_ptr<ModemCall> released;
  std::lock_guard lock(mutex_);
  const auto it = calls_.find(call);
  if (it == calls_.end()) return kLineErrInvalCallHandle;
  // Only a call that has gone idle may be released by its owner.
  if (it->second.modem->state() != kCallStateIdle) return kLineErrInvalCallState;
  released = std::move(it->second.modem);
  const std::uint32_t line = it->second.line;
  calls_.erase(it);
  if (const auto owner = lines_.find(line); owner != lines_.end()) {
    PostAddressState(owner->second, line, kAddrStateInUseZero);
  }
  return 0;
}

std::int32_t ModemTelephony::lineDrop(std::uint32_t call, const std::string&) {
  std::lock_guard lock(mutex_);
  const auto it = calls_.find(call);
  if (it == calls_.end()) return kLineErrInvalCallHandle;
  if (it->second.modem->state() == kCallStateIdle) return kLineErrInvalCallState;
  it->second.modem->Drop();
  return 0;
}

}  // namespace korval::platform::posix
